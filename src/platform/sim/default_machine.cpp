#include "platform/sim/sim_machine.h"

namespace lenticor::sim {

const nlohmann::json& DefaultMachineDocument() {
    // default_machine.json: a laptop with its panel as the primary display
    // and a Nimbo on a DisplayPort output to its right, still at 30 Hz as a
    // fresh monitor often comes up; the laptop's own webcam enumerates before
    // the Nimbo's camera, whose serial number the registry resolves. The Nimbo
    // speaks DDC/CI, the laptop panel (an embedded DisplayPort panel) does not.
    static const nlohmann::json document = nlohmann::json::parse(
#include "default_machine.inc"
    );
    return document;
}

}  // namespace lenticor::sim
