#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gl_present_method/undo_record.h"

namespace lenticor::gl_present_method {
namespace {

using Kind = UndoRecordKind;

TEST(UndoRecord, ParsesOnlyTheThreeFormsAndFormatsThemBack) {
    // The text, what it parses to and how that formats (empty: the same text).
    // clang-format off
    const std::tuple<std::string, std::optional<UndoRecord>, std::string> cases[] = {
        {"own", UndoRecord{Kind::Own, 0}, ""},
        {"default", UndoRecord{Kind::Default, 0}, ""},
        {"user:0", UndoRecord{Kind::User, 0}, ""},
        {"user:4294967295", UndoRecord{Kind::User, 4294967295u}, ""},
        {"user:0000000000000000000042", UndoRecord{Kind::User, 42}, "user:42"},
        {"user:4294967296", std::nullopt, ""},
        {"user:", std::nullopt, ""},
        {"user:-1", std::nullopt, ""},
        {"Default", std::nullopt, ""},
        {"own\n", std::nullopt, ""},
        // A 63-byte cut of a longer file is still just text to reject.
        {"user:" + std::string(58, '1'), std::nullopt, ""},
    };
    // clang-format on
    for (const auto& [text, record, formatted] : cases) {
        const auto parsed = ParseUndoRecord(text);
        ASSERT_EQ(parsed.has_value(), record.has_value()) << text;
        if (parsed) {
            EXPECT_EQ(std::tie(parsed->kind, parsed->value), std::tie(record->kind, record->value));
            EXPECT_EQ(FormatUndoRecord(*parsed), formatted.empty() ? text : formatted);
        }
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
