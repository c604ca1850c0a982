#include <array>
#include <cwctype>
#include <optional>
#include <string_view>

#include "app/text.h"
#include "desktop/desktop_command.h"

namespace nimbo {
namespace {

constexpr std::size_t kMinStateFileUnits = 4;
constexpr std::size_t kMaxStateFileUnits = 30000;
constexpr std::size_t kRevisionDigits = 64;

constexpr std::array<lenticor::ActionWord<DesktopAction>, 6> kActions{{
    {L"status", DesktopAction::Status},
    {L"detach", DesktopAction::Detach},
    {L"restore", DesktopAction::Restore},
    {L"forget", DesktopAction::Forget},
    {L"reconcile", DesktopAction::Reconcile},
    {L"darken", DesktopAction::Darken},
}};

bool IsWellFormedToken(std::string_view token) {
    if (token == "absent")
        return true;
    if (token.size() != kRevisionDigits)
        return false;
    for (const char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool IsDriveLetter(wchar_t c) {
    // A character outside the basic plane is a surrogate pair on Windows and
    // never a letter there; keep the 32-bit build in agreement.
    const auto code = static_cast<std::uint32_t>(c);
    return (code >> 16) == 0 && std::iswalpha(static_cast<wint_t>(c)) != 0;
}

bool IsAbsoluteDrivePath(std::wstring_view path) {
    const std::size_t units = lenticor::Utf16Length(path);
    if (units < kMinStateFileUnits || units > kMaxStateFileUnits || path.size() < 3)
        return false;
    if (!IsDriveLetter(path[0]) || path[1] != L':' || (path[2] != L'\\' && path[2] != L'/'))
        return false;
    for (std::size_t i = 2; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c == L'\0' || c == L'\r' || c == L'\n' || c == L':')
            return false;
    }
    return true;
}

}  // namespace

bool ParseDesktopRequest(const std::vector<std::wstring>& arguments, DesktopRequest& request,
                         std::string& message) {
    if (arguments.empty()) {
        message = "expected status, detach, restore, forget, reconcile, or darken";
        return false;
    }
    const auto action = lenticor::FindAction(arguments[0], kActions, true);
    if (!action) {
        message = "unknown desktop action";
        return false;
    }
    request.action = *action;

    bool hasToken = false;
    for (std::size_t i = 1; i < arguments.size(); i += 2) {
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
            message = "missing option value";
            return false;
        }
        const std::wstring& option = arguments[i];
        const std::wstring& value = arguments[i + 1];
        if (option == L"--display-id" && request.displayId.empty()) {
            request.displayId = value;
        } else if (option == L"--state-file" && request.stateFile.empty()) {
            request.stateFile = value;
        } else if (option == L"--recovery-token" && !hasToken) {
            request.recoveryToken = lenticor::WideToUtf8(value);
            hasToken = true;
        } else {
            message = "unknown or duplicate desktop option";
            return false;
        }
    }

    const bool tokenAllowed = request.action == DesktopAction::Forget
                                  ? hasToken && IsWellFormedToken(request.recoveryToken)
                                  : !hasToken;
    if (!tokenAllowed) {
        message =
            "forget requires a recovery-token from a fresh status; other actions do not accept it";
        return false;
    }
    if (request.action == DesktopAction::Darken && request.displayId.empty()) {
        message = "darken requires the exact --display-id of the owned Nimbo";
        return false;
    }
    if (!IsAbsoluteDrivePath(request.stateFile)) {
        message =
            "state-file must be an absolute local path with a drive letter (for example "
            "C:\\data\\desktop.json)";
        return false;
    }
    return true;
}

}  // namespace nimbo
