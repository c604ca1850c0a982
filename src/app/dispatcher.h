#pragma once
// The command front end: matches the first argument against the command table
// and runs the command with the arguments that follow it.

#include "app/result_line.h"
#include "app/text.h"
#include "platform/platform.h"

#include <nlohmann/json.hpp>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lenticor {

// The arguments after the command name (argv[2] onwards).
using CommandArgs = std::vector<std::wstring>;

struct Command {
    // Matched with equal length and equal code units: no case folding, no
    // prefixes, no option=value forms.
    std::wstring_view name;
    std::function<int(Platform&, const CommandArgs&)> run;
};

// Glue for a command with a request parser. A rejected request is written as
// the command's default result with "errorCode" "INVALID_ARGUMENT" and the
// parser's message, and the run ends with exit code 2; the command itself only
// supplies these pieces.
template <class Request>
struct ParsedCommand {
    // Fills `request` (default-constructed) and returns true, or returns
    // false with a reason in `message`.
    std::function<bool(const CommandArgs&, Request&, std::string&)> parse;
    std::function<int(Platform&, const Request&)> run;
    // The command's default result as JSON, carrying the request fields its
    // rejection names (e.g. the action); errorCode/errorMessage are added here.
    std::function<nlohmann::json(const Request&)> defaultResult;
    std::string_view tag;
    Utf8Handling handling;
};

// One action word of a parsed command and the action it names.
template <class Action>
struct ActionWord {
    std::wstring_view word;
    Action action;
};

// The action whose word equals `word`, letter case ignored (towlower) when
// `anyCase`; nullopt when no word matches.
template <class Action, std::size_t N>
[[nodiscard]] std::optional<Action> FindAction(std::wstring_view word,
                                               const std::array<ActionWord<Action>, N>& words,
                                               bool anyCase) {
    const std::wstring wanted = anyCase ? ToLowerWide(word) : std::wstring(word);
    for (const auto& [name, action] : words) {
        if (name == wanted) {
            return action;
        }
    }
    return std::nullopt;
}

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Writes the result line of a rejected request.
void WriteRejectedRequest(Console& console, std::string_view tag, nlohmann::json result,
                          const std::string& message, Utf8Handling handling);

template <class Request>
Command MakeParsedCommand(std::wstring_view name, ParsedCommand<Request> command) {
    return Command{
        name, [command = std::move(command)](Platform& platform, const CommandArgs& args) {
            Request request{};
            std::string message;
            if (command.parse(args, request, message)) {
                return command.run(platform, request);
            }
            WriteRejectedRequest(platform.console, command.tag, command.defaultResult(request),
                                 message, command.handling);
            return kExitUsage;
        }};
}

// The commands in matching order: "--help", "-h", then every command whose
// subsystem is built.
[[nodiscard]] std::vector<Command> BuildCommandTable();

// The entry point behind wmain and lenticor-sim's main. `argv` may be null,
// and so may its second element.
[[nodiscard]] int RunCommandLine(int argc, const wchar_t* const* argv, Platform& platform,
                                 const std::vector<Command>& table);

}  // namespace lenticor
