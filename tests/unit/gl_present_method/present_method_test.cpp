#include "gl_present_method/present_method.h"

#include "app/result_line.h"

#include <gtest/gtest.h>

namespace lenticor::gl_present_method {
namespace {

using enum PresentMethodAction;

// One run: the stored record, the profile before the change and after it,
// the one call that fails and the NvAPI status it leaves.
struct Case {
    PresentMethodAction action;
    std::optional<std::string> record;
    ProfileState before;
    std::string calls;
    std::string line;  // the JSON after {"action":"<action>",
    std::string failing = "";
    std::int32_t status = 0;
    ProfileState after = {};
    bool consent = true;
};

// The driver and the undo store of one run as its case scripts them; every
// call is logged in order.
class Scripted final : public IDriverProfiles, public IUndoStore {
  public:
    explicit Scripted(const Case& c) : c_(c) {}
    std::string calls;

    std::string Open() override { return c_.failing == "Open" ? "NVAPI_UNAVAILABLE" : ""; }
    ProfileState ReadProfile(const std::wstring& exe) override {
        EXPECT_EQ(exe, L"q.exe");
        return reads_++ == 0 ? c_.before : (Call("Read"), c_.after);
    }
    bool CreateProfileForExe(const std::wstring&, std::uint32_t value) override {
        return Call("Create(" + std::to_string(value) + ")");
    }
    bool SetValue(const std::wstring&, std::uint32_t value) override {
        return Call("SetValue(" + std::to_string(value) + ")");
    }
    bool DeleteValue(const std::wstring&) override { return Call("DeleteValue"); }
    bool DeleteProfile(const std::wstring&) override { return Call("DeleteProfile"); }
    bool Save() override { return Call("Save"); }
    std::int32_t LastStatus() const override { return c_.status; }
    std::optional<std::string> Read(const std::wstring&) override { return c_.record; }
    bool Write(const std::wstring&, const std::string& text) override {
        return Call("Write(" + text + ")");
    }
    bool Remove(const std::wstring&) override { return Call("Remove"); }

  private:
    bool Call(const std::string& call) {
        calls += (calls.empty() ? "" : " ") + call;
        return c_.failing.empty() || call.rfind(c_.failing, 0) != 0;
    }
    const Case& c_;
    int reads_ = 0;
};

ProfileState Profile(bool ours, std::optional<std::uint32_t> value = {}, bool shared = false) {
    return {.found = true, .ours = ours, .value = value, .error = false, .shared = shared};
}

// clang-format off
const ProfileState kForeign = Profile(false), kForeign0 = Profile(false, 0), kForeign1 = Profile(false, 1), kOurs = Profile(true, 1), kShared = Profile(false, 2, true);
const ProfileState kUnreadable{.found = false, .ours = false, .value = {}, .error = true, .shared = false};
// clang-format on

// Consent, a shared profile and a profile already at the value refuse or
// skip an apply end to end, as does an undo whose save is refused when
// nothing needed reverting.
TEST(EvaluatePresentMethod, EveryDecisionAndTheLineItWrites) {
    // clang-format off
    const Case cases[] = {
        {Status, {}, {}, "", R"j("changed":false,"errorCode":"NVAPI_UNAVAILABLE","errorMessage":"NVIDIA driver profiles unavailable","exe":"q.exe","profile":"none","success":false,"undoPending":false})j", "Open"},
        {Status, "own", kUnreadable, "", R"j("changed":false,"errorCode":"NVAPI_READ_FAILED","errorMessage":"could not read the exe's profile (NvAPI status -3)","exe":"q.exe","profile":"none","success":false,"undoPending":false})j", "", -3},
        {Detect, {}, kShared, "", R"j("changed":false,"exe":"q.exe","profile":"existing","sharedProfile":true,"success":true,"undoPending":false,"value":2})j"},
        {Apply, {}, {}, "Write(own) Create(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"own","success":true,"undoPending":true,"value":1})j", "", 0, kOurs},
        {Apply, {}, kForeign0, "Write(user:0) SetValue(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":true,"value":1})j", "", 0, kForeign1},
        {Apply, "junk", kForeign, "Write(default) SetValue(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":true,"value":1})j", "", 0, kForeign1},
        {Apply, "own", kForeign0, "Write(user:0) SetValue(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":true,"value":1})j", "", 0, kForeign1},
        {Apply, "user:7", kForeign0, "SetValue(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":true,"value":1})j", "", 0, kForeign1},
        {Apply, "own", Profile(true, 3), "SetValue(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"own","success":true,"undoPending":true,"value":1})j", "", 0, kOurs},
        {Apply, "default", Profile(true, 3), "Write(user:3) SetValue(1) Save Read", R"j("changed":true,"exe":"q.exe","profile":"own","success":true,"undoPending":true,"value":1})j", "", 0, kOurs},
        {Apply, {}, {}, "Write(own)", R"j("changed":false,"errorCode":"UNDO_STORE_FAILED","errorMessage":"could not write the undo record","exe":"q.exe","profile":"none","success":false,"undoPending":false})j", "Write"},
        {Apply, {}, {}, "Write(own) Create(1)", R"j("changed":false,"errorCode":"ELEVATION_REQUIRED","errorMessage":"driver rejected the setting (NvAPI status -137)","exe":"q.exe","profile":"none","success":false,"undoPending":true})j", "Create", -137},
        {Apply, "default", kForeign, "SetValue(1) Save", R"j("changed":false,"errorCode":"DRIVER_WRITE_FAILED","errorMessage":"driver rejected the setting (NvAPI status -5)","exe":"q.exe","profile":"existing","success":false,"undoPending":true})j", "Save", -5},
        {Undo, {}, kForeign0, "", R"j("changed":false,"exe":"q.exe","profile":"existing","success":true,"undoPending":false,"value":0})j"},
        {Undo, {}, kOurs, "DeleteProfile Save Remove Read", R"j("changed":true,"exe":"q.exe","profile":"none","success":true,"undoPending":false})j"},
        {Undo, "own", kOurs, "DeleteProfile Save Remove Read", R"j("changed":true,"exe":"q.exe","profile":"none","success":true,"undoPending":false})j"},
        {Undo, "user:0", kForeign0, "Remove Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":false,"value":0})j", "Save", -137, kForeign0},
        {Undo, "default", kForeign1, "DeleteValue Save Remove Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":false})j", "", 0, kForeign},
        {Undo, "user:0", kForeign1, "SetValue(0) Save Remove Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":false,"value":0})j", "", 0, kForeign0},
        {Undo, "Default", kForeign1, "", R"j("changed":false,"errorCode":"UNDO_RECORD_INVALID","errorMessage":"Default","exe":"q.exe","profile":"existing","success":false,"undoPending":true,"value":1})j"},
        {Undo, "user:\xff\xfe", {}, "", "\"changed\":false,\"errorCode\":\"UNDO_RECORD_INVALID\",\"errorMessage\":\"user:" "\xEF\xBF\xBD\xEF\xBF\xBD\",\"exe\":\"q.exe\",\"profile\":\"none\",\"success\":false," "\"undoPending\":true}"},
        {Undo, std::string("\0\0\0", 3), kForeign1, "Remove Read", R"j("changed":true,"exe":"q.exe","profile":"existing","success":true,"undoPending":false,"value":1})j", "", 0, kForeign1},
        {Undo, "", kOurs, "DeleteProfile Save Remove Read", R"j("changed":true,"exe":"q.exe","profile":"none","success":true,"undoPending":false})j"},
        {Undo, "user:5", kShared, "", R"j("changed":false,"errorCode":"SHARED_PROFILE","errorMessage":"the exe's driver profile now also holds other applications","exe":"q.exe","profile":"existing","sharedProfile":true,"success":false,"undoPending":true,"value":2})j"},
        {Undo, "user:5", kForeign1, "SetValue(5)", R"j("changed":false,"errorCode":"ELEVATION_REQUIRED","errorMessage":"driver rejected the undo (NvAPI status -137)","exe":"q.exe","profile":"existing","success":false,"undoPending":true,"value":1})j", "SetValue", -137},
        {Undo, "default", kForeign, "Remove", R"j("changed":false,"errorCode":"UNDO_STORE_FAILED","errorMessage":"could not remove the undo record","exe":"q.exe","profile":"existing","success":false,"undoPending":true})j", "Remove"},
    };
    // clang-format on
    for (const auto& c : cases) {
        Scripted run(c);
        const PresentMethodRequest request{c.action, L"q.exe", c.consent};
        const auto result = EvaluatePresentMethod(request, run, run);
        const auto where = ::testing::Message() << "case " << &c - cases;
        EXPECT_EQ(run.calls, c.calls) << where;
        // clang-format off
        EXPECT_EQ(SerializeResult(PresentMethodResultToJson(result), Utf8Handling::Replace),
                  "{\"action\":\"" + std::string(PresentMethodActionName(c.action)) + "\"," + c.line) << where;
        // clang-format on
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
