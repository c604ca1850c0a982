#include "app/dispatcher.h"

#include "app/usage.h"
#include "platform/console.h"

namespace lenticor {
namespace {

int Help(Platform& platform, const CommandArgs&) {
    PrintUsage(platform.console.Out());
    return kExitSuccess;
}

}  // namespace

std::vector<Command> BuildCommandTable() {
    // Order matters only for readability today (names are matched exactly),
    // but it is the documented order; keep new commands in it.
    return {
        {L"--help", Help},
        {L"-h", Help},
    };
}

}  // namespace lenticor
