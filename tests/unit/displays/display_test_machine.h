#pragma once
// The readiness machine under the accessors the display inventory, DDC and
// desktop tests use.

#include "readiness/readiness_test_machine.h"

namespace lenticor::testing {

class DisplayTestMachine : public ReadinessMachine {
  public:
    using ReadinessMachine::ReadinessMachine;
    Platform& platform() { return ReadinessMachine::platform; }
    CapturingConsole& console() { return ReadinessMachine::console; }
};

}  // namespace lenticor::testing
