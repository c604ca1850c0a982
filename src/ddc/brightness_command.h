#pragma once
// --nimbo-display-brightness on the ports: the engine's operations bound to
// the resolved Nimbo, one physical monitor held for the whole command and the
// steady clock.

#include "app/dispatcher.h"
#include "ddc/brightness_engine.h"

namespace nimbo {

class NimboDisplayBrightnessCommand {
  public:
    // Resolves the monitor, runs the engine and writes the result line to
    // the console; exit 0 on success, 1 otherwise.
    [[nodiscard]] static int Execute(lenticor::Platform& platform,
                                     const DisplayBrightnessRequest& request);
};

// The "--nimbo-display-brightness" entry of the command table.
[[nodiscard]] lenticor::Command MakeDisplayBrightnessCommand();

}  // namespace nimbo
