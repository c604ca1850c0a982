#pragma once
// What one desktop command reports to the host. The engine fills it; the
// result line prints it.

#include <string>

#include "desktop/desktop_request.h"

namespace nimbo {

struct DesktopResult {
    bool success = false;
    DesktopAction action = DesktopAction::Status;
    std::wstring displayId;
    bool owned = false;
    bool detached = false;
    bool attached = false;
    std::string state = "unknown";     // "on", "off", "unknown"
    std::string presence = "unknown";  // "active", "inactive", "absent", "unknown"
    std::string reason;                // printed only when non-empty
    std::string errorCode;             // printed only when non-empty, with errorMessage
    std::string errorMessage;
    std::string token;  // recovery revision or "absent"; recovery printed only when non-empty
    bool canForget = false;
};

}  // namespace nimbo
