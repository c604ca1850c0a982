#include "gl_present_method/undo_record.h"

namespace lenticor::gl_present_method {
namespace {

constexpr std::string_view kOwn = "own";
constexpr std::string_view kDefault = "default";
constexpr std::string_view kUserPrefix = "user:";

}  // namespace

std::string FormatUndoRecord(const UndoRecord& record) {
    switch (record.kind) {
        case UndoRecordKind::Own:
            return std::string(kOwn);
        case UndoRecordKind::Default:
            return std::string(kDefault);
        case UndoRecordKind::User:
            break;
    }
    return std::string(kUserPrefix) + std::to_string(record.value);
}

std::optional<UndoRecord> ParseUndoRecord(std::string_view text) {
    if (text == kOwn)
        return UndoRecord{UndoRecordKind::Own, 0};
    if (text == kDefault)
        return UndoRecord{UndoRecordKind::Default, 0};
    if (text.size() <= kUserPrefix.size() || text.substr(0, kUserPrefix.size()) != kUserPrefix)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text.substr(kUserPrefix.size())) {
        if (c < '0' || c > '9')
            return std::nullopt;
        // Checked per digit, so any run of leading zeros is fine and nothing
        // overflows on the way.
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return UndoRecord{UndoRecordKind::User, static_cast<std::uint32_t>(value)};
}

}  // namespace lenticor::gl_present_method
