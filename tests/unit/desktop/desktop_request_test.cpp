// The --nimbo-desktop command line.

#include <gtest/gtest.h>

#include "desktop/desktop_command.h"

namespace nimbo::test {
namespace {

const char* kPathMessage =
    "state-file must be an absolute local path with a drive letter (for example "
    "C:\\data\\desktop.json)";
const char* kTokenMessage =
    "forget requires a recovery-token from a fresh status; other actions do not accept it";
const char* kOptionMessage = "unknown or duplicate desktop option";

// The end-to-end front-end cases hold the plain refusals; these are the edges.
TEST(DesktopRequestParser, AcceptsAndRejectsPerRule) {
    using enum DesktopAction;
    const std::wstring hex(64, L'a');
    const std::wstring state = L"--state-file";
    const std::wstring token = L"--recovery-token";
    const std::wstring id = L"--display-id";
    struct Case {
        std::vector<std::wstring> args;
        const char* message;  // "" when accepted
        DesktopAction action = Status;
    };
    // clang-format off
    const Case cases[] = {
        {{L"Restore", state, L"c:/j.json"}, "", Restore},
        {{L"detach", id, L"a", id, L"b", state, L"C:\\j"}, kOptionMessage, Detach},
        {{L"detach", state, L""}, "missing option value", Detach},
        {{L"forget", state, L"C:\\j.json", token, L"absent"}, "", Forget},
        {{L"forget", state, L"C:\\j.json", token, hex}, "", Forget},
        {{L"forget", state, L"C:\\j.json", token, hex.substr(1)}, kTokenMessage, Forget},
        {{L"forget", state, L"C:\\j.json"}, kTokenMessage, Forget},
        {{L"status"}, kPathMessage},
        {{L"status", state, L"C:\\"}, kPathMessage},
        {{L"status", state, L"1:\\j.json"}, kPathMessage},
        {{L"status", state, L"C:\\j.json:stream"}, kPathMessage},
        {{L"status", state, L"C:\\j\n.json"}, kPathMessage},
        {{L"status", state, std::wstring(L"C:\\j\0x", 5)}, kPathMessage},
        {{L"status", state, L"C:\\" + std::wstring(29997, L'x')}, ""},
        {{L"status", state, L"C:\\" + std::wstring(29998, L'x')}, kPathMessage},
    };
    // clang-format on
    for (const auto& c : cases) {
        DesktopRequest request;
        std::string message;
        const bool accepted = ParseDesktopRequest(c.args, request, message);
        const std::string where = "args " + std::to_string(c.args.size());
        EXPECT_EQ(accepted, std::string(c.message).empty()) << message << where;
        EXPECT_EQ(message, c.message) << where;
        EXPECT_EQ(request.action, c.action) << message;
    }
}

TEST(DesktopRequestParser, KeepsValuesAsGivenAndCountsUtf16Units) {
    DesktopRequest request;
    std::string message;
    ASSERT_TRUE(
        ParseDesktopRequest({L"forget", L"--recovery-token", L"absent", L"--display-id",
                             L"monitor\\KZV1A07\\{x}", L"--state-file", L"D:/Desk top.json"},
                            request, message));
    EXPECT_EQ(request.displayId, L"monitor\\KZV1A07\\{x}");
    EXPECT_EQ(request.stateFile, L"D:/Desk top.json");
    EXPECT_EQ(request.recoveryToken, "absent");
    // 14,999 characters outside the basic plane are 29,998 units: with "C:\" one too many.
    const std::wstring smiley =
        sizeof(wchar_t) == 4 ? std::wstring(1, wchar_t(0x1F600)) : std::wstring(L"\xD83D\xDE00");
    std::wstring path = L"C:\\";
    for (int i = 0; i < 14999; ++i)
        path += smiley;
    EXPECT_FALSE(ParseDesktopRequest({L"status", L"--state-file", path}, request, message));
}

}  // namespace
}  // namespace nimbo::test
