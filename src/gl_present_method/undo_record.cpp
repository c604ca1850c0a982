#include "gl_present_method/undo_record.h"

#include "app/text.h"

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
    // Any run of leading zeros is fine; the value saturates, so nothing
    // overflows on the way.
    const auto value = DecimalValue(text.substr(kUserPrefix.size()));
    if (!value || *value > 0xFFFFFFFFu)
        return std::nullopt;
    return UndoRecord{UndoRecordKind::User, static_cast<std::uint32_t>(*value)};
}

}  // namespace lenticor::gl_present_method
