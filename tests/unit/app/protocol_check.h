#pragma once
// Result lines checked against the protocol's JSON Schemas by the same
// checker the end-to-end runners use, so a serialiser cannot drift from what
// hosts were promised.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lenticor::test {

// One verdict per line ("[VX...]" + JSON, no line feed): empty when the
// protocol allows the line, else what is wrong with it. One checker run
// serves them all.
[[nodiscard]] std::vector<std::string> ProtocolProblems(const std::vector<std::string>& lines);

// The compact line a serialiser's document becomes under `tag`.
[[nodiscard]] std::string ResultLineOf(const char* tag, const nlohmann::json& document);

}  // namespace lenticor::test
