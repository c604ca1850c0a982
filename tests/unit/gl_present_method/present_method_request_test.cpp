#include "gl_present_method/present_method_request.h"

#include <gtest/gtest.h>

#include <tuple>

namespace lenticor::gl_present_method {
namespace {

using enum PresentMethodAction;

// The refusals and their messages are pinned end to end; these are the
// accepted shapes, where the last --exe with a value wins.
TEST(PresentMethodArgs, AcceptsTheLastExeAndConsentAnywhere) {
    struct Case {
        std::vector<std::wstring> args;
        PresentMethodAction action;
        std::wstring exe;
        bool consent = false;
    };
    const Case cases[] = {
        {{L"status", L"--exe", L"a.exe", L"--exe", L"b.exe"}, Status, L"b.exe"},
        {{L"apply", L"--exe", L"a.exe", L"--exe"}, Apply, L"a.exe"},
        {{L"apply", L"--user-consent", L"--later", L"--exe", L"a.exe"}, Apply, L"a.exe", true},
        {{L"status", L"--exe", L"--user-consent"}, Status, L"--user-consent"},
        {{L"detect"}, Detect, L""},
        {{L"detect", L"--exe", L"C:\\x\\y.exe"}, Detect, L"C:\\x\\y.exe"},
    };
    for (const auto& c : cases) {
        PresentMethodRequest request;
        std::string message;
        EXPECT_TRUE(ParsePresentMethodArgs(c.args, request, message)) << message;
        EXPECT_EQ(std::tie(request.action, request.exe, request.userConsent),
                  std::tie(c.action, c.exe, c.consent))
            << "case " << &c - cases;
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
