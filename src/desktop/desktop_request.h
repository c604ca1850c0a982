#pragma once
// One parsed --nimbo-desktop command line. The parser fills it; the engine
// reads the action, the display ID and the recovery token.

#include <string>

namespace nimbo {

// Stored as the integer the host protocol uses; an out-of-range value is
// possible and is reported as status.
enum class DesktopAction : int {
    Status = 0,
    Detach = 1,
    Restore = 2,
    Forget = 3,
    Reconcile = 4,
    Darken = 5,
};

struct DesktopRequest {
    DesktopAction action = DesktopAction::Status;
    std::wstring displayId;     // --display-id, empty when not given
    std::wstring stateFile;     // --state-file
    std::string recoveryToken;  // --recovery-token as UTF-8, empty when not given
};

}  // namespace nimbo
