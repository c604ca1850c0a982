#pragma once
// Device properties that must be whole strings (instance ids, driver keys),
// read from the configuration manager into a bounded buffer.

#include "platform/config_manager.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lenticor {

// The buffer a string property is read into: 199 characters and the NUL.
inline constexpr std::uint32_t kStringPropertyBytes = 400;

// The text of a DEVPROP_TYPE_STRING property up to its first NUL (possibly
// empty); nullopt unless the call succeeded and the value is whole UTF-16
// code units that fit the buffer and end with a NUL.
[[nodiscard]] std::optional<std::wstring> ReadInterfaceStringProperty(
    ConfigManager& manager, const std::wstring& interfacePath, DeviceProperty key);
[[nodiscard]] std::optional<std::wstring> ReadDevNodeStringProperty(ConfigManager& manager,
                                                                    DevInst node,
                                                                    DeviceProperty key);

}  // namespace lenticor
