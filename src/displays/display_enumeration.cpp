#include "displays/display_enumeration.h"

#include "app/diagnostic_log.h"
#include "app/text.h"
#include "displays/display_topology.h"
#include "displays/monitor_names.h"
#include "platform/display_devices.h"
#include "platform/dxgi.h"
#include "platform/platform.h"

#include <memory>
#include <string>

namespace nimbo {
namespace {

using lenticor::WideToUtf8;

// The model code of the first monitor on the adapter named `deviceName`.
std::wstring ManufacturerCode(lenticor::DisplayDevices& devices, std::wstring_view deviceName) {
    const auto adapter = FindDisplayAdapter(devices, deviceName);
    if (!adapter) {
        return {};
    }
    const auto monitor = devices.EnumDisplayDevices(adapter->deviceName, 0, 0);
    if (!monitor) {
        return {};
    }
    return ModelCodeFromDeviceId(monitor->deviceId);
}

DisplayInfo DescribeOutput(lenticor::DisplayDevices& devices, lenticor::Registry& registry,
                           const lenticor::DxgiOutputDesc& desc, std::uint32_t index,
                           const std::wstring& adapterName, std::uint32_t adapterIndex) {
    DisplayInfo display;
    display.index = index;
    display.name = desc.deviceName;
    display.desktopRect = desc.desktopCoordinates;
    display.isPrimary = desc.desktopCoordinates.left == 0 && desc.desktopCoordinates.top == 0;
    display.adapterName = adapterName;
    display.adapterIndex = adapterIndex;
    display.friendlyName = GetMonitorFriendlyName(devices, registry, display.name);
    display.manufacturerCode = ManufacturerCode(devices, display.name);
    if (const auto settings =
            devices.EnumDisplaySettings(display.name, lenticor::kEnumCurrentSettings)) {
        display.refreshRate = static_cast<std::int32_t>(settings->displayFrequency);
        display.bitsPerPixel = static_cast<std::int32_t>(settings->bitsPerPel);
        display.orientation = static_cast<std::int32_t>(settings->displayOrientation);
    }
    return display;
}

const char* OrientationText(std::int32_t orientation) {
    switch (orientation) {
        case 0:
            return "0°";
        case 1:
            return "90°";
        case 2:
            return "180°";
        case 3:
            return "270°";
        default:
            return "Unknown";
    }
}

}  // namespace

EnumerationHistory& ProcessEnumerationHistory() {
    static EnumerationHistory history;
    return history;
}

std::vector<DisplayInfo> EnumerateDisplays(lenticor::Platform& platform,
                                           lenticor::DiagnosticLog& log,
                                           EnumerationHistory& history) {
    const bool verbose = !history.enumeratedBefore;
    std::vector<DisplayInfo> displays;
    {
        std::unique_ptr<lenticor::DxgiFactory> factory;
        const auto created = platform.dxgi.CreateDXGIFactory1(factory);
        if (!lenticor::Succeeded(created)) {
            log.LogDisplayError("Failed to create DXGI factory", created);
            return displays;
        }
        // Any failure ends the walks; DXGI_ERROR_NOT_FOUND is the normal end.
        for (std::uint32_t a = 0;; ++a) {
            std::unique_ptr<lenticor::DxgiAdapter> adapter;
            if (!lenticor::Succeeded(factory->EnumAdapters1(a, adapter))) {
                break;
            }
            std::wstring adapterName = L"Unknown";
            lenticor::DxgiAdapterDesc adapterDesc;
            if (lenticor::Succeeded(adapter->GetDesc1(adapterDesc))) {
                adapterName = adapterDesc.description;
            }
            for (std::uint32_t o = 0;; ++o) {
                std::unique_ptr<lenticor::DxgiOutput> output;
                if (!lenticor::Succeeded(adapter->EnumOutputs(o, output))) {
                    break;
                }
                lenticor::DxgiOutputDesc outputDesc;
                if (!lenticor::Succeeded(output->GetDesc(outputDesc))) {
                    continue;
                }
                displays.push_back(
                    DescribeOutput(platform.displayDevices, platform.registry, outputDesc,
                                   static_cast<std::uint32_t>(displays.size()), adapterName, a));
                if (verbose) {
                    WriteDisplayDetails(displays.back(), log);
                }
            }
        }
    }
    history.enumeratedBefore = true;
    DetectClonedDisplays(displays, log);
    const auto topology = QueryDisplayTopology(platform.displayConfig, log);
    WriteEnumerationSummary(displays, topology, log);
    return displays;
}

void WriteDisplayDetails(const DisplayInfo& display, lenticor::DiagnosticLog& log) {
    const auto& rect = display.desktopRect;
    log.LogDisplayInfo("📺 Display " + std::to_string(display.index) + ": " +
                       WideToUtf8(display.friendlyName));
    if (!display.manufacturerCode.empty()) {
        log.LogDisplayInfo("   Model Code: " + WideToUtf8(display.manufacturerCode));
    }
    if (display.name != display.friendlyName) {
        log.LogDisplayInfo("   Device: " + WideToUtf8(display.name));
    }
    log.LogDisplayInfo("   Resolution: " + std::to_string(RectWidth(rect)) + "x" +
                       std::to_string(RectHeight(rect)) + " @ " +
                       std::to_string(display.refreshRate) + "Hz");
    log.LogDisplayInfo("   Position: (" + std::to_string(rect.left) + "," +
                       std::to_string(rect.top) + ")");
    log.LogDisplayInfo("   Color Depth: " + std::to_string(display.bitsPerPixel) + " bits");
    log.LogDisplayInfo(std::string("   Orientation: ") + OrientationText(display.orientation));
    log.LogDisplayInfo(std::string("   Status: ") + (display.isPrimary ? "PRIMARY" : "Secondary"));
    log.LogDisplayInfo("   Adapter[" + std::to_string(display.adapterIndex) +
                       "]: " + WideToUtf8(display.adapterName));
}

void WriteEnumerationSummary(const std::vector<DisplayInfo>& displays, DisplayTopology topology,
                             lenticor::DiagnosticLog& log) {
    log.LogDisplayInfo("🎯 Display Enumeration Summary:");
    log.LogDisplayInfo("   Total displays found: " + std::to_string(displays.size()));
    log.LogDisplayInfo(std::string("   Display topology: ") + TopologyName(topology));

    std::string primary = "Not found";
    std::string external;
    std::size_t cloned = 0;
    for (const auto& display : displays) {
        if (display.isPrimary) {
            primary = std::to_string(display.index);
        } else {
            external.append(external.empty() ? "" : ", ").append(std::to_string(display.index));
        }
        cloned += display.isCloned ? 1 : 0;
    }
    log.LogDisplayInfo("   Primary display index: " + primary);
    if (!external.empty()) {
        log.LogDisplayInfo("   External display indices: " + external);
    }
    if (cloned > 0) {
        log.LogWarning("   ⚠️ Cloned displays detected: " + std::to_string(cloned) +
                       " (capture may not work correctly on cloned displays)");
    }
}

}  // namespace nimbo
