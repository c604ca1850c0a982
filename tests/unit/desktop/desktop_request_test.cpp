// The --nimbo-desktop command line and the result object the host reads.

#include <gtest/gtest.h>

#include "app/result_line.h"
#include "desktop/desktop_command.h"

namespace nimbo::test {
namespace {

const std::string kHex64(64, 'a');
const char* kPathMessage =
    "state-file must be an absolute local path with a drive letter (for example "
    "C:\\data\\desktop.json)";
const char* kTokenMessage =
    "forget requires a recovery-token from a fresh status; other actions do not accept it";

struct ParseCase {
    std::vector<std::wstring> args;
    const char* message;  // "" when accepted
    DesktopAction action = DesktopAction::Status;
};

TEST(DesktopRequestParser, AcceptsAndRejectsPerRule) {
    const std::wstring hex(kHex64.begin(), kHex64.end());
    const std::wstring upperHex(64, L'A');
    const ParseCase cases[] = {
        {{}, "expected status, detach, restore, forget, reconcile, or darken"},
        {{L"park"}, "unknown desktop action"},
        {{L"DETACH", L"--state-file", L"C:\\j.json"}, "", DesktopAction::Detach},
        {{L"Restore", L"--state-file", L"c:/j.json"}, "", DesktopAction::Restore},
        {{L"status", L"--State-File", L"C:\\j.json"},
         "unknown or duplicate desktop option",
         DesktopAction::Status},
        {{L"detach", L"--state-file"}, "missing option value", DesktopAction::Detach},
        {{L"detach", L"--state-file", L""}, "missing option value", DesktopAction::Detach},
        {{L"detach", L"--display-id", L"a", L"--display-id", L"b", L"--state-file", L"C:\\j"},
         "unknown or duplicate desktop option",
         DesktopAction::Detach},
        {{L"forget", L"--state-file", L"C:\\j.json", L"--recovery-token", L"absent"},
         "",
         DesktopAction::Forget},
        {{L"forget", L"--state-file", L"C:\\j.json", L"--recovery-token", hex},
         "",
         DesktopAction::Forget},
        {{L"forget", L"--state-file", L"C:\\j.json", L"--recovery-token", upperHex},
         kTokenMessage,
         DesktopAction::Forget},
        {{L"forget", L"--state-file", L"C:\\j.json", L"--recovery-token", hex.substr(1)},
         kTokenMessage,
         DesktopAction::Forget},
        {{L"forget", L"--state-file", L"C:\\j.json"}, kTokenMessage, DesktopAction::Forget},
        {{L"status", L"--state-file", L"C:\\j.json", L"--recovery-token", L"absent"},
         kTokenMessage,
         DesktopAction::Status},
        {{L"darken", L"--state-file", L"C:\\j.json"},
         "darken requires the exact --display-id of the owned Nimbo",
         DesktopAction::Darken},
        {{L"darken", L"--state-file", L"C:\\j.json", L"--display-id", L"MONITOR\\KZV1A07\\x"},
         "",
         DesktopAction::Darken},
        {{L"status"}, kPathMessage, DesktopAction::Status},
        {{L"status", L"--state-file", L"\\\\server\\share\\j.json"}, kPathMessage},
        {{L"status", L"--state-file", L"C:j.json"}, kPathMessage},
        {{L"status", L"--state-file", L"C:\\"}, kPathMessage},  // three characters
        {{L"status", L"--state-file", L"C:\\a"}, ""},
        {{L"status", L"--state-file", L"1:\\j.json"}, kPathMessage},
        {{L"status", L"--state-file", L"C:\\j.json:stream"}, kPathMessage},
        {{L"status", L"--state-file", L"C:\\j\n.json"}, kPathMessage},
        {{L"status", L"--state-file", L"C:\\j\r.json"}, kPathMessage},
        {{L"status", L"--state-file", std::wstring(L"C:\\j\0x", 5)}, kPathMessage},
        {{L"status", L"--state-file", L"C:\\" + std::wstring(29997, L'x')}, ""},
        {{L"status", L"--state-file", L"C:\\" + std::wstring(29998, L'x')}, kPathMessage},
        {{L"status", L"--state-file", L"C:\\j.json", L"--recovery"}, "missing option value"},
    };
    for (const auto& c : cases) {
        DesktopRequest request;
        std::string message;
        const bool accepted = ParseDesktopRequest(c.args, request, message);
        const std::string where = c.args.empty() ? "(none)" : std::to_string(c.args.size());
        EXPECT_EQ(accepted, std::string(c.message).empty()) << message << " args " << where;
        EXPECT_EQ(message, c.message) << "args " << where;
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
    DesktopRequest tooLong, shorter;
    EXPECT_FALSE(ParseDesktopRequest({L"status", L"--state-file", path}, tooLong, message));
    path.resize(path.size() - smiley.size());
    EXPECT_TRUE(ParseDesktopRequest({L"status", L"--state-file", path}, shorter, message));
}

TEST(DesktopResultJson, OptionalMembersAppearOnlyWithValues) {
    DesktopResult result;
    result.action = static_cast<DesktopAction>(9);
    result.success = true;
    result.owned = result.detached = result.attached = true;
    result.state = "off";
    result.presence = "inactive";
    result.reason = "already_detached";
    result.token = "absent";
    result.canForget = true;
    result.displayId = L"MONITOR\\KZV1A07\\\x00E9";
    EXPECT_EQ(
        lenticor::SerializeResult(DesktopResultToJson(result), lenticor::Utf8Handling::Replace),
        "{\"action\":\"status\",\"attached\":true,\"controlMode\":\"display-path\","
        "\"darkenSupported\":true,\"detached\":true,"
        "\"displayId\":\"MONITOR\\\\KZV1A07\\\\\xC3\xA9\",\"owned\":true,"
        "\"presence\":\"inactive\",\"protocolVersion\":2,\"reason\":\"already_detached\","
        "\"reconcileSupported\":true,\"recovery\":{\"canForget\":true,\"token\":\"absent\"},"
        "\"state\":\"off\",\"success\":true,\"supported\":true}");

    DesktopResult failed;
    failed.errorCode = "DESKTOP_IO_FAILED";
    failed.errorMessage = "path \xFF unreadable";  // an OS message in another code page
    const std::string text =
        lenticor::SerializeResult(DesktopResultToJson(failed), lenticor::Utf8Handling::Replace);
    EXPECT_NE(text.find(R"("errorCode":"DESKTOP_IO_FAILED","errorMessage":"path )"
                        "\xEF\xBF\xBD"
                        R"( unreadable")"),
              std::string::npos)
        << text;
}

}  // namespace
}  // namespace nimbo::test
