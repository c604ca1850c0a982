#pragma once
// The undo record: how to put an exe's driver profile back, as the short ASCII
// text the undo stores keep ("own", "default", "user:<decimal>").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lenticor::gl_present_method {

enum class UndoRecordKind {
    Own,      // the profile was created for the exe; undo deletes it
    Default,  // the exe's profile lacked the setting; undo removes it
    User,     // the exe's profile held `value`; undo writes it back
};

struct UndoRecord {
    UndoRecordKind kind = UndoRecordKind::Own;
    std::uint32_t value = 0;  // User only
};

// "own", "default" or "user:" + the value without leading zeros.
std::string FormatUndoRecord(const UndoRecord& record);

// The whole text, case-sensitive: "own", "default", or "user:" and at least
// one ASCII digit (leading zeros allowed, no sign or blanks) up to 4294967295.
// Anything else, a trailing line feed included, is nullopt.
std::optional<UndoRecord> ParseUndoRecord(std::string_view text);

}  // namespace lenticor::gl_present_method
