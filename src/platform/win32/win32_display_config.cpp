#include "windows_api.h"

#include "fixed_text.h"
#include "optional_export.h"
#include "win32_ports.h"

#include <cstring>
#include <type_traits>
#include <vector>

namespace lenticor::win32 {
namespace {

// Paths and modes are copied byte for byte between the SDK records and ours.
static_assert(sizeof(::DISPLAYCONFIG_PATH_INFO) == sizeof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO));
static_assert(sizeof(::DISPLAYCONFIG_MODE_INFO) == sizeof(nimbo::dcfg::DISPLAYCONFIG_MODE_INFO));
static_assert(offsetof(::DISPLAYCONFIG_PATH_INFO, targetInfo) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO, targetInfo));
static_assert(offsetof(::DISPLAYCONFIG_PATH_INFO, flags) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO, flags));
static_assert(offsetof(::DISPLAYCONFIG_MODE_INFO, targetMode) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_MODE_INFO, targetMode));
static_assert(std::is_trivially_copyable_v<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO>);
static_assert(std::is_trivially_copyable_v<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO>);
static_assert(offsetof(::DISPLAYCONFIG_PATH_INFO, sourceInfo.modeInfoIdx) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO, sourceInfo.modeInfoIdx));
static_assert(offsetof(::DISPLAYCONFIG_PATH_INFO, targetInfo.targetAvailable) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_PATH_INFO, targetInfo.targetAvailable));
static_assert(offsetof(::DISPLAYCONFIG_MODE_INFO, adapterId) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_MODE_INFO, adapterId));
static_assert(offsetof(::DISPLAYCONFIG_MODE_INFO, sourceMode.position) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_MODE_INFO, sourceMode.position));

// The scale packets are handed to Windows through our header, so it must be
// the SDK's header byte for byte.
static_assert(sizeof(::DISPLAYCONFIG_DEVICE_INFO_HEADER) ==
              sizeof(nimbo::dcfg::DISPLAYCONFIG_DEVICE_INFO_HEADER));
static_assert(offsetof(::DISPLAYCONFIG_DEVICE_INFO_HEADER, adapterId) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_DEVICE_INFO_HEADER, adapterId));
static_assert(offsetof(::DISPLAYCONFIG_DEVICE_INFO_HEADER, id) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_DEVICE_INFO_HEADER, id));
static_assert(sizeof(::DISPLAYCONFIG_SOURCE_DEVICE_NAME) ==
              sizeof(nimbo::dcfg::DISPLAYCONFIG_SOURCE_DEVICE_NAME));
static_assert(offsetof(::DISPLAYCONFIG_SOURCE_DEVICE_NAME, viewGdiDeviceName) ==
              offsetof(nimbo::dcfg::DISPLAYCONFIG_SOURCE_DEVICE_NAME, viewGdiDeviceName));
static_assert(std::is_trivially_copyable_v<nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE>);

// The name requests are sent with header.size = sizeof(request). These are the
// sizes of the documented layouts, so an SDK that lays them out differently
// fails the build instead of the call.
static_assert(sizeof(::DISPLAYCONFIG_TARGET_DEVICE_NAME) == 420);
static_assert(sizeof(::DISPLAYCONFIG_SOURCE_DEVICE_NAME) == 84);

using DisplayConfigSetDeviceInfoFunction = LONG(WINAPI*)(::DISPLAYCONFIG_DEVICE_INFO_HEADER*);

// DisplayConfigGetDeviceInfo with a Request whose header is filled in for the
// source or target `id` of `adapterId`; `take(request)` when it succeeded.
template <class Request, class Take>
LONG GetDeviceInfo(::DISPLAYCONFIG_DEVICE_INFO_TYPE type, nimbo::dcfg::LUID adapterId,
                   std::uint32_t id, Take take) {
    Request request{};
    request.header.type = type;
    request.header.size = sizeof(request);
    request.header.adapterId.LowPart = adapterId.LowPart;
    request.header.adapterId.HighPart = adapterId.HighPart;
    request.header.id = id;
    const LONG status = ::DisplayConfigGetDeviceInfo(&request.header);
    if (status == ERROR_SUCCESS) {
        take(request);
    }
    return status;
}

// The real Windows display configuration: the path and mode queries, the
// device-info packets and SetDisplayConfig, with the structure sizes the
// portable code relies on; nothing here decides anything.
class Win32DisplayConfig final : public DisplayConfig {
  public:
    Win32Error GetDisplayConfigBufferSizes(std::uint32_t flags, std::uint32_t& pathCount,
                                           std::uint32_t& modeCount) override {
        UINT32 paths = 0;
        UINT32 modes = 0;
        const LONG status = ::GetDisplayConfigBufferSizes(flags, &paths, &modes);
        pathCount = paths;
        modeCount = modes;
        return status;
    }

    Win32Error QueryDisplayConfig(std::uint32_t flags,
                                  std::vector<nimbo::dcfg::DISPLAYCONFIG_PATH_INFO>& paths,
                                  std::vector<nimbo::dcfg::DISPLAYCONFIG_MODE_INFO>& modes,
                                  std::uint32_t* topologyId) override {
        std::vector<::DISPLAYCONFIG_PATH_INFO> nativePaths(paths.size());
        std::vector<::DISPLAYCONFIG_MODE_INFO> nativeModes(modes.size());
        UINT32 pathCount = static_cast<UINT32>(nativePaths.size());
        UINT32 modeCount = static_cast<UINT32>(nativeModes.size());
        DISPLAYCONFIG_TOPOLOGY_ID topology{};
        const LONG status =
            ::QueryDisplayConfig(flags, &pathCount, nativePaths.data(), &modeCount,
                                 nativeModes.data(), topologyId != nullptr ? &topology : nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        paths.resize(pathCount);
        modes.resize(modeCount);
        if (pathCount > 0) {
            std::memcpy(paths.data(), nativePaths.data(), pathCount * sizeof(nativePaths[0]));
        }
        if (modeCount > 0) {
            std::memcpy(modes.data(), nativeModes.data(), modeCount * sizeof(nativeModes[0]));
        }
        if (topologyId != nullptr) {
            *topologyId = static_cast<std::uint32_t>(topology);
        }
        return status;
    }

    Win32Error GetTargetName(nimbo::dcfg::LUID adapterId, std::uint32_t targetId,
                             DisplayConfigTargetName& name) override {
        return GetDeviceInfo<DISPLAYCONFIG_TARGET_DEVICE_NAME>(
            DISPLAYCONFIG_DEVICE_INFO_GET_TARGET_NAME, adapterId, targetId,
            [&](const DISPLAYCONFIG_TARGET_DEVICE_NAME& request) {
                name.flags = request.flags.value;
                name.outputTechnology = static_cast<std::uint32_t>(request.outputTechnology);
                name.edidManufactureId = request.edidManufactureId;
                name.edidProductCodeId = request.edidProductCodeId;
                name.connectorInstance = request.connectorInstance;
                name.monitorFriendlyDeviceName = FromFixed(request.monitorFriendlyDeviceName);
                name.monitorDevicePath = FromFixed(request.monitorDevicePath);
            });
    }

    Win32Error GetSourceName(nimbo::dcfg::LUID adapterId, std::uint32_t sourceId,
                             DisplayConfigSourceName& name) override {
        return GetDeviceInfo<DISPLAYCONFIG_SOURCE_DEVICE_NAME>(
            DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME, adapterId, sourceId,
            [&](const DISPLAYCONFIG_SOURCE_DEVICE_NAME& request) {
                name.viewGdiDeviceName = FromFixed(request.viewGdiDeviceName);
            });
    }

    Win32Error GetDpiScale(nimbo::dcfg::DISPLAYCONFIG_GET_DPI_SCALE& packet) override {
        return ::DisplayConfigGetDeviceInfo(
            reinterpret_cast<::DISPLAYCONFIG_DEVICE_INFO_HEADER*>(&packet));
    }

    Win32Error SetDpiScale(const nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE& packet) override {
        // Wine's user32 lacks it.
        static const auto function = OptionalExport<DisplayConfigSetDeviceInfoFunction>(
            L"user32.dll", "DisplayConfigSetDeviceInfo");
        if (function == nullptr)
            return ERROR_CALL_NOT_IMPLEMENTED;
        // The call takes a non-const header; Windows gets a private copy.
        nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE copy = packet;
        return function(reinterpret_cast<::DISPLAYCONFIG_DEVICE_INFO_HEADER*>(&copy));
    }

    Win32Error SetDisplayConfig(std::span<const nimbo::dcfg::DISPLAYCONFIG_PATH_INFO> paths,
                                std::span<const nimbo::dcfg::DISPLAYCONFIG_MODE_INFO> modes,
                                std::uint32_t flags) override {
        // SetDisplayConfig takes non-const arrays; hand it private copies.
        std::vector<::DISPLAYCONFIG_PATH_INFO> nativePaths(paths.size());
        std::vector<::DISPLAYCONFIG_MODE_INFO> nativeModes(modes.size());
        if (!paths.empty())
            std::memcpy(nativePaths.data(), paths.data(), paths.size_bytes());
        if (!modes.empty())
            std::memcpy(nativeModes.data(), modes.data(), modes.size_bytes());
        return ::SetDisplayConfig(static_cast<UINT32>(nativePaths.size()),
                                  nativePaths.empty() ? nullptr : nativePaths.data(),
                                  static_cast<UINT32>(nativeModes.size()),
                                  nativeModes.empty() ? nullptr : nativeModes.data(), flags);
    }
};

}  // namespace

std::unique_ptr<DisplayConfig> MakeWin32DisplayConfig() {
    return std::make_unique<Win32DisplayConfig>();
}

}  // namespace lenticor::win32
