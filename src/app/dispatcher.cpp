#include "app/dispatcher.h"

#include "app/text.h"
#include "app/usage.h"
#include "platform/console.h"

#include <ostream>

namespace lenticor {

void WriteRejectedRequest(Console& console, std::string_view tag, nlohmann::json result,
                          const std::string& message, Utf8Handling handling) {
    result["errorCode"] = "INVALID_ARGUMENT";
    result["errorMessage"] = message;
    WriteResultLine(console.Out(), tag, result, handling);
}

int RunCommandLine(int argc, const wchar_t* const* argv, Platform& platform,
                   const std::vector<Command>& table) {
    auto& out = platform.console.Out();
    if (argc < 2 || argv == nullptr || argv[1] == nullptr) {
        PrintUsage(out);
        return kExitUsage;
    }
    const std::wstring_view first = argv[1];
    for (const auto& command : table) {
        if (command.name == first) {
            CommandArgs rest;
            for (int i = 2; i < argc && argv[i] != nullptr; ++i) {
                rest.emplace_back(argv[i]);
            }
            return command.run(platform, rest);
        }
    }
    // As UTF-8 like every other diagnostic: the wide stream converts through
    // the C locale and stops at the first character outside it.
    platform.console.Err() << "Unknown lenticor command: " << WideToUtf8(first) << std::endl;
    PrintUsage(out);
    return kExitUsage;
}

}  // namespace lenticor
