// Every serialiser's fullest and barest line is one the protocol allows, and
// the checker refuses lines that break each kind of rule it states.

#include <gtest/gtest.h>

#include <functional>

#include "app/protocol_check.h"
#include "ddc/brightness_request.h"
#include "ddc/power_request.h"
#include "desktop/desktop_command.h"
#include "displays/list_displays_command.h"
#include "gl_present_method/present_method_result.h"
#include "readiness/check_command.h"
#include "readiness/ensure_command.h"

namespace lenticor::test {
namespace {

using nlohmann::json;
const std::string kToken = "61:62:00000000000000ff";

json FullDisplayList() {
    nimbo::DisplayInfo info;
    info.name = L"\\\\.\\DISPLAY2";
    info.friendlyName = L"Korvo Nimbo";
    info.manufacturerCode = L"KZV1A07";
    info.adapterName = L"Adapter";
    info.desktopRect = {3840, 0, 7680, 2160};
    info.refreshRate = 60;
    info.adapterIndex = 1;
    return nimbo::DisplayListToJson({info}, nimbo::DisplayTopology::Extend);
}

json FullCheck() {
    nimbo::NimboCandidate ready{.id = "nimbo:SN1",
                                .serialNumber = "SN1",
                                .cameraId = 701,
                                .cameraReady = true,
                                .display = {},
                                .ready = true};
    ready.display = {.displayIndex = 1,
                     .friendlyName = "Korvo Nimbo",
                     .manufacturerCode = "KZV1A07",
                     .width = 3840,
                     .height = 2160,
                     .refreshRate = 60,
                     .ready = true};
    nimbo::CameraRecoveryCandidate recovery;
    recovery.locationId = 0x00010002;
    return nimbo::BuildNimboCheckJson({ready, nimbo::NimboCandidate{}}, {recovery});
}

json Ensure(bool withDpi, std::string errorCode = "") {
    nimbo::NimboEnsureResult result{
        .ready = errorCode.empty(),
        .applied = errorCode.empty(),
        .previousMode = {{1920, 1080, 60}, true},
        .currentMode = {{3840, 2160, 60}, true},
        .displayIndex = 0,
        .nimboId = "nimbo:SN1",
        .errorCode = errorCode,
        .errorMessage = errorCode.empty() ? "" : "No Nimbo display found"};
    std::optional<nimbo::InitialDpiResult> dpi;
    if (withDpi)
        dpi =
            nimbo::InitialDpiResult{true, false, false, 0, 150, 150, "Unsupported DPI percent: 0"};
    return nimbo::BuildEnsureJson(result, dpi);
}

json Desktop(bool success) {
    nimbo::DesktopResult result;
    result.success = success;
    result.action = nimbo::DesktopAction::Forget;
    result.reason = success ? "recovery_archived" : "";
    result.errorCode = success ? "" : "DESKTOP_BUSY";
    result.errorMessage = success ? "" : "busy";
    result.token = std::string(64, 'a');
    result.canForget = true;
    return nimbo::DesktopResultToJson(result);
}

json Power(bool success) {
    nimbo::DisplayPowerResult result{.success = success,
                                     .supported = true,
                                     .displayId = L"MONITOR\\KZV1A07",
                                     .state = nimbo::DisplayPowerState::Off,
                                     .requestedState = nimbo::DisplayPowerState::Off,
                                     .nativeError = 31,
                                     .errorCode = success ? "" : "NIMBO_POWER_CANCELLED",
                                     .errorMessage = success ? "" : "cancelled",
                                     .capabilityToken = "p1:" + kToken};
    return nimbo::PowerResultToJson(result);
}

json Brightness(bool withToken) {
    nimbo::DisplayBrightnessResult result{.success = true,
                                          .supported = true,
                                          .displayId = L"MONITOR\\KZV1A07",
                                          .brightness = 100,
                                          .maximum = 65535,
                                          .requestedLevel = 100,
                                          .reportCapabilityCache = true,
                                          .capabilityToken = std::nullopt,
                                          .nativeError = 4294967295u};
    if (withToken)
        result.capabilityToken = "b1:" + kToken;
    return nimbo::BrightnessResultToJson(result);
}

json PresentMethod(bool success) {
    gl_present_method::PresentMethodResult result{
        .action = gl_present_method::PresentMethodAction::Detect,
        .exe = L"game.exe",
        .success = success,
        .changed = false,
        .profile = "own",
        .value = 4294967295u,
        .undoPending = true,
        .sharedProfile = true,
        .api = "opengl",
        .errorCode = success ? "" : "ELEVATION_REQUIRED",
        .errorMessage = success ? "" : "driver rejected the setting (NvAPI status -137)"};
    return gl_present_method::PresentMethodResultToJson(result);
}

// `change` turns an allowed document into one that breaks a single rule.
struct Row {
    const char* name;
    const char* tag;
    std::function<json()> document;
    std::function<void(json&)> change = nullptr;
};

TEST(ResultSchema, SerialisersWriteWhatTheProtocolAllowsAndTheCheckerRefusesTheRest) {
    const Row rows[] = {
        {"list", "[VXDisplayList]", FullDisplayList},
        {"check", "[VXNimboCheck]", FullCheck},
        {"check empty", "[VXNimboCheck]", [] { return nimbo::BuildNimboCheckJson({}, {}); }},
        {"ensure with scale", "[VXNimboEnsure]", [] { return Ensure(true); }},
        {"ensure failed", "[VXNimboEnsure]", [] { return Ensure(true, "NO_NIMBO_TARGET"); }},
        {"desktop", "[VXNimboDesktop]", [] { return Desktop(true); }},
        {"desktop failed", "[VXNimboDesktop]", [] { return Desktop(false); }},
        {"power", "[VXNimboPower]", [] { return Power(true); }},
        {"power failed", "[VXNimboPower]", [] { return Power(false); }},
        {"brightness", "[VXNimboBrightness]", [] { return Brightness(true); }},
        {"brightness without token", "[VXNimboBrightness]", [] { return Brightness(false); }},
        {"present method", "[VXGlPresentMethod]", [] { return PresentMethod(true); }},
        {"present method failed", "[VXGlPresentMethod]", [] { return PresentMethod(false); }},
        // Refused: one broken rule each.
        {"unknown member", "[VXNimboDesktop]", [] { return Desktop(true); },
         [](json& d) { d["extra"] = 1; }},
        {"missing member", "[VXNimboPower]", [] { return Power(true); },
         [](json& d) { d.erase("displayId"); }},
        {"error on success", "[VXGlPresentMethod]", [] { return PresentMethod(true); },
         [](json& d) { d["errorCode"] = "SHARED_PROFILE", d["errorMessage"] = "x"; }},
        {"failure without code", "[VXNimboDesktop]", [] { return Desktop(false); },
         [](json& d) { d.erase("errorCode"), d.erase("errorMessage"); }},
        {"code of another command", "[VXNimboBrightness]", [] { return Brightness(true); },
         [](json& d) {
             d["success"] = false, d["errorCode"] = "DDC_POWER_UNSUPPORTED",
             d["errorMessage"] = "x";
         }},
        {"token of the other command", "[VXNimboPower]", [] { return Power(true); },
         [](json& d) { d["capabilityCache"]["token"] = "b1:" + kToken; }},
        {"upper-case revision", "[VXNimboDesktop]", [] { return Desktop(true); },
         [](json& d) { d["recovery"]["token"] = std::string(64, 'A'); }},
        {"percent above 100", "[VXNimboBrightness]", [] { return Brightness(true); },
         [](json& d) { d["brightness"] = 101; }},
        {"mode beside an error", "[VXNimboEnsure]", [] { return Ensure(false, "NO_NIMBO_TARGET"); },
         [](json& d) { d["displayIndex"] = 0; }},
        {"half a scale result", "[VXNimboEnsure]", [] { return Ensure(true); },
         [](json& d) { d.erase("initialDpiApplied"); }},
        {"ready camera without serial", "[VXNimboCheck]", FullCheck,
         [](json& d) { d["candidates"][0]["camera"].erase("serialNumber"); }},
        {"no displays", "[VXDisplayList]", FullDisplayList,
         [](json& d) { d["displays"] = json::array(); }},
        {"capability cache on failure", "[VXNimboPower]", [] { return Power(false); },
         [](json& d) {
             d["capabilityCache"] = {{"token", "p1:" + kToken}, {"version", 1}};
         }},
    };
    std::vector<std::string> lines;
    for (const Row& row : rows) {
        json document = row.document();
        if (row.change)
            row.change(document);
        lines.push_back(ResultLineOf(row.tag, document));
    }
    const auto problems = ProtocolProblems(lines);
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(problems[i].empty(), rows[i].change == nullptr)
            << rows[i].name << ": " << lines[i] << "\n"
            << problems[i];
}

}  // namespace
}  // namespace lenticor::test
