#pragma once
// Port: the display-configuration interface of user32
// (GetDisplayConfigBufferSizes, QueryDisplayConfig, DisplayConfigGetDeviceInfo).
// Paths and modes travel as the layout-exact records of display_config_types.h,
// so what the portable code stores is byte for byte what Windows returned.
// Every call returns the Win32 error Windows returned (kErrorSuccess on success).
//
// SetDisplayConfig and the display-scale packets complete it.

#include "platform/display_config_types.h"
#include "platform/native_codes.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lenticor {

// QDC_* flags: exactly one of these selects what is queried.
constexpr std::uint32_t kQdcAllPaths = 0x1;
constexpr std::uint32_t kQdcOnlyActivePaths = 0x2;
constexpr std::uint32_t kQdcDatabaseCurrent = 0x4;

// DISPLAYCONFIG_TOPOLOGY_ID values.
constexpr std::uint32_t kTopologyInternal = 0x1;
constexpr std::uint32_t kTopologyClone = 0x2;
constexpr std::uint32_t kTopologyExtend = 0x4;
constexpr std::uint32_t kTopologyExternal = 0x8;

// DISPLAYCONFIG_TARGET_DEVICE_NAME after its header.
struct DisplayConfigTargetName {
    std::uint32_t flags = 0;  // bit 0 friendly name from EDID, bit 2 EDID ids valid
    std::uint32_t outputTechnology = 0;
    std::uint16_t edidManufactureId = 0;
    std::uint16_t edidProductCodeId = 0;
    std::uint32_t connectorInstance = 0;
    std::wstring monitorFriendlyDeviceName;  // at most 63 code units
    std::wstring monitorDevicePath;          // at most 127 code units
};

// DISPLAYCONFIG_SOURCE_DEVICE_NAME after its header.
struct DisplayConfigSourceName {
    std::wstring viewGdiDeviceName;  // e.g. \\.\DISPLAY1
};

class DisplayConfig {
  public:
    virtual ~DisplayConfig() = default;

    // GetDisplayConfigBufferSizes(flags, &pathCount, &modeCount).
    [[nodiscard]] virtual Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags,
                                                                 std::uint32_t& pathCount,
                                                                 std::uint32_t& modeCount) = 0;

    // QueryDisplayConfig. The sizes of `paths` and `modes` on entry are the
    // element counts passed in; on success both are trimmed to the counts
    // returned. kErrorInsufficientBuffer when the configuration needs more
    // (it changed since it was sized). `topologyId` must be given exactly
    // with kQdcDatabaseCurrent, as Windows demands (else kErrorInvalidParameter).
    [[nodiscard]] virtual Win32Error QueryDisplayConfig(
        std::uint32_t flags, std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
        std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO>& modes, std::uint32_t* topologyId) = 0;

    // DisplayConfigGetDeviceInfo with DISPLAYCONFIG_DEVICE_INFO_GET_TARGET_NAME.
    [[nodiscard]] virtual Win32Error GetTargetName(nimbo::dcfg::LUID adapterId,
                                                   std::uint32_t targetId,
                                                   DisplayConfigTargetName& name) = 0;

    // DisplayConfigGetDeviceInfo with DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME.
    [[nodiscard]] virtual Win32Error GetSourceName(nimbo::dcfg::LUID adapterId,
                                                   std::uint32_t sourceId,
                                                   DisplayConfigSourceName& name) = 0;

    // DisplayConfigGetDeviceInfo with the GET_DPI_SCALE packet: `packet`'s
    // header is sent as given (type -3, size 32) and its steps filled in.
    [[nodiscard]] virtual Win32Error GetDpiScale(
        nimbo::dcfg::DISPLAYCONFIG_GET_DPI_SCALE& packet) = 0;

    // DisplayConfigSetDeviceInfo with the SET_DPI_SCALE packet (type -4, size 24).
    [[nodiscard]] virtual Win32Error SetDpiScale(
        const nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE& packet) = 0;

    // SetDisplayConfig(paths, modes, flags) with the records exactly as given.
    [[nodiscard]] virtual Win32Error SetDisplayConfig(
        std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
        std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes, std::uint32_t flags) = 0;
};

}  // namespace lenticor
