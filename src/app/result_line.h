#pragma once
// The result line: the one line a run writes on standard output for the host,
// a bracketed tag followed at once by a compact JSON object, then "\n" + flush.

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <string_view>

namespace lenticor {

// How invalid UTF-8 inside text values is treated when the object is dumped.
// Strict throws nlohmann::json::type_error (the listing commands, whose text
// all comes from WideToUtf8 and so is always valid); Replace writes U+FFFD.
enum class Utf8Handling { Strict, Replace };

// "errorCode" and "errorMessage", both only when `code` is not empty: a
// result names its failure and says nothing of one when it succeeded.
void AddErrorMembers(nlohmann::json& result, const std::string& code, const std::string& message);

// Compact JSON: no blanks, members in ascending byte order, raw UTF-8.
[[nodiscard]] std::string SerializeResult(const nlohmann::json& result, Utf8Handling handling);

// Writes tag + SerializeResult(result) + endl in one statement.
void WriteResultLine(std::ostream& out, std::string_view tag, const nlohmann::json& result,
                     Utf8Handling handling);

}  // namespace lenticor
