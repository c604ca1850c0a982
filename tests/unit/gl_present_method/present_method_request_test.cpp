#include "gl_present_method/present_method_request.h"

#include <gtest/gtest.h>

namespace lenticor::gl_present_method {
namespace {

using enum PresentMethodAction;

TEST(PresentMethodArgs, AcceptOrRejectWithTheMessageTheHostSees) {
    struct Case {
        std::vector<std::wstring> args;
        std::string message;  // empty: accepted
        PresentMethodAction action;
        std::wstring exe;
        bool consent = false;
    };
    const std::string required = "--exe <file name> is required";
    const Case cases[] = {
        {{}, "expected status|apply|undo|detect", Status, L""},
        {{L"Status", L"--exe", L"a.exe"}, "unknown action", Status, L""},
        {{L"apply"}, required, Apply, L""},
        {{L"apply", L"--exe", L""}, required, Apply, L""},
        {{L"undo", L"--exe", L"C:\\a.exe"}, required, Undo, L"C:\\a.exe"},
        {{L"status", L"--exe", L"games/a.exe"}, required, Status, L"games/a.exe"},
        {{L"status", L"--exe", L"a:stream.exe"}, required, Status, L"a:stream.exe"},
        {{L"status", L"--exe", L"a.exe", L"--exe", L"b.exe"}, "", Status, L"b.exe"},
        {{L"apply", L"--exe", L"a.exe", L"--exe"}, "", Apply, L"a.exe"},
        {{L"apply", L"--user-consent", L"--later", L"--exe", L"a.exe"}, "", Apply, L"a.exe", true},
        {{L"status", L"--exe", L"--user-consent"}, "", Status, L"--user-consent"},
        {{L"detect"}, "", Detect, L""},
        {{L"detect", L"--exe", L"C:\\x\\y.exe"}, "", Detect, L"C:\\x\\y.exe"},
    };
    for (const auto& c : cases) {
        PresentMethodRequest request;
        std::string message;
        const bool accepted = ParsePresentMethodArgs(c.args, request, message);
        const auto where = ::testing::Message() << "case " << &c - cases;
        EXPECT_EQ(accepted, c.message.empty()) << where;
        EXPECT_EQ(message, c.message) << where;
        EXPECT_EQ(request.action, c.action) << where;
        EXPECT_EQ(request.exe, c.exe) << where;
        EXPECT_EQ(request.userConsent, c.consent) << where;
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
