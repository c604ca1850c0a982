#include "ddc/power_request.h"

#include "app/dispatcher.h"
#include "app/result_line.h"
#include "app/text.h"

#include <array>
#include <ostream>

namespace nimbo {
namespace {

constexpr std::size_t kMaxTokenLength = 2048;

constexpr std::array<lenticor::ActionWord<DisplayPowerAction>, 4> kActions{{
    {L"status", DisplayPowerAction::Read},
    {L"reconcile", DisplayPowerAction::Read},
    {L"on", DisplayPowerAction::On},
    {L"off", DisplayPowerAction::Off},
}};

const char* StateText(DisplayPowerState state) {
    switch (state) {
        case DisplayPowerState::On:
            return "on";
        case DisplayPowerState::Off:
            return "off";
        case DisplayPowerState::Unknown:
            break;
    }
    return "unknown";
}

bool IsBoundedToken(const std::wstring& token) {
    const std::size_t length = lenticor::Utf16Length(token);
    return length >= 1 && length <= kMaxTokenLength &&
           token.find_first_of(std::wstring_view(L"\0\r\n", 3)) == std::wstring::npos;
}

}  // namespace

bool ParseDisplayPowerRequest(const std::vector<std::wstring>& arguments,
                              DisplayPowerRequest& request, std::string& error) {
    request = DisplayPowerRequest{};
    error.clear();
    if (arguments.empty()) {
        error = "missing status|reconcile|on|off";
        return false;
    }
    const auto action = lenticor::FindAction(arguments.front(), kActions, true);
    if (!action) {
        error = "action must be status, reconcile, on, or off";
        return false;
    }
    request.action = *action;

    std::vector<std::wstring> words{arguments.front()};
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] != L"--nimbo-power-state-only") {
            words.push_back(arguments[i]);
            continue;
        }
        if (request.action != DisplayPowerAction::Read || request.stateOnly) {
            error = "state-only requires status or reconcile and may appear only once";
            return false;
        }
        request.stateOnly = true;
    }
    if (words.size() == 1)
        return true;
    if ((words.size() != 3 && words.size() != 5) || words[1] != L"--display-id" ||
        words[2].empty()) {
        error = "expected optional --display-id <Windows monitor device ID>";
        return false;
    }
    request.displayId = words[2];
    if (words.size() == 5) {
        if (request.action != DisplayPowerAction::Off ||
            words[3] != L"--nimbo-power-capability-v1" || !IsBoundedToken(words[4])) {
            error = "capability hint requires explicit Off and a bounded version-1 token";
            return false;
        }
        request.capabilityHint = lenticor::WideToUtf8(words[4]);
    }
    return true;
}

nlohmann::json PowerResultToJson(const DisplayPowerResult& result) {
    nlohmann::json json = {
        {"displayId", lenticor::WideToUtf8(result.displayId)},
        {"state", StateText(result.state)},
        {"success", result.success},
        {"supported", result.supported},
    };
    if (result.success && result.supported && result.capabilityToken)
        json["capabilityCache"] = {{"token", *result.capabilityToken}, {"version", 1}};
    if (result.requestedState)
        json["requestedState"] = StateText(*result.requestedState);
    if (result.nativeError)
        json["nativeError"] = *result.nativeError;
    lenticor::AddErrorMembers(json, result.errorCode, result.errorMessage);
    return json;
}

void PrintPowerResult(std::ostream& out, DisplayPowerResult result) {
    if (lastDdcNativeError != 0)
        result.nativeError = lastDdcNativeError;
    lenticor::WriteResultLine(out, kPowerResultTag, PowerResultToJson(result),
                              lenticor::Utf8Handling::Replace);
}

}  // namespace nimbo
