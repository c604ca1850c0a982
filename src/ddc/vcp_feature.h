#pragma once
// One VCP feature read or written on one physical monitor, the way both DDC/CI
// commands do it: a failure keeps the native error for the result line and
// writes one line on standard error ("[NimboPower] D6 read failed, error=31").

#include "platform/monitor_configuration.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string_view>

namespace nimbo {

// Which feature, and how the command names it in its stderr lines.
struct VcpFeature {
    std::uint8_t code = 0;
    std::string_view tag;   // "[NimboPower]"
    std::string_view name;  // "D6", "VCP 10"
};

struct VcpReading {
    std::uint32_t current = 0;
    std::uint32_t maximum = 0;
};

// GetVCPFeatureAndVCPFeatureReply; nullopt on failure, with its GetLastError
// in `nativeError` and "<tag> <name> read failed, error=N" on `err`.
[[nodiscard]] std::optional<VcpReading> ReadVcpFeature(lenticor::MonitorConfiguration& api,
                                                       lenticor::PhysicalMonitorHandle monitor,
                                                       const VcpFeature& feature, std::ostream& err,
                                                       lenticor::Win32Error& nativeError);

// SetVCPFeature; false on failure, with its GetLastError in `nativeError` and
// "<tag> <name> write failed, error=N" on `err`.
[[nodiscard]] bool WriteVcpFeature(lenticor::MonitorConfiguration& api,
                                   lenticor::PhysicalMonitorHandle monitor,
                                   const VcpFeature& feature, std::uint32_t value,
                                   std::ostream& err, lenticor::Win32Error& nativeError);

}  // namespace nimbo
