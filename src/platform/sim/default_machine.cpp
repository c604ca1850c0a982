#include "platform/sim/sim_machine.h"

namespace lenticor::sim {

const nlohmann::json& DefaultMachineDocument() {
    // A laptop with its panel as the primary display and a Nimbo on a
    // DisplayPort output to its right.
    static const nlohmann::json document = nlohmann::json::parse(R"json({
  "adapters": [
    {
      "description": "Simulated Graphics Adapter",
      "luid": {"low": 51234, "high": 0},
      "outputs": [
        {
          "deviceName": "\\\\.\\DISPLAY1",
          "targetId": 4352,
          "outputTechnology": "displayport_embedded",
          "position": {"x": 0, "y": 0},
          "mode": {"width": 1920, "height": 1080, "refreshRate": 60, "bitsPerPixel": 32},
          "modes": [
            {"width": 1280, "height": 720, "refreshRate": 60},
            {"width": 1920, "height": 1080, "refreshRate": 48},
            {"width": 1920, "height": 1080, "refreshRate": 60}
          ],
          "monitor": {
            "hardwareId": "MONITOR\\LPN0A81\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000",
            "deviceString": "Generic PnP Monitor",
            "instanceId": "4&1f2e3d4c&0&UID4352",
            "edid": {"name": "Laptop Panel"}
          }
        },
        {
          "deviceName": "\\\\.\\DISPLAY2",
          "targetId": 4353,
          "outputTechnology": "displayport",
          "position": {"x": 1920, "y": 0},
          "mode": {"width": 3840, "height": 2160, "refreshRate": 60, "bitsPerPixel": 32},
          "modes": [
            {"width": 1920, "height": 1080, "refreshRate": 60},
            {"width": 2560, "height": 1440, "refreshRate": 60},
            {"width": 3840, "height": 2160, "refreshRate": 30},
            {"width": 3840, "height": 2160, "refreshRate": 60}
          ],
          "monitor": {
            "hardwareId": "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001",
            "deviceString": "Generic PnP Monitor",
            "instanceId": "5&2a3b4c5d&0&UID4353",
            "edid": {"name": "Korvo Nimbo"}
          }
        }
      ]
    }
  ]
})json");
    return document;
}

}  // namespace lenticor::sim
