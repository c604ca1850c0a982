#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gl_present_method/undo_record.h"

namespace lenticor::gl_present_method {
namespace {

using Kind = UndoRecordKind;

TEST(UndoRecord, ParsesOnlyTheThreeFormsAndFormatsThemBack) {
    struct Case {
        std::string text;
        std::optional<UndoRecord> record;
        std::string formatted;  // empty: the same text
    };
    // clang-format off
    const Case cases[] = {
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
    for (const auto& c : cases) {
        const auto parsed = ParseUndoRecord(c.text);
        ASSERT_EQ(parsed.has_value(), c.record.has_value()) << c.text;
        if (!parsed)
            continue;
        EXPECT_EQ(parsed->kind, c.record->kind) << c.text;
        EXPECT_EQ(parsed->value, c.record->value) << c.text;
        EXPECT_EQ(FormatUndoRecord(*parsed), c.formatted.empty() ? c.text : c.formatted);
    }
}

}  // namespace
}  // namespace lenticor::gl_present_method
