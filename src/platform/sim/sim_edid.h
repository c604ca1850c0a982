#pragma once
// EDID base blocks for simulated monitors, so a machine file can say
// {"name": "Korvo Nimbo"} instead of spelling 128 bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace lenticor::sim {

// A 128-byte EDID 1.4 base block: manufacturer and product code from the
// model id ("KZV1A07" -> "KZV", 0x1A07; other ids leave them zero), a detailed
// timing for the given mode at offset 54, the monitor name descriptor (FC,
// text ended by a line feed and padded with blanks) at 72, a range-limits
// descriptor at 90, a dummy descriptor at 108 and a valid checksum.
[[nodiscard]] std::vector<std::uint8_t> BuildEdid(const std::wstring& modelId,
                                                  const std::string& name, std::uint32_t width,
                                                  std::uint32_t height, std::uint32_t refreshRate);

}  // namespace lenticor::sim
