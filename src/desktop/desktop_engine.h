#pragma once
// The --nimbo-desktop decisions: status, detach, restore, forget, reconcile and
// darken as a state machine over the journal, the owned path and its monitor.
// Every effect goes through the operations bundle, so a scripted bundle runs
// exactly the decisions the real one does.

#include "desktop/desktop_operations.h"
#include "desktop/desktop_request.h"
#include "desktop/desktop_result.h"

namespace nimbo {

// Never throws: every failure, including exceptions from the bundle, ends in
// the result with success false, an error code and state "unknown".
[[nodiscard]] DesktopResult RunDesktopEngine(const DesktopRequest& request,
                                             const DesktopOperations& operations);

}  // namespace nimbo
