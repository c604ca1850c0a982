#include "displays/list_displays_command.h"

#include "app/diagnostic_log.h"
#include "app/dispatcher.h"
#include "app/result_line.h"
#include "app/text.h"
#include "displays/display_enumeration.h"
#include "displays/display_topology.h"
#include "platform/console.h"
#include "platform/platform.h"

#include <exception>
#include <ostream>

namespace nimbo {

nlohmann::json DisplayListToJson(const std::vector<DisplayInfo>& displays,
                                 DisplayTopology topology) {
    auto list = nlohmann::json::array();
    for (const auto& display : displays) {
        list.push_back({
            {"adapterIndex", display.adapterIndex},
            {"adapterName", lenticor::WideToUtf8(display.adapterName)},
            {"friendlyName", lenticor::WideToUtf8(display.friendlyName)},
            {"height", RectHeight(display.desktopRect)},
            {"index", display.index},
            {"isCloned", display.isCloned},
            {"isPrimary", display.isPrimary},
            {"manufacturerCode", lenticor::WideToUtf8(display.manufacturerCode)},
            {"name", lenticor::WideToUtf8(display.name)},
            {"refreshRate", display.refreshRate},
            {"width", RectWidth(display.desktopRect)},
        });
    }
    return {{"displays", std::move(list)}, {"topology", TopologyName(topology)}};
}

int ListDisplaysCommand(lenticor::Platform& platform) {
    auto& out = platform.console.Out();
    auto& err = platform.console.Err();
    try {
        lenticor::DiagnosticLog log(err, platform.clock);
        const auto displays = EnumerateDisplays(platform, log);
        if (displays.empty()) {
            err << "Error: No displays found" << std::endl;
            return lenticor::kExitFailure;
        }
        // The list reports the topology as it is now, so it asks again rather
        // than reuse the enumeration's answer.
        const auto result =
            DisplayListToJson(displays, QueryDisplayTopology(platform.displayConfig, log));
        lenticor::WriteResultLine(out, "[VXDisplayList]", result, lenticor::Utf8Handling::Strict);
        return lenticor::kExitSuccess;
    } catch (const std::exception& error) {
        err << "Error enumerating displays: " << error.what() << std::endl;
        return lenticor::kExitFailure;
    }
}

}  // namespace nimbo
