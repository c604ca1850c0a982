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

// clang-format off
json FullDisplayList() {
    return nimbo::DisplayListToJson({{1, L"\\\\.\\DISPLAY2", L"Korvo Nimbo", L"KZV1A07", L"Adapter", {3840, 0, 7680, 2160}, 60, 32, 0, false, false, 1}}, nimbo::DisplayTopology::Extend);
}

json FullCheck() {
    const nimbo::NimboDisplay display{1, "Korvo Nimbo", "KZV1A07", 3840, 2160, 60, true};
    nimbo::CameraRecoveryCandidate recovery;
    recovery.locationId = 0x00010002;
    return nimbo::BuildNimboCheckJson({{"nimbo:SN1", "SN1", 701, true, display, true}, {}}, {recovery});
}

// A failure with `code`, or a ready display that was set to the mode.
json Ensure(bool withDpi, const std::string& code = "") {
    std::optional<nimbo::InitialDpiResult> dpi;
    if (withDpi)
        dpi = {true, false, false, 0, 150, 150, "Unsupported DPI percent: 0"};
    return nimbo::BuildEnsureJson({code.empty(), code.empty(), {{1920, 1080, 60}, true}, {{3840, 2160, 60}, true}, 0, "nimbo:SN1", code, code}, dpi);
}

// Every optional member filled; a failure keeps them and adds its code.
json Desktop(bool success) {
    return nimbo::DesktopResultToJson({success, nimbo::DesktopAction::Forget, L"MONITOR\\KZV1A07", true, true, false, "off", "inactive", "recovery_archived", success ? "" : "DESKTOP_BUSY", success ? "" : "busy", std::string(64, 'a'), true});
}

json Power(bool success) {
    using S = nimbo::DisplayPowerState;
    return nimbo::PowerResultToJson({success, true, L"MONITOR\\KZV1A07", S::Off, S::Off, 31, success ? "" : "NIMBO_POWER_CANCELLED", success ? "" : "cancelled", "p1:" + kToken});
}

// The largest values each member may hold; without a token the cache is null.
json Brightness(bool withToken) {
    return nimbo::BrightnessResultToJson({true, true, L"MONITOR\\KZV1A07", 100, 65535, 100, true, withToken ? std::optional<std::string>("b1:" + kToken) : std::nullopt, 4294967295u});
}

json PresentMethod(bool success) {
    return gl_present_method::PresentMethodResultToJson({gl_present_method::PresentMethodAction::Detect, L"game.exe", success, false, "own", 4294967295u, true, true, "opengl", success ? "" : "ELEVATION_REQUIRED", success ? "" : "driver rejected the setting (NvAPI status -137)"});
}
// clang-format on

// `change` turns an allowed document into one that breaks a single rule.
struct Row {
    const char* name;
    const char* tag;
    json document;
    std::function<void(json&)> change = nullptr;
};

TEST(ResultSchema, SerialisersWriteWhatTheProtocolAllowsAndTheCheckerRefusesTheRest) {
    const Row rows[] = {
        {"list", "[VXDisplayList]", FullDisplayList()},
        {"check", "[VXNimboCheck]", FullCheck()},
        {"check empty", "[VXNimboCheck]", nimbo::BuildNimboCheckJson({}, {})},
        {"ensure with scale", "[VXNimboEnsure]", Ensure(true)},
        {"ensure failed", "[VXNimboEnsure]", Ensure(true, "NO_NIMBO_TARGET")},
        {"desktop", "[VXNimboDesktop]", Desktop(true)},
        {"desktop failed", "[VXNimboDesktop]", Desktop(false)},
        {"power", "[VXNimboPower]", Power(true)},
        {"power failed", "[VXNimboPower]", Power(false)},
        {"brightness", "[VXNimboBrightness]", Brightness(true)},
        {"brightness without token", "[VXNimboBrightness]", Brightness(false)},
        {"present method", "[VXGlPresentMethod]", PresentMethod(true)},
        {"present method failed", "[VXGlPresentMethod]", PresentMethod(false)},
        // Refused: one broken rule each.
        {"unknown member", "[VXNimboDesktop]", Desktop(true), [](json& d) { d["extra"] = 1; }},
        {"missing member", "[VXNimboPower]", Power(true), [](json& d) { d.erase("displayId"); }},
        {"error on success", "[VXGlPresentMethod]", PresentMethod(true),
         [](json& d) { d["errorCode"] = "SHARED_PROFILE", d["errorMessage"] = "x"; }},
        {"failure without code", "[VXNimboDesktop]", Desktop(false),
         [](json& d) { d.erase("errorCode"), d.erase("errorMessage"); }},
        {"code of another command", "[VXNimboBrightness]", Brightness(true),
         [](json& d) {
             d["success"] = false, d["errorCode"] = "DDC_POWER_UNSUPPORTED",
             d["errorMessage"] = "x";
         }},
        {"token of the other command", "[VXNimboPower]", Power(true),
         [](json& d) { d["capabilityCache"]["token"] = "b1:" + kToken; }},
        {"percent above 100", "[VXNimboBrightness]", Brightness(true),
         [](json& d) { d["brightness"] = 101; }},
        {"mode beside an error", "[VXNimboEnsure]", Ensure(false, "NO_NIMBO_TARGET"),
         [](json& d) { d["displayIndex"] = 0; }},
        {"half a scale result", "[VXNimboEnsure]", Ensure(true),
         [](json& d) { d.erase("initialDpiApplied"); }},
        {"capability cache on failure", "[VXNimboPower]", Power(false),
         [](json& d) {
             d["capabilityCache"] = {{"token", "p1:" + kToken}, {"version", 1}};
         }},
    };
    std::vector<std::string> lines;
    for (const Row& row : rows) {
        json document = row.document;
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
