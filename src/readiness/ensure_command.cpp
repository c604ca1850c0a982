#include "readiness/ensure_command.h"

#include "app/diagnostic_log.h"
#include "app/result_line.h"
#include "app/text.h"
#include "displays/display_enumeration.h"
#include "platform/console.h"
#include "platform/platform.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <ostream>

namespace nimbo {
namespace {

nlohmann::json ModeJson(const DisplayMode& mode) {
    return {{"height", mode.height}, {"refreshRate", mode.refreshRate}, {"width", mode.width}};
}

void WriteEnsureLine(lenticor::Console& console, const nlohmann::json& document,
                     lenticor::Utf8Handling handling = lenticor::Utf8Handling::Strict) {
    lenticor::WriteResultLine(console.Out(), "[VXNimboEnsure]", document, handling);
}

}  // namespace

std::string ParseNimboTarget(const lenticor::CommandArgs& args) {
    constexpr std::wstring_view kPrefix = L"nimbo:";
    if (args.empty() || args.front().compare(0, kPrefix.size(), kPrefix) != 0) {
        return {};
    }
    return lenticor::WideToUtf8(std::wstring_view(args.front()).substr(kPrefix.size()));
}

InitialDpiRequest ParseInitialDpi(const lenticor::CommandArgs& args) {
    InitialDpiRequest request;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != L"--initial-dpi") {
            continue;
        }
        request.requested = true;
        if (i + 1 >= args.size()) {
            break;
        }
        const auto& value = args[++i];
        // _wtoi of the digits: it saturates where the C runtime does.
        if (const auto number = lenticor::DecimalValue(value); number && *number >= 1) {
            request.percent = static_cast<std::int32_t>(
                std::min<std::uint64_t>(*number, std::numeric_limits<std::int32_t>::max()));
        }
    }
    return request;
}

nlohmann::json BuildEnsureJson(const NimboEnsureResult& result,
                               const std::optional<InitialDpiResult>& dpi) {
    nlohmann::json document = {{"applied", result.applied}, {"ready", result.ready}};
    if (!result.errorCode.empty()) {
        document["errorCode"] = result.errorCode;
        document["errorMessage"] = result.errorMessage;
        return document;
    }
    if (result.currentMode.known) {
        document["currentMode"] = ModeJson(result.currentMode.mode);
    }
    if (result.previousMode.known) {
        document["previousMode"] = ModeJson(result.previousMode.mode);
    }
    if (result.displayIndex >= 0) {
        document["displayIndex"] = result.displayIndex;
    }
    if (!result.nimboId.empty()) {
        document["nimboId"] = result.nimboId;
    }
    if (dpi && result.ready) {
        document["initialDpiAlreadyAtTarget"] = dpi->alreadyAtTarget;
        document["initialDpiApplied"] = dpi->applied;
        document["initialDpiCurrentPercent"] = dpi->currentPercent;
        if (!dpi->error.empty()) {
            document["initialDpiError"] = dpi->error;
        }
        document["initialDpiPercent"] = dpi->percent;
        document["initialDpiPreviousPercent"] = dpi->previousPercent;
        document["initialDpiRequested"] = dpi->requested;
    }
    return document;
}

int RunEnsureNimboReady(lenticor::Platform& platform, const std::string& targetId,
                        const InitialDpiRequest& dpiRequest) {
    try {
        lenticor::DiagnosticLog log(platform.console.Err(), platform.clock);
        const auto displays = EnumerateDisplays(platform, log);
        const auto result = EnsureNimboMode(platform.displayDevices, targetId, displays);
        std::optional<InitialDpiResult> dpi;
        if (result.errorCode.empty() && result.ready && dpiRequest.requested) {
            dpi.emplace();
            dpi->requested = true;
            dpi->percent = dpiRequest.percent;
            if (result.displayIndex >= 0 &&
                static_cast<std::size_t>(result.displayIndex) < displays.size()) {
                *dpi = ApplyInitialDpi(platform.displayConfig,
                                       displays[static_cast<std::size_t>(result.displayIndex)].name,
                                       dpiRequest.percent);
            } else {
                dpi->error = "Nimbo display index out of range for initial DPI";
            }
        }
        WriteEnsureLine(platform.console, BuildEnsureJson(result, dpi));
        return result.ready && result.errorCode.empty() ? lenticor::kExitSuccess
                                                        : lenticor::kExitFailure;
    } catch (const std::exception& error) {
        NimboEnsureResult failed;
        failed.errorCode = "NIMBO_ENSURE_EXCEPTION";
        failed.errorMessage = error.what();
        // An exception's text is not ours to vouch for: a strict write would
        // throw again here and end the process without a result line.
        WriteEnsureLine(platform.console, BuildEnsureJson(failed, std::nullopt),
                        lenticor::Utf8Handling::Replace);
        return lenticor::kExitFailure;
    }
}

}  // namespace nimbo
