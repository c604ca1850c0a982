#pragma once
// The words after --gl-present-method: which action, for which exe, and
// whether the host has the user's consent to change the driver.

#include <string>
#include <string_view>
#include <vector>

namespace lenticor::gl_present_method {

enum class PresentMethodAction { Status = 0, Apply = 1, Undo = 2, Detect = 3 };

struct PresentMethodRequest {
    PresentMethodAction action = PresentMethodAction::Status;
    std::wstring exe;  // a bare file name such as L"quake.exe"
    bool userConsent = false;
};

// "status", "apply", "undo" or "detect".
[[nodiscard]] std::string_view PresentMethodActionName(PresentMethodAction action);

// The action word exactly as written, then in any order "--exe <name>" (the
// last one counts) and "--user-consent"; other words are ignored, so older
// hosts may pass options this build does not know.
//   {L"apply", L"--exe", L"quake.exe", L"--user-consent"}
//     -> apply, L"quake.exe", consent
// detect names its exe itself and takes the request as it is; every other
// action needs an exe that is a file name, not a path (no \, / or :).
// False with the reason in `message`; `request` then still carries the
// action and exe read so far, for the rejection line.
[[nodiscard]] bool ParsePresentMethodArgs(const std::vector<std::wstring>& arguments,
                                          PresentMethodRequest& request, std::string& message);

}  // namespace lenticor::gl_present_method
