#include "app/result_line.h"
#include "app/text.h"
#include "desktop/desktop_command.h"

namespace nimbo {
namespace {

const char* ActionName(DesktopAction action) {
    switch (action) {
        case DesktopAction::Detach:
            return "detach";
        case DesktopAction::Restore:
            return "restore";
        case DesktopAction::Forget:
            return "forget";
        case DesktopAction::Reconcile:
            return "reconcile";
        case DesktopAction::Darken:
            return "darken";
        case DesktopAction::Status:
            break;
    }
    return "status";
}

}  // namespace

nlohmann::json DesktopResultToJson(const DesktopResult& result) {
    nlohmann::json json = {
        {"action", ActionName(result.action)},
        {"attached", result.attached},
        {"controlMode", "display-path"},
        {"darkenSupported", true},
        {"detached", result.detached},
        {"displayId", lenticor::WideToUtf8(result.displayId)},
        {"owned", result.owned},
        {"presence", result.presence},
        {"protocolVersion", 2},
        {"reconcileSupported", true},
        {"state", result.state},
        {"success", result.success},
        {"supported", true},
    };
    lenticor::AddErrorMembers(json, result.errorCode, result.errorMessage);
    if (!result.reason.empty())
        json["reason"] = result.reason;
    if (!result.token.empty())
        json["recovery"] = {{"canForget", result.canForget}, {"token", result.token}};
    return json;
}

}  // namespace nimbo
