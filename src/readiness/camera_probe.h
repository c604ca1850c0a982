#pragma once
// Finds the Nimbo's built-in camera among the DirectShow video-input devices,
// turns its device path into the unit's USB serial number through the
// registry, and lists present USB devices that may be the camera behind a
// fallback bridge. Read-only, and never throws for a missing device, key or
// value: those end in an empty or not-found result (and a trace line).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lenticor {
class ConfigManager;
class DiagnosticLog;
class Moniker;
class RegistryKey;
struct Platform;
}  // namespace lenticor

namespace nimbo {

// The camera identities the probe recognises, in the order their device-path
// patterns are tested.
enum class CameraKind { Dev1 = 0, Nimbo = 1, Dev2 = 2 };

struct CameraSlot {
    bool found = false;
    std::int32_t cameraId = -1;    // enumeration position + 700
    std::string interfaceSegment;  // e.g. vid_5e17&pid_2c0b&mi_00
    std::string instanceSegment;   // e.g. 6&2d7c1b5&0&0000
};

// One slot per CameraKind, indexed by it.
using CameraSlots = std::array<CameraSlot, 3>;

struct CameraProbeResult {
    std::int32_t cameraId = -1;
    std::string serialNumber;
    bool isNimboCamera = false;
    bool found = false;
};

// The readiness view of the camera.
struct NimboCamera {
    std::string serialNumber;
    std::int32_t cameraId = -1;
    bool present = false;  // found, and of kind Nimbo
};

struct UsbDeviceEntry {
    std::string instanceId;  // e.g. USB\VID_0C45&PID_636D\5&1234&0&2
    std::string location;    // e.g. Port_#0002.Hub_#0004; empty when unavailable
};

struct CameraRecoveryCandidate {
    std::string reason = "possible_sonix_fallback";
    std::uint32_t vendorId = 0x0C45;
    std::uint32_t productId = 0x636D;
    std::uint32_t locationId = 0;  // hub << 16 | port, 0 when the location does not parse
    std::string instanceId;
    std::string location;
};

// What the probe works through: the ports and the diagnostic log.
struct CameraProbeContext {
    lenticor::Platform& platform;
    lenticor::DiagnosticLog& log;
};

// "[CameraProbe] " + message as an INFO line, only while LENTICOR_CAMERA_DEBUG
// is set to a non-empty value (read at every call, so "0" enables it).
void CameraProbeTrace(CameraProbeContext& context, std::string_view message);

[[nodiscard]] CameraProbeResult ProbeCamera(CameraProbeContext& context);

// The probe as the check command sees it; warns when no camera at all was found.
[[nodiscard]] NimboCamera ProbeNimboCamera(CameraProbeContext& context);

// Walks the video-input category and fills the slots; 0 when the walk ran
// (with or without devices), E_FAIL when COM could not be initialised,
// otherwise the failing HRESULT (an empty category: S_FALSE = 1).
[[nodiscard]] std::int32_t EnumerateVideoInputDevices(CameraProbeContext& context,
                                                      CameraSlots& slots);

void InspectVideoInputDevice(CameraProbeContext& context, CameraSlots& slots,
                             std::uint32_t position, lenticor::Moniker& moniker);

// The interface and instance segments around `pattern` in a lower-cased
// device path; both empty when the path does not have that shape.
//   \\?\usb#vid_5e17&pid_2c0b&mi_00#6&2d7c1b5&0&0000#{65e8773d-...}\global
//   -> ("vid_5e17&pid_2c0b&mi_00", "6&2d7c1b5&0&0000")
[[nodiscard]] std::pair<std::string, std::string> SplitCameraDevicePath(std::wstring_view path,
                                                                        std::wstring_view pattern);

// The USB serial number of the composite device whose ContainerID equals the
// interface's; empty when any step fails.
[[nodiscard]] std::string ResolveNimboCameraSerial(CameraProbeContext& context,
                                                   const std::string& interfaceSegment,
                                                   const std::string& instanceSegment);

// The key's ContainerID text without trailing NULs; empty when it is absent,
// not a string, or unreadable.
[[nodiscard]] std::wstring ReadContainerId(lenticor::RegistryKey& key);

// Present USB devices in configuration-manager order, with their location
// information where it can be read.
[[nodiscard]] std::vector<UsbDeviceEntry> ListPresentUsbDevices(lenticor::ConfigManager& manager);

// The entries with the Sonix ids 0c45/636d, in entry order.
[[nodiscard]] std::vector<CameraRecoveryCandidate> FindCameraRecoveryCandidates(
    const std::vector<UsbDeviceEntry>& entries);

}  // namespace nimbo
