#include "readiness/camera_probe.h"

#include "app/diagnostic_log.h"
#include "app/sized_query.h"
#include "app/text.h"
#include "platform/config_manager.h"
#include "platform/environment.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "platform/video_inputs.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <tuple>

namespace nimbo {
namespace {

using lenticor::HResult;
using lenticor::WideToUtf8;

struct CameraIdentity {
    const wchar_t* pattern;
    const char* label;
};

// Indexed by CameraKind, which is also the order the patterns are tested in.
constexpr std::array<CameraIdentity, 3> kCameraIdentities = {{
    {L"vid_0c45&pid_6360", "Dev-1 (0c45/6360)"},
    {L"vid_5e17&pid_2c0b", "Nimbo (5e17/2c0b)"},
    {L"vid_0001&pid_0001", "Dev-2 (0001/0001)"},
}};

constexpr std::int32_t kFirstCameraId = 700;
constexpr std::wstring_view kUsbEnumKey = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\";
constexpr std::wstring_view kNimboCompositeKey =
    L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_5E17&PID_2C0B";
constexpr std::wstring_view kContainerIdValue = L"ContainerID";
constexpr std::uint32_t kLocationBufferBytes = 512;

// COM stays initialised for the walk and is uninitialised only when this
// thread's initialisation succeeded; a thread already in another apartment
// (RPC_E_CHANGED_MODE) may still use COM but must not uninitialise it.
class ComApartment {
  public:
    explicit ComApartment(lenticor::VideoInputDevices& devices) : devices_(devices) {
        result_ = devices_.CoInitializeApartment();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (lenticor::Succeeded(result_)) {
            devices_.CoUninitialize();
        }
    }
    [[nodiscard]] bool Usable() const {
        return lenticor::Succeeded(result_) || result_ == lenticor::kRpcEChangedMode;
    }

  private:
    lenticor::VideoInputDevices& devices_;
    HResult result_ = lenticor::kEFail;
};

// A property counts only as a non-null BSTR; its text ends at the first NUL.
std::wstring ReadTextProperty(lenticor::PropertyBag& bag, std::wstring_view name) {
    lenticor::PropertyValue value;
    if (!lenticor::Succeeded(bag.Read(name, value)) || value.type != lenticor::kVtBstr ||
        !value.bstr) {
        return {};
    }
    const auto end = value.bstr->find(L'\0');
    return end == std::wstring::npos ? *value.bstr : value.bstr->substr(0, end);
}

std::string Narrow(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text) {
        narrow.push_back(static_cast<char>(static_cast<std::uint32_t>(c) & 0xFF));
    }
    return narrow;
}

std::wstring Widen(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

// One "%u" of the C scanners: blanks, an optional sign, at least one digit.
// Saturates instead of overflowing; a negative number is never in range, so
// it reads as the largest value.
std::optional<std::uint64_t> ScanUnsigned(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])) != 0) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const std::size_t digitsStart = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        ++pos;
    }
    const auto value = lenticor::DecimalValue(text.substr(digitsStart, pos - digitsStart));
    if (!value) {
        return std::nullopt;
    }
    return negative && *value != 0 ? 0xFFFFFFFFFFFFFFFFull : *value;
}

bool ScanLiteral(std::string_view text, std::size_t& pos, std::string_view literal) {
    if (text.substr(pos, literal.size()) != literal) {
        return false;
    }
    pos += literal.size();
    return true;
}

// "Port_#%u.Hub_#%u" -> hub << 16 | port; 0 when it does not parse or a
// number is out of range (port 0 is no port).
std::uint32_t LocationIdFromText(std::string_view location) {
    std::size_t pos = 0;
    if (!ScanLiteral(location, pos, "Port_#")) {
        return 0;
    }
    const auto port = ScanUnsigned(location, pos);
    if (!port || !ScanLiteral(location, pos, ".Hub_#")) {
        return 0;
    }
    const auto hub = ScanUnsigned(location, pos);
    if (!hub || *port < 1 || *port > 0xFFFF || *hub > 0xFFFF) {
        return 0;
    }
    return static_cast<std::uint32_t>(*hub << 16 | *port);
}

}  // namespace

void CameraProbeTrace(CameraProbeContext& context, std::string_view message) {
    // Any non-zero answer counts, including the size asked for when the value
    // does not fit the small buffer.
    constexpr std::uint32_t kProbeBufferChars = 8;
    if (context.platform.environment.GetEnvironmentVariable(L"LENTICOR_CAMERA_DEBUG",
                                                            kProbeBufferChars) == 0) {
        return;
    }
    context.log.LogInfo(std::string("[CameraProbe] ").append(message));
}

std::pair<std::string, std::string> SplitCameraDevicePath(std::wstring_view path,
                                                          std::wstring_view pattern) {
    constexpr auto npos = std::wstring_view::npos;
    const auto p = path.find(pattern);
    if (p == npos) {
        return {};
    }
    const auto a = path.rfind(L'#', p);
    const auto b = path.find(L'#', p);
    if (a == npos || b == npos || a + 1 >= b || b + 1 >= path.size()) {
        return {};
    }
    const auto c = path.find(L'#', b + 1);
    if (c == npos || c <= b + 1) {
        return {};
    }
    return {Narrow(path.substr(a + 1, b - a - 1)), Narrow(path.substr(b + 1, c - b - 1))};
}

void InspectVideoInputDevice(CameraProbeContext& context, CameraSlots& slots,
                             std::uint32_t position, lenticor::Moniker& moniker) {
    std::unique_ptr<lenticor::PropertyBag> bag;
    if (!lenticor::Succeeded(moniker.BindToStorage(bag)) || !bag) {
        return;
    }
    const auto name = lenticor::ToLowerWide(ReadTextProperty(*bag, L"FriendlyName"));
    const auto path = lenticor::ToLowerWide(ReadTextProperty(*bag, L"DevicePath"));
    bag.reset();
    if (!name.empty()) {
        CameraProbeTrace(context, "DirectShow camera name: " + WideToUtf8(name));
    }
    if (!path.empty()) {
        CameraProbeTrace(context, "DirectShow camera path: " + WideToUtf8(path));
    }
    for (std::size_t kind = 0; kind < kCameraIdentities.size(); ++kind) {
        const std::wstring_view pattern = kCameraIdentities[kind].pattern;
        if (path.find(pattern) == std::wstring::npos) {
            continue;
        }
        // The first device of each kind in enumeration order wins.
        auto& slot = slots[kind];
        if (!slot.found) {
            slot.cameraId = static_cast<std::int32_t>(position) + kFirstCameraId;
            std::tie(slot.interfaceSegment, slot.instanceSegment) =
                SplitCameraDevicePath(path, pattern);
            slot.found = true;
        }
        return;
    }
    if (name.size() >= 5 && name.find(L"korvo") != std::wstring::npos) {
        CameraProbeTrace(context,
                         "Ignoring friendly-name-only KORVO camera candidate without supported "
                         "VID/PID");
    }
}

std::int32_t EnumerateVideoInputDevices(CameraProbeContext& context, CameraSlots& slots) {
    auto& devices = context.platform.videoInputs;
    // Declared before every interface so that COM is uninitialised only after
    // all of them are released.
    const ComApartment apartment(devices);
    if (!apartment.Usable()) {
        return lenticor::kEFail;
    }
    std::unique_ptr<lenticor::SystemDeviceEnumerator> deviceEnumerator;
    const HResult created = devices.CreateSystemDeviceEnumerator(deviceEnumerator);
    if (!lenticor::Succeeded(created)) {
        return created;
    }
    if (!deviceEnumerator) {
        return lenticor::kEFail;
    }
    std::unique_ptr<lenticor::MonikerEnumerator> monikers;
    const HResult category = deviceEnumerator->CreateVideoInputEnumerator(monikers, 0);
    if (category != lenticor::kSOk) {
        return category;
    }
    if (!monikers) {
        return lenticor::kSOk;
    }
    for (std::uint32_t position = 0;; ++position) {
        std::unique_ptr<lenticor::Moniker> moniker;
        if (monikers->Next(moniker) != lenticor::kSOk) {
            break;
        }
        if (moniker) {
            InspectVideoInputDevice(context, slots, position, *moniker);
        }
    }
    return lenticor::kSOk;
}

std::wstring ReadContainerId(lenticor::RegistryKey& key) {
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::vector<std::uint8_t> data;
    // A value rewritten longer between the two queries answers ERROR_MORE_DATA.
    if (lenticor::QuerySized(
            lenticor::kErrorMoreData,
            [&] {
                return key.QueryValueInfo(kContainerIdValue, type, size) ==
                           lenticor::kErrorSuccess &&
                       (type == lenticor::kRegSz || type == lenticor::kRegExpandSz) && size >= 2;
            },
            [&] { return key.QueryValue(kContainerIdValue, size / 2 * 2, type, data); }) !=
        lenticor::kErrorSuccess) {
        return {};
    }
    auto text = lenticor::Utf16LeToWide(data);
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

std::string ResolveNimboCameraSerial(CameraProbeContext& context,
                                     const std::string& interfaceSegment,
                                     const std::string& instanceSegment) {
    if (interfaceSegment.empty() || instanceSegment.empty()) {
        return {};
    }
    auto& registry = context.platform.registry;
    const std::wstring interfacePath =
        std::wstring(kUsbEnumKey) + Widen(interfaceSegment) + L"\\" + Widen(instanceSegment);
    std::wstring containerId;
    {
        std::unique_ptr<lenticor::RegistryKey> key;
        if (registry.OpenKey(lenticor::RegistryHive::LocalMachine, interfacePath,
                             lenticor::kKeyRead, key) != lenticor::kErrorSuccess) {
            CameraProbeTrace(context, "Unable to open Nimbo interface registry key: " +
                                          WideToUtf8(interfacePath));
            return {};
        }
        containerId = ReadContainerId(*key);
    }
    if (containerId.empty()) {
        CameraProbeTrace(context, "Nimbo interface registry key has no ContainerID");
        return {};
    }
    std::unique_ptr<lenticor::RegistryKey> root;
    if (registry.OpenKey(lenticor::RegistryHive::LocalMachine, kNimboCompositeKey,
                         lenticor::kKeyRead, root) != lenticor::kErrorSuccess) {
        CameraProbeTrace(context, "Unable to open Nimbo composite registry root");
        return {};
    }
    for (std::uint32_t index = 0;; ++index) {
        std::wstring serial;
        const auto status = root->EnumKey(index, serial);
        if (status == lenticor::kErrorMoreData) {
            continue;  // a name too long for the buffer; the next index is another key
        }
        // Any other failure would repeat for every later index (a deleted
        // key answers ERROR_KEY_DELETED forever), so it ends the walk.
        if (status != lenticor::kErrorSuccess) {
            break;
        }
        std::unique_ptr<lenticor::RegistryKey> device;
        if (registry.OpenKey(lenticor::RegistryHive::LocalMachine,
                             std::wstring(kNimboCompositeKey) + L"\\" + serial, lenticor::kKeyRead,
                             device) != lenticor::kErrorSuccess) {
            continue;
        }
        if (ReadContainerId(*device) == containerId) {
            return WideToUtf8(serial);
        }
    }
    CameraProbeTrace(context, "Unable to map Nimbo interface ContainerID to USB serial");
    return {};
}

CameraProbeResult ProbeCamera(CameraProbeContext& context) {
    CameraSlots slots;
    if (const auto status = EnumerateVideoInputDevices(context, slots); status != 0) {
        CameraProbeTrace(context, "DirectShow enumeration failed: " + std::to_string(status));
        return {};
    }
    constexpr std::array<CameraKind, 3> kPriority = {CameraKind::Nimbo, CameraKind::Dev1,
                                                     CameraKind::Dev2};
    for (const auto kind : kPriority) {
        const auto& slot = slots[static_cast<std::size_t>(kind)];
        if (!slot.found) {
            continue;
        }
        CameraProbeResult result;
        std::string source;
        if (kind == CameraKind::Nimbo) {
            result.serialNumber =
                ResolveNimboCameraSerial(context, slot.interfaceSegment, slot.instanceSegment);
            source = result.serialNumber.empty()
                         ? "unresolved (consumer uses default S3D device id)"
                         : "USB registry";
        } else if (!slot.instanceSegment.empty()) {
            result.serialNumber = slot.instanceSegment;
            source = "DirectShow DevicePath";
        } else {
            result.serialNumber = "camera-" + std::to_string(slot.cameraId);
            source = "synthesized DirectShow camera id";
        }
        context.log.LogInfo(std::string("[CameraProbe] Selected ") +
                            kCameraIdentities[static_cast<std::size_t>(kind)].label +
                            " at DirectShow camera id " + std::to_string(slot.cameraId) +
                            "; serial source: " + source);
        result.cameraId = slot.cameraId;
        result.isNimboCamera = kind == CameraKind::Nimbo;
        result.found = true;
        return result;
    }
    return {};
}

NimboCamera ProbeNimboCamera(CameraProbeContext& context) {
    const auto probe = ProbeCamera(context);
    if (!probe.found) {
        context.log.LogWarning("[CameraProbe] No KORVO camera found");
    }
    NimboCamera camera;
    camera.present = probe.found && probe.isNimboCamera;
    if (camera.present) {
        camera.serialNumber = probe.serialNumber;
        camera.cameraId = probe.cameraId;
    }
    return camera;
}

std::vector<UsbDeviceEntry> ListPresentUsbDevices(lenticor::ConfigManager& manager) {
    constexpr std::uint32_t kPresentUsbFilter =
        lenticor::kCmGetIdListFilterEnumerator | lenticor::kCmGetIdListFilterPresent;
    // A device plugged in between the two calls makes the list outgrow its size.
    std::vector<wchar_t> list;
    if (lenticor::QuerySized(
            lenticor::kCrBufferSmall,
            [&] {
                std::uint32_t size = 0;
                if (manager.GetDeviceIdListSize(size, L"USB", kPresentUsbFilter) !=
                        lenticor::kCrSuccess ||
                    size == 0) {
                    return false;
                }
                list.assign(size, L'\0');
                return true;
            },
            [&] { return manager.GetDeviceIdList(L"USB", list, kPresentUsbFilter); }) !=
        lenticor::kCrSuccess) {
        return {};
    }
    std::vector<UsbDeviceEntry> entries;
    // The list ends at an empty string; a list without one ends with the buffer.
    for (std::size_t start = 0; start < list.size() && list[start] != L'\0';) {
        std::size_t end = start;
        while (end < list.size() && list[end] != L'\0') {
            ++end;
        }
        const std::wstring id(list.data() + start, end - start);
        start = end + 1;
        UsbDeviceEntry entry{WideToUtf8(id), {}};
        lenticor::DevInst node = 0;
        if (manager.LocateDevNode(node, id, lenticor::kCmLocateDevNodeNormal) ==
            lenticor::kCrSuccess) {
            std::array<std::uint8_t, kLocationBufferBytes> buffer{};
            std::uint32_t type = 0;
            std::uint32_t written = kLocationBufferBytes;
            if (manager.GetDevNodeProperty(node, lenticor::DeviceProperty::LocationInfo, type,
                                           buffer, written) == lenticor::kCrSuccess &&
                type == lenticor::kDevPropTypeString) {
                auto text = lenticor::Utf16LeToWide(
                    std::span(buffer.data(), std::min(written, kLocationBufferBytes)));
                text.erase(std::min(text.find(L'\0'), text.size()));
                entry.location = WideToUtf8(text);
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<CameraRecoveryCandidate> FindCameraRecoveryCandidates(
    const std::vector<UsbDeviceEntry>& entries) {
    constexpr std::string_view kSonixPrefix = "USB\\VID_0C45&PID_636D\\";
    std::vector<CameraRecoveryCandidate> candidates;
    for (const auto& entry : entries) {
        std::string upper = entry.instanceId.substr(0, kSonixPrefix.size());
        for (auto& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (upper != kSonixPrefix) {
            continue;
        }
        CameraRecoveryCandidate candidate;
        candidate.locationId = LocationIdFromText(entry.location);
        candidate.instanceId = entry.instanceId;
        candidate.location = entry.location;
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

}  // namespace nimbo
