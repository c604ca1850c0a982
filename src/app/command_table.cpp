#include "app/dispatcher.h"

#include "app/usage.h"
#include "ddc/brightness_command.h"
#include "ddc/power_command.h"
#include "desktop/desktop_command.h"
#include "displays/list_displays_command.h"
#include "gl_present_method/present_method_command.h"
#include "platform/console.h"
#include "readiness/check_command.h"
#include "readiness/ensure_command.h"

namespace lenticor {
namespace {

int Help(Platform& platform, const CommandArgs&) {
    PrintUsage(platform.console.Out());
    return kExitSuccess;
}

int ListDisplays(Platform& platform, const CommandArgs&) {
    return nimbo::ListDisplaysCommand(platform);
}

int CheckNimbo(Platform& platform, const CommandArgs&) {
    return nimbo::RunNimboCheck(platform);
}

int EnsureNimboReady(Platform& platform, const CommandArgs& args) {
    const auto dpi = nimbo::ParseInitialDpi(args);
    const auto target = nimbo::ParseNimboTarget(args);
    return nimbo::RunEnsureNimboReady(platform, target, dpi);
}

}  // namespace

std::vector<Command> BuildCommandTable() {
    // Order matters only for readability today (names are matched exactly),
    // but it is the documented order; keep new commands in it.
    return {
        {L"--help", Help},
        {L"-h", Help},
        {L"--list-displays", ListDisplays},
        {L"--check-nimbo", CheckNimbo},
        {L"--ensure-nimbo-ready", EnsureNimboReady},
        gl_present_method::MakePresentMethodCommand(),
        nimbo::MakeDesktopCommand(),
        nimbo::MakeDisplayPowerCommand(),
        nimbo::MakeDisplayBrightnessCommand(),
    };
}

}  // namespace lenticor
