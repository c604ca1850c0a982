// The present-method undo record: accepted exactly when an independent reading
// of the grammar accepts, and parse and format are inverse on what is accepted.
#include "fuzz_support.h"
#include "gl_present_method/undo_record.h"

namespace fz = lenticor::fuzz;
using namespace lenticor::gl_present_method;

namespace {

bool SameRecord(const UndoRecord& a, const UndoRecord& b) {
    return a.kind == b.kind && a.value == b.value;
}

// "own", "default" or "user:" with one or more digits worth at most 2^32 - 1.
bool Grammar(std::string_view text) {
    if (text == "own" || text == "default")
        return true;
    if (!text.starts_with("user:") || text.size() == 5)
        return false;
    std::string_view digits = text.substr(5);
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
    }
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    return digits.size() < 10 || (digits.size() == 10 && digits <= "4294967295");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fz::AsText(data, size);
    const auto record = ParseUndoRecord(text);
    FUZZ_CHECK(record.has_value() == Grammar(text));
    if (record) {
        const std::string formatted = FormatUndoRecord(*record);
        const auto again = ParseUndoRecord(formatted);
        FUZZ_CHECK(again && SameRecord(*again, *record));
        FUZZ_CHECK(FormatUndoRecord(*again) == formatted);
    }
    // Any record formats to something that parses back to it.
    if (size >= 5) {
        const UndoRecord built{
            static_cast<UndoRecordKind>(data[0] % 3),
            static_cast<std::uint32_t>(data[1] | data[2] << 8 | data[3] << 16 |
                                       static_cast<std::uint32_t>(data[4]) << 24)};
        const UndoRecord expected{built.kind, built.kind == UndoRecordKind::User ? built.value : 0};
        const auto parsed = ParseUndoRecord(FormatUndoRecord(built));
        FUZZ_CHECK(parsed && SameRecord(*parsed, expected));
    }
    return 0;
}
