#include "app/device_properties.h"

#include "app/text.h"

#include <array>
#include <span>

namespace lenticor {
namespace {

using PropertyBuffer = std::array<std::uint8_t, kStringPropertyBytes>;

std::optional<std::wstring> StringProperty(ConfigRet result, std::uint32_t type,
                                           const PropertyBuffer& buffer, std::uint32_t size) {
    if (result != kCrSuccess || type != kDevPropTypeString || size < 2 ||
        size > kStringPropertyBytes || size % 2 != 0) {
        return std::nullopt;
    }
    std::wstring text = Utf16LeToWide(std::span(buffer.data(), size));
    if (text.back() != L'\0') {
        return std::nullopt;
    }
    text.resize(text.find(L'\0'));
    return text;
}

}  // namespace

std::optional<std::wstring> ReadInterfaceStringProperty(ConfigManager& manager,
                                                        const std::wstring& interfacePath,
                                                        DeviceProperty key) {
    PropertyBuffer buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = kStringPropertyBytes;
    const ConfigRet result =
        manager.GetDeviceInterfaceProperty(interfacePath, key, type, buffer, size);
    return StringProperty(result, type, buffer, size);
}

std::optional<std::wstring> ReadDevNodeStringProperty(ConfigManager& manager, DevInst node,
                                                      DeviceProperty key) {
    PropertyBuffer buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = kStringPropertyBytes;
    const ConfigRet result = manager.GetDevNodeProperty(node, key, type, buffer, size);
    return StringProperty(result, type, buffer, size);
}

}  // namespace lenticor
