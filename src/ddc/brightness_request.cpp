#include "ddc/brightness_request.h"

#include "app/dispatcher.h"
#include "app/result_line.h"
#include "app/text.h"

#include <array>
#include <optional>
#include <ostream>
#include <string_view>

namespace nimbo {
namespace {

constexpr std::size_t kMaxTokenBytes = 2048;
constexpr std::uint32_t kMaxRange = 65535;
constexpr std::array<lenticor::ActionWord<DisplayBrightnessAction>, 2> kActions{{
    {L"status", DisplayBrightnessAction::Status},
    {L"set", DisplayBrightnessAction::Set},
}};
constexpr const char* kHintMessage = "capability hint requires one bounded version-1 token";

// Leading zeros count against the length, so the host cannot smuggle an
// arbitrarily long word through as a number ("0100" is no level).
std::optional<std::uint64_t> DecimalValue(const std::wstring& text, std::size_t maxDigits) {
    if (text.size() > maxDigits)
        return std::nullopt;
    return lenticor::DecimalValue(text);
}

// A value is consumed even when it looks like an option, so "--level
// --display-id" is a bad level rather than a level without value. Returns the
// error text, or nullptr.
const char* TakeOption(const std::vector<std::wstring>& arguments, std::size_t& index,
                       DisplayBrightnessRequest& request, bool& levelGiven) {
    const std::wstring& name = arguments[index];
    if (name == L"--nimbo-brightness-ack-only") {
        if (request.ackOnly)
            return "--nimbo-brightness-ack-only was specified twice";
        request.ackOnly = true;
        return nullptr;
    }
    const std::wstring* value = index + 1 < arguments.size() ? &arguments[index + 1] : nullptr;
    if (name == L"--level") {
        if (levelGiven)
            return "--level was specified twice";
        const auto level = value ? DecimalValue(*value, 3) : std::nullopt;
        if (!level || *level > 100)
            return "--level requires an integer from 0 to 100";
        levelGiven = true;
        request.level = static_cast<std::int32_t>(*level);
    } else if (name == L"--display-id") {
        if (!request.displayId.empty())
            return "--display-id was specified twice";
        if (value == nullptr || value->empty())
            return "--display-id requires a Windows monitor device ID";
        request.displayId = *value;
    } else if (name == L"--nimbo-brightness-capability-v1") {
        if (!request.capabilityHint.empty() || value == nullptr ||
            value->find_first_of(std::wstring_view(L"\0\r\n", 3)) != std::wstring::npos) {
            return kHintMessage;
        }
        std::string hint = lenticor::WideToUtf8(*value);
        if (hint.empty() || hint.size() > kMaxTokenBytes)
            return kHintMessage;
        request.capabilityHint = std::move(hint);
    } else if (name == L"--nimbo-brightness-range-v1") {
        const auto range = value ? DecimalValue(*value, 5) : std::nullopt;
        if (request.rangeMaximum || !range || *range == 0 || *range > kMaxRange)
            return "capability range requires one raw maximum from 1 to 65535";
        request.rangeMaximum = *range;
    } else {
        return "expected --level <0-100> and/or --display-id <Windows monitor device ID>";
    }
    ++index;
    return nullptr;
}

// When several rules are broken, this order decides which one the host hears.
const char* CombinationError(const DisplayBrightnessRequest& request, bool levelGiven) {
    const bool set = request.action == DisplayBrightnessAction::Set;
    if (set && !levelGiven)
        return "set requires --level <0-100>";
    if (!set && levelGiven)
        return "--level is not valid with status";
    if (!request.capabilityHint.empty() && request.displayId.empty())
        return "capability hint requires an explicit --display-id";
    if (request.rangeMaximum && request.capabilityHint.empty())
        return "capability range requires the matching version-1 capability hint";
    if (!set && (request.rangeMaximum || request.ackOnly))
        return "capability range and --nimbo-brightness-ack-only are not valid with status";
    return nullptr;
}

}  // namespace

bool ParseDisplayBrightnessRequest(const std::vector<std::wstring>& arguments,
                                   DisplayBrightnessRequest& request, std::string& error) {
    request = DisplayBrightnessRequest{};
    error.clear();
    if (arguments.empty()) {
        error = "missing status|set";
        return false;
    }
    const auto action = lenticor::FindAction(arguments.front(), kActions, true);
    if (!action) {
        error = "action must be status or set";
        return false;
    }
    request.action = *action;
    bool levelGiven = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (const char* message = TakeOption(arguments, i, request, levelGiven)) {
            error = message;
            return false;
        }
    }
    if (const char* message = CombinationError(request, levelGiven)) {
        error = message;
        return false;
    }
    return true;
}

nlohmann::json BrightnessResultToJson(const DisplayBrightnessResult& result) {
    nlohmann::json json = {
        {"brightness", nullptr},
        {"displayId", lenticor::WideToUtf8(result.displayId)},
        {"maximum", nullptr},
        {"success", result.success},
        {"supported", result.supported},
    };
    if (result.brightness)
        json["brightness"] = *result.brightness;
    if (result.maximum.value_or(0) != 0)
        json["maximum"] = *result.maximum;
    if (result.requestedLevel)
        json["requestedLevel"] = *result.requestedLevel;
    if (result.reportCapabilityCache) {
        json["capabilityCache"] = nullptr;
        if (result.capabilityToken)
            json["capabilityCache"] = {{"token", *result.capabilityToken}, {"version", 1}};
    }
    if (result.nativeError)
        json["nativeError"] = *result.nativeError;
    lenticor::AddErrorMembers(json, result.errorCode, result.errorMessage);
    return json;
}

void PrintBrightnessResult(std::ostream& out, const DisplayBrightnessResult& result) {
    lenticor::WriteResultLine(out, kBrightnessResultTag, BrightnessResultToJson(result),
                              lenticor::Utf8Handling::Replace);
}

}  // namespace nimbo
