#include "gl_present_method/present_method_request.h"

#include "app/dispatcher.h"

#include <array>

namespace lenticor::gl_present_method {
namespace {

constexpr std::array<ActionWord<PresentMethodAction>, 4> kActions{{
    {L"status", PresentMethodAction::Status},
    {L"apply", PresentMethodAction::Apply},
    {L"undo", PresentMethodAction::Undo},
    {L"detect", PresentMethodAction::Detect},
}};

}  // namespace

std::string_view PresentMethodActionName(PresentMethodAction action) {
    switch (action) {
        case PresentMethodAction::Status:
            return "status";
        case PresentMethodAction::Apply:
            return "apply";
        case PresentMethodAction::Undo:
            return "undo";
        case PresentMethodAction::Detect:
            return "detect";
    }
    return "status";
}

bool ParsePresentMethodArgs(const std::vector<std::wstring>& arguments,
                            PresentMethodRequest& request, std::string& message) {
    if (arguments.empty()) {
        message = "expected status|apply|undo|detect";
        return false;
    }
    // Unlike the other commands' actions, these match only as written.
    const auto action = FindAction(arguments.front(), kActions, false);
    if (!action) {
        message = "unknown action";
        return false;
    }
    request.action = *action;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"--exe" && i + 1 < arguments.size()) {
            request.exe = arguments[++i];
        } else if (arguments[i] == L"--user-consent") {
            request.userConsent = true;
        }
    }
    if (request.action == PresentMethodAction::Detect) {
        return true;
    }
    // The exe is also the undo record's file name, so a path could reach
    // outside the record folder.
    if (request.exe.empty() || request.exe.find_first_of(L"\\/:") != std::wstring::npos) {
        message = "--exe <file name> is required";
        return false;
    }
    return true;
}

}  // namespace lenticor::gl_present_method
