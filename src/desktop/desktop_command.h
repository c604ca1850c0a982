#pragma once
// The edge of the desktop subsystem: the words after --nimbo-desktop become a
// DesktopRequest, one run of the engine becomes one "[VXNimboDesktop]" line.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/dispatcher.h"
#include "desktop/desktop_request.h"
#include "desktop/desktop_result.h"

namespace lenticor {
class WindowSystem;
}

namespace nimbo {

inline constexpr const char* kDesktopResultTag = "[VXNimboDesktop]";

// Fills `request` and returns true, or returns false with the reason in
// `message`; `request.action` is set as soon as the action word is known, so
// the rejection line can name it.
[[nodiscard]] bool ParseDesktopRequest(const std::vector<std::wstring>& arguments,
                                       DesktopRequest& request, std::string& message);

// The result object, members per the host protocol (version 2).
[[nodiscard]] nlohmann::json DesktopResultToJson(const DesktopResult& result);

// Runs one request against the machine behind `platform`, writes the result
// line and returns 0 on success, else 1.
[[nodiscard]] int ExecuteDesktopCommand(lenticor::Platform& platform,
                                        const DesktopRequest& request);

// Asks every display to switch off. Only "the request was issued" is
// reported; failures write one line on `err`.
[[nodiscard]] bool DarkenDisplays(lenticor::WindowSystem& windows, std::ostream& err);

// The "--nimbo-desktop" entry of the command table.
[[nodiscard]] lenticor::Command MakeDesktopCommand();

}  // namespace nimbo
