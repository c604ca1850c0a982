#include "platform/sim/sim_display_devices.h"

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_records.h"

namespace lenticor::sim {

std::optional<DisplayDevice> SimDisplayDevices::EnumDisplayDevices(
    std::optional<std::wstring_view> device, std::uint32_t index, std::uint32_t flags) {
    const PortCall counted;
    if (!device) {
        std::uint32_t seen = 0;
        for (const auto& adapter : machine_.adapters) {
            for (const auto& output : adapter.outputs) {
                if (seen++ != index) {
                    continue;
                }
                std::uint32_t state = output.active ? kDisplayDeviceActive : 0;
                if (output.active && output.x == 0 && output.y == 0) {
                    state |= kDisplayDevicePrimaryDevice;
                }
                return DisplayDevice{
                    Fixed(output.deviceName, 32), Fixed(adapter.deviceString, 128), state,
                    Fixed(adapter.pnpId, 128),
                    Fixed(L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Video\\"
                          L"{5c6bbbbe-0000-0000-0000-000000000000}\\" +
                              std::to_wstring(output.sourceId),
                          128)};
            }
        }
        return std::nullopt;
    }
    // A source lists every monitor it drives, by index until the call fails
    // (https://learn.microsoft.com/en-us/windows/win32/api/winuser/nf-winuser-enumdisplaydevicesw,
    // Remarks): its own first, then those it duplicates to.
    const SimOutput* output = FindSimOutput(machine_, *device);
    if (output == nullptr || !output->monitor || index > output->clones.size()) {
        return std::nullopt;
    }
    const auto& monitor = index == 0 ? *output->monitor : output->clones[index - 1].monitor;
    return DisplayDevice{
        Fixed(output->deviceName + L"\\Monitor" + std::to_wstring(index), 32),
        Fixed(monitor.deviceString, 128),
        output->active ? kDisplayDeviceActive | kDisplayDeviceAttached : kDisplayDeviceAttached,
        Fixed(
            (flags & kEddGetDeviceInterfaceName) != 0 ? monitor.interfacePath : monitor.hardwareId,
            128),
        Fixed(L"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\" +
                  SimMonitorDriverKey(monitor),
              128)};
}

std::optional<DisplaySettings> SimDisplayDevices::EnumDisplaySettings(std::wstring_view deviceName,
                                                                      std::uint32_t modeNumber) {
    const PortCall counted;
    const SimOutput* found = FindSimOutput(machine_, deviceName);
    if (found == nullptr || found->faults.enumDisplaySettings) {
        return std::nullopt;
    }
    const auto& output = *found;
    constexpr std::uint32_t kModeFields = 0x40000 | 0x80000 | 0x100000 | 0x400000;
    constexpr std::uint32_t kPositionFields = 0x20 | 0x80;  // DM_POSITION | DM_DISPLAYORIENTATION
    DisplaySettings settings;
    SimMode mode;
    // ENUM_CURRENT_SETTINGS and ENUM_REGISTRY_SETTINGS; a source off the
    // desktop has no current mode in the simulation.
    if (modeNumber >= 0xFFFFFFFEu) {
        if (!output.active) {
            return std::nullopt;
        }
        mode = output.mode;
        settings.fields = kModeFields | kPositionFields;
        settings.positionX = output.x;
        settings.positionY = output.y;
        settings.displayOrientation = output.orientation;
    } else {
        if (modeNumber >= output.modes.size()) {
            return std::nullopt;
        }
        mode = output.modes[modeNumber];
        settings.fields = kModeFields;
    }
    settings.bitsPerPel = mode.bitsPerPixel;
    settings.pelsWidth = mode.width;
    settings.pelsHeight = mode.height;
    settings.displayFrequency = mode.refreshRate;
    return settings;
}

}  // namespace lenticor::sim
