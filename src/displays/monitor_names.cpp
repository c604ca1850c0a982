#include "displays/monitor_names.h"

#include "platform/display_devices.h"
#include "platform/registry.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace nimbo {
namespace {

constexpr std::wstring_view kMonitorPrefix = L"MONITOR\\";
constexpr std::wstring_view kDisplayEnumKey = L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\";

constexpr std::size_t kEdidBlockSize = 128;
constexpr std::array<std::size_t, 4> kDescriptorOffsets = {54, 72, 90, 108};

// Room for the largest EDID there is (256 blocks of 128 bytes). A buffer of
// one or two blocks would make Windows refuse the whole value
// (ERROR_MORE_DATA) for monitors with several extension blocks and so lose a
// name that sits in the base block.
constexpr std::size_t kEdidQueryCapacity = 256 * kEdidBlockSize;

// Blanks and control characters: the padding after a name, which real EDIDs
// fill with anything from blanks to a carriage return or stray bytes.
bool IsTrailingFiller(std::uint8_t byte) {
    return byte <= ' ';
}

// Where the model code starts: just after the first "MONITOR\" in `deviceId`.
std::optional<std::size_t> ModelCodeStart(std::wstring_view deviceId) {
    const auto prefix = deviceId.find(kMonitorPrefix);
    if (prefix == std::wstring_view::npos) {
        return std::nullopt;
    }
    return prefix + kMonitorPrefix.size();
}

}  // namespace

std::wstring ModelCodeFromDeviceId(std::wstring_view deviceId) {
    const auto found = ModelCodeStart(deviceId);
    if (!found) {
        return {};
    }
    const auto start = *found;
    const auto end = deviceId.find(L'\\', start);
    if (end == std::wstring_view::npos) {
        return {};
    }
    return std::wstring(deviceId.substr(start, end - start));
}

std::wstring MonitorNameFromEdid(std::span<const std::uint8_t> edid) {
    if (edid.size() < kEdidBlockSize) {
        return {};
    }
    for (const auto offset : kDescriptorOffsets) {
        const auto descriptor = edid.subspan(offset, 18);
        if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0 ||
            descriptor[3] != 0xFC || descriptor[4] != 0) {
            continue;
        }
        auto text = descriptor.subspan(5, 13);
        std::size_t length = 0;
        // The name ends at its line feed; what follows is padding, which some
        // monitors fill with garbage ("L9W\n4").
        while (length < text.size() && text[length] != 0 && text[length] != '\n') {
            ++length;
        }
        while (length > 0 && IsTrailingFiller(text[length - 1])) {
            --length;
        }
        if (length == 0) {
            continue;
        }
        std::wstring name;
        name.reserve(length);
        for (std::size_t i = 0; i < length; ++i) {
            name.push_back(static_cast<wchar_t>(text[i]));
        }
        return name;
    }
    return {};
}

std::wstring ReadEdidMonitorName(lenticor::Registry& registry, std::wstring_view deviceId) {
    const auto found = ModelCodeStart(deviceId);
    if (!found) {
        return {};
    }
    const auto start = *found;
    // The model has at least one character, so the closing "\" is looked for
    // from the character after the first one.
    const auto end =
        start < deviceId.size() ? deviceId.find(L'\\', start + 1) : std::wstring_view::npos;
    if (end == std::wstring_view::npos) {
        return {};
    }
    const std::wstring modelKey =
        std::wstring(kDisplayEnumKey).append(deviceId.substr(start, end - start));

    std::unique_ptr<lenticor::RegistryKey> model;
    if (registry.OpenKey(lenticor::RegistryHive::LocalMachine, modelKey, lenticor::kKeyRead,
                         model) != lenticor::kErrorSuccess) {
        return {};
    }
    std::wstring instance;
    for (std::uint32_t index = 0; model->EnumKey(index, instance) == lenticor::kErrorSuccess;
         ++index) {
        std::unique_ptr<lenticor::RegistryKey> parameters;
        if (registry.OpenKey(lenticor::RegistryHive::LocalMachine,
                             modelKey + L"\\" + instance + L"\\Device Parameters",
                             lenticor::kKeyRead, parameters) != lenticor::kErrorSuccess) {
            continue;
        }
        std::uint32_t type = 0;
        std::vector<std::uint8_t> edid;
        if (parameters->QueryValue(L"EDID", kEdidQueryCapacity, type, edid) !=
                lenticor::kErrorSuccess ||
            edid.size() < kEdidBlockSize) {
            continue;
        }
        auto name = MonitorNameFromEdid(edid);
        if (!name.empty()) {
            return name;
        }
    }
    return {};
}

std::optional<lenticor::DisplayDevice> FindDisplayAdapter(lenticor::DisplayDevices& devices,
                                                          std::wstring_view deviceName) {
    for (std::uint32_t index = 0;; ++index) {
        auto adapter = devices.EnumDisplayDevices(std::nullopt, index, 0);
        if (!adapter) {
            return std::nullopt;
        }
        if (adapter->deviceName == deviceName) {
            return adapter;
        }
    }
}

std::wstring GetMonitorFriendlyName(lenticor::DisplayDevices& devices, lenticor::Registry& registry,
                                    std::wstring_view deviceName) {
    const auto adapter = FindDisplayAdapter(devices, deviceName);
    if (!adapter) {
        return std::wstring(deviceName);
    }
    const auto monitor = devices.EnumDisplayDevices(adapter->deviceName, 0, 0);
    if (!monitor) {
        return adapter->deviceString;
    }
    auto edidName = ReadEdidMonitorName(registry, monitor->deviceId);
    if (!edidName.empty()) {
        return edidName;
    }
    if (monitor->deviceString.find(L"Generic PnP Monitor") != std::wstring::npos ||
        monitor->deviceString.find(L"Generic Non-PnP Monitor") != std::wstring::npos) {
        auto model = ModelCodeFromDeviceId(monitor->deviceId);
        if (!model.empty() && model != L"Default_Monitor") {
            return model;
        }
        return adapter->deviceString;
    }
    return monitor->deviceString;
}

}  // namespace nimbo
