// The present-method undo record: what is accepted is exactly what formatting
// it gives back (leading zeros aside), and any record formats to text that
// parses back to it.
#include "fuzz_support.h"
#include "gl_present_method/undo_record.h"

#include <cstring>

using namespace lenticor::gl_present_method;

FUZZ_TARGET {
    std::string text(fz::AsText(data, size));
    if (const auto record = ParseUndoRecord(text)) {
        while (text.starts_with("user:0") && text.size() > 6)
            text.erase(5, 1);
        FUZZ_CHECK(FormatUndoRecord(*record) == text);
    }
    if (size >= 5) {
        std::uint32_t value = 0;
        std::memcpy(&value, data + 1, sizeof value);
        const auto kind = static_cast<UndoRecordKind>(data[0] % 3);
        const auto parsed = ParseUndoRecord(FormatUndoRecord({kind, value}));
        FUZZ_CHECK(parsed && parsed->kind == kind &&
                   parsed->value == (kind == UndoRecordKind::User ? value : 0));
    }
}
