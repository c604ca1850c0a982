#pragma once
// The MCCS capabilities string as far as the power command needs it: one VCP
// code's value list, and whether D6 (power mode) offers both 01 (on) and
// 04 (off). Pure text processing, linear in the string's length.

#include "ddc/ddc_target.h"

#include <optional>
#include <string>
#include <string_view>

namespace nimbo {

enum class DisplayPowerCapability { Supported = 0, Unavailable = 1, Unsupported = 2 };

// The value list of `code` in the first VCP(...) section, upper-cased and
// with blanks normalised; an engaged empty string for a code without a list;
// empty when the code is absent or the section cannot be followed.
//   ("vcp(10 D6(01 04))", "D6") -> "01 04";  ("VCP(D6( 01   04 ))", "D6") -> "01 04"
// Codes run together count one by one, a code on its own taking precedence:
//   ("vcp(52 6CC9D6(01 04)DF)", "D6") -> "01 04";  ("vcp(6CD6 D6(01))", "D6") -> "01"
[[nodiscard]] std::optional<std::string> FindVcpCodeValues(std::string_view capabilities,
                                                           std::string_view code);

// D6 lists both the token "01" and the token "04"; a token of an even number
// of hexadecimal digits counts as its two-digit values ("0104" is 01 and 04).
[[nodiscard]] bool AdvertisesPowerOnAndOff(std::string_view capabilities);

// Reads the capabilities of `monitor`: Unavailable when that fails, else
// Supported or Unsupported.
[[nodiscard]] DisplayPowerCapability CheckPowerCapability(lenticor::MonitorConfiguration& api,
                                                          lenticor::Console& console,
                                                          lenticor::PhysicalMonitorHandle monitor,
                                                          const CancelPoll& cancel);

}  // namespace nimbo
