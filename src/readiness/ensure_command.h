#pragma once
// --ensure-nimbo-ready [nimbo|nimbo:<id>] [--initial-dpi <percent>]: puts the
// one Nimbo display into 3840x2160@60Hz and, on request, sets its display
// scale. Neither parser rejects anything; what it does not recognise is
// ignored.

#include "app/dispatcher.h"
#include "readiness/display_mode.h"
#include "readiness/dpi_scale.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace nimbo {

struct InitialDpiRequest {
    bool requested = false;
    std::int32_t percent = 0;  // 0 when no valid value was given
};

// The id after "nimbo:" in the first argument after the command (UTF-8);
// empty for "nimbo", for anything else, or with no argument.
[[nodiscard]] std::string ParseNimboTarget(const lenticor::CommandArgs& args);

// "--initial-dpi <value>" anywhere after the command; the option always takes
// the next argument as its value. A later valid value overrides an earlier
// one; digits beyond the 32-bit range saturate at 2147483647 as _wtoi does.
[[nodiscard]] InitialDpiRequest ParseInitialDpi(const lenticor::CommandArgs& args);

// The result document; the DPI members only with a DPI result and a ready
// display, and only the four failure members when errorCode is set.
[[nodiscard]] nlohmann::json BuildEnsureJson(const NimboEnsureResult& result,
                                             const std::optional<InitialDpiResult>& dpi);

// Writes "[VXNimboEnsure]" + the document; 0 when the display is ready (the
// DPI outcome does not count), otherwise 1.
[[nodiscard]] int RunEnsureNimboReady(lenticor::Platform& platform, const std::string& targetId,
                                      const InitialDpiRequest& dpiRequest);

}  // namespace nimbo
