#include "platform/sim/sim_readiness.h"

#include "app/text.h"
#include "platform/display_devices.h"
#include "platform/registry.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim/sim_reader.h"

#include <limits>

namespace lenticor::sim {
namespace {

using nimbo::dcfg::DISPLAYCONFIG_GET_DPI_SCALE;
using nimbo::dcfg::DISPLAYCONFIG_SET_DPI_SCALE;

// CO_E_NOTINITIALIZED: a COM call on a thread that never entered an apartment.
constexpr HResult kCoENotInitialized = static_cast<HResult>(0x800401F0u);
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): the moniker's registry key has no
// such value.
constexpr HResult kPropertyMissing = static_cast<HResult>(0x80070002u);

SimProperty ReadProperty(const Reader& reader) {
    SimProperty property{.present = true, .text = std::nullopt};
    if (!reader.value().is_null()) {
        property.text = reader.Text();
    }
    return property;
}

std::wstring UpperAscii(std::wstring text) {
    for (auto& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

// A camera with a serial number implies the keys Windows keeps for it: the
// interface key with the container id, and the composite device (named by
// its serial number) under its vendor and product ids with the same id.
void DeriveCameraKeys(const Reader& reader, const SimCamera& camera, SimMachine& machine) {
    const auto serial = reader.Member("serialNumber").Text();
    const auto containerId = reader.Member("containerId").Text();
    const std::wstring path = camera.devicePath.text.value_or(L"");
    // \\?\usb#vid_5e17&pid_2c0b&mi_00#6&2d7c1b5&0&0000#{guid}\global
    const auto first = path.find(L'#');
    const auto second = first == std::wstring::npos ? first : path.find(L'#', first + 1);
    const auto third = second == std::wstring::npos ? second : path.find(L'#', second + 1);
    if (third == std::wstring::npos || serial.empty() || serial.find(L'\\') != std::wstring::npos) {
        reader.Member("serialNumber")
            .Fail(
                "needs a devicePath of the form \\\\?\\usb#<interface>#<instance>#... and a "
                "serial number without backslashes");
    }
    const auto interfaceName = UpperAscii(path.substr(first + 1, second - first - 1));
    const auto instance = UpperAscii(path.substr(second + 1, third - second - 1));
    const auto composite = interfaceName.substr(0, interfaceName.find(L"&MI_"));
    const std::wstring usb = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\";
    AddSimRegistryKey(machine, SimHive::LocalMachine, usb + interfaceName + L"\\" + instance)
        .values[L"containerid"] = MakeRegistryString(containerId);
    AddSimRegistryKey(machine, SimHive::LocalMachine, usb + composite + L"\\" + serial)
        .values[L"containerid"] = MakeRegistryString(containerId);
}

// Sources are numbered by their position on the adapter, as GetSourceName
// answers them.
SimOutput* FindSource(SimMachine& machine, const nimbo::dcfg::LUID& adapterId,
                      std::uint32_t sourceId) {
    for (auto& adapter : machine.adapters) {
        if (adapter.luid.LowPart == adapterId.LowPart &&
            adapter.luid.HighPart == adapterId.HighPart && sourceId < adapter.outputs.size()) {
            return &adapter.outputs[sourceId];
        }
    }
    return nullptr;
}

// Each interface counts itself alive for its lifetime.
class Counted {
  public:
    explicit Counted(std::shared_ptr<int> live) : live_(std::move(live)) { ++*live_; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    ~Counted() { --*live_; }

  protected:
    std::shared_ptr<int> live_;
};

class Bag final : public PropertyBag, Counted {
  public:
    Bag(const SimCamera& camera, std::shared_ptr<int> live)
        : Counted(std::move(live)), camera_(camera) {}
    HResult Read(std::wstring_view name, PropertyValue& value) override {
        const PortCall counted;
        const SimProperty* property = name == L"FriendlyName" ? &camera_.friendlyName
                                      : name == L"DevicePath" ? &camera_.devicePath
                                                              : nullptr;
        if (property == nullptr || !property->present) {
            return kPropertyMissing;
        }
        value.type = kVtBstr;
        value.bstr = property->text;
        return kSOk;
    }

  private:
    const SimCamera& camera_;
};

class DeviceMoniker final : public Moniker, Counted {
  public:
    DeviceMoniker(const SimCamera& camera, std::shared_ptr<int> live)
        : Counted(std::move(live)), camera_(camera) {}
    HResult BindToStorage(std::unique_ptr<PropertyBag>& bag) override {
        const PortCall counted;
        if (camera_.bindToStorage) {
            return *camera_.bindToStorage;
        }
        if (!camera_.bindsWithoutBag) {
            bag = std::make_unique<Bag>(camera_, live_);
        }
        return kSOk;
    }

  private:
    const SimCamera& camera_;
};

class CameraEnumerator final : public MonikerEnumerator, Counted {
  public:
    CameraEnumerator(const SimMachine& machine, std::shared_ptr<int> live)
        : Counted(std::move(live)), machine_(machine) {}
    HResult Next(std::unique_ptr<Moniker>& moniker) override {
        const PortCall counted;
        if (next_ >= machine_.cameras.size()) {
            return kSFalse;
        }
        moniker = std::make_unique<DeviceMoniker>(machine_.cameras[next_++], live_);
        return kSOk;
    }

  private:
    const SimMachine& machine_;
    std::size_t next_ = 0;
};

class DeviceEnumerator final : public SystemDeviceEnumerator, Counted {
  public:
    DeviceEnumerator(const SimMachine& machine, std::shared_ptr<int> live)
        : Counted(std::move(live)), machine_(machine) {}
    HResult CreateVideoInputEnumerator(std::unique_ptr<MonikerEnumerator>& enumerator,
                                       std::uint32_t) override {
        const PortCall counted;
        // An empty category answers S_FALSE and no enumerator, as on Windows.
        if (machine_.cameras.empty()) {
            return kSFalse;
        }
        enumerator = std::make_unique<CameraEnumerator>(machine_, live_);
        return kSOk;
    }

  private:
    const SimMachine& machine_;
};

}  // namespace

void ReadReadinessDevices(const Reader& root, SimMachine& machine) {
    if (root.Has("cameras")) {
        for (const auto& reader : root.Member("cameras").Array()) {
            reader.ExpectObject(
                {"friendlyName", "devicePath", "serialNumber", "containerId", "faults"});
            SimCamera camera;
            if (reader.Has("friendlyName")) {
                camera.friendlyName = ReadProperty(reader.Member("friendlyName"));
            }
            if (reader.Has("devicePath")) {
                camera.devicePath = ReadProperty(reader.Member("devicePath"));
            }
            if (reader.Has("faults")) {
                const auto faults = reader.Member("faults");
                faults.ExpectObject({"BindToStorage", "noPropertyBag"});
                if (faults.Has("BindToStorage")) {
                    camera.bindToStorage = faults.Member("BindToStorage").Code();
                }
                if (faults.Has("noPropertyBag")) {
                    camera.bindsWithoutBag = faults.Member("noPropertyBag").Bool();
                }
            }
            if (reader.Has("serialNumber") != reader.Has("containerId")) {
                reader.Fail("serialNumber and containerId go together");
            }
            if (reader.Has("serialNumber")) {
                DeriveCameraKeys(reader, camera, machine);
            }
            machine.cameras.push_back(std::move(camera));
        }
    }
    if (root.Has("usbDevices")) {
        for (const auto& reader : root.Member("usbDevices").Array()) {
            reader.ExpectObject({"instanceId", "location", "present"});
            SimUsbDevice device{reader.Member("instanceId").Text(), std::nullopt};
            if (reader.Has("location")) {
                device.location = reader.Member("location").Text();
            }
            if (reader.Has("present")) {
                device.present = reader.Member("present").Bool();
            }
            machine.usbDevices.push_back(std::move(device));
        }
    }
}

void ReadOutputReadiness(const Reader& reader, SimOutput& output) {
    if (reader.Has("modeChange")) {
        const auto change = reader.Member("modeChange");
        change.ExpectObject({"refuse", "endsIn"});
        if (change.Has("refuse")) {
            output.modeChange.refuse =
                static_cast<std::int32_t>(change.Member("refuse").Integer(-1000, 1000));
        }
        if (change.Has("endsIn")) {
            output.modeChange.endsIn = ReadSimMode(change.Member("endsIn"));
        }
    }
    if (reader.Has("dpi")) {
        const auto dpi = reader.Member("dpi");
        dpi.ExpectObject(
            {"min", "current", "max", "getFails", "setFails", "setIgnored", "readBackFails"});
        auto& scale = output.dpi;
        scale.described = true;
        scale.min = static_cast<std::int32_t>(dpi.Member("min").Integer(-100, 100));
        // Any value: Windows answers a step far outside the range (1234568)
        // for a monitor that never had a scale stored.
        scale.current = static_cast<std::int32_t>(dpi.Member("current").Integer(
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
        scale.max = static_cast<std::int32_t>(dpi.Member("max").Integer(-100, 100));
        if (dpi.Has("getFails")) {
            scale.getFails = dpi.Member("getFails").Code();
        }
        if (dpi.Has("setFails")) {
            scale.setFails = dpi.Member("setFails").Code();
        }
        if (dpi.Has("readBackFails")) {
            scale.readBackFails = dpi.Member("readBackFails").Code();
        }
        if (dpi.Has("setIgnored")) {
            scale.setIgnored = dpi.Member("setIgnored").Bool();
        }
    }
}

void StoreSimReadiness(const SimMachine& machine, Json& document) {
    auto& adapters = document["adapters"];
    for (std::size_t a = 0; a < machine.adapters.size() && a < adapters.size(); ++a) {
        const auto& simOutputs = machine.adapters[a].outputs;
        for (std::size_t o = 0; o < simOutputs.size() && o < adapters[a]["outputs"].size(); ++o) {
            if (simOutputs[o].dpi.described) {
                adapters[a]["outputs"][o]["dpi"]["current"] = simOutputs[o].dpi.current;
            }
        }
    }
}

HResult SimVideoInputDevices::CoInitializeApartment() {
    const PortCall counted;
    if (machine_.faults.coInitializeEx) {
        return *machine_.faults.coInitializeEx;
    }
    // A thread already in the apartment is told so with S_FALSE and must
    // still balance the call.
    return ++apartments_ == 1 ? kSOk : kSFalse;
}

void SimVideoInputDevices::CoUninitialize() {
    const PortCall counted;
    if (apartments_ > 0) {
        --apartments_;
    }
}

HResult SimVideoInputDevices::CreateSystemDeviceEnumerator(
    std::unique_ptr<SystemDeviceEnumerator>& enumerator) {
    const PortCall counted;
    // RPC_E_CHANGED_MODE means the thread is already in the other apartment,
    // where COM works; any other refusal leaves the thread without COM.
    if (apartments_ == 0 && machine_.faults.coInitializeEx != kRpcEChangedMode) {
        return kCoENotInitialized;
    }
    if (machine_.faults.coCreateInstance) {
        return *machine_.faults.coCreateInstance;
    }
    enumerator = std::make_unique<DeviceEnumerator>(machine_, live_);
    return kSOk;
}

namespace {

// DISP_CHANGE_BADFLAGS: "An invalid set of flags was passed in."
constexpr std::int32_t kDispChangeBadFlags = -4;

// The output's entry in the display database, added at its current place
// when the database does not hold it yet.
SimPersistedDisplay& StoredDisplay(SimMachine& machine, const SimOutput& output) {
    auto& database = machine.desktop.database;
    for (auto& stored : database) {
        if (ToLowerWide(stored.output) == ToLowerWide(output.deviceName)) {
            return stored;
        }
    }
    return database.emplace_back(
        SimPersistedDisplay{output.deviceName, output.x, output.y, output.mode.width,
                            output.mode.height, output.mode.refreshRate, output.mode.bitsPerPixel});
}

bool SameMode(const SimMode& mode, const SimPersistedDisplay& stored) {
    return mode.width == stored.width && mode.height == stored.height &&
           mode.refreshRate == stored.refreshRate;
}

}  // namespace

// ChangeDisplaySettingsExW as Microsoft documents it
// (https://learn.microsoft.com/en-us/windows/win32/api/winuser/nf-winuser-changedisplaysettingsexw):
// CDS_UPDATEREGISTRY stores the mode for the device, so that it is what the
// next boot sets up; without it the change is dynamic and ends with the
// session. CDS_NORESET stores without applying and "is only valid when
// specified with the CDS_UPDATEREGISTRY flag"; the stored mode waits, also
// past the run, for a restart or for the call with a NULL device and mode,
// which applies "all the values currently in the registry" and so also
// undoes a dynamic change. The simulation keeps the stored mode in its one
// display database, the layout a restart sets up. Simpler than Windows: other
// outputs keep their positions, and the apply call restores modes only.
std::int32_t SimDisplayDevices::ChangeDisplaySettingsEx(std::optional<std::wstring_view> deviceName,
                                                        const DisplayModeRequest* mode,
                                                        std::uint32_t flags) {
    const PortCall counted;
    // A locked session refuses mode changes; Windows names no reason, only
    // the generic failure.
    if (machine_.desktop.sessionLocked) {
        return kDispChangeFailed;
    }
    if (!deviceName && mode == nullptr) {
        for (const auto& stored : machine_.desktop.database) {
            SimOutput* output = FindSimOutput(machine_, stored.output);
            if (output == nullptr || !output->active || SameMode(output->mode, stored)) {
                continue;
            }
            output->mode = output->modeChange.endsIn.value_or(
                SimMode{stored.width, stored.height, stored.refreshRate, stored.bitsPerPixel});
            machine_.readinessChanged = true;
        }
        return kDispChangeSuccessful;
    }
    SimOutput* output = deviceName ? FindSimOutput(machine_, *deviceName) : nullptr;
    if (output == nullptr || mode == nullptr) {
        return kDispChangeBadParam;
    }
    if ((flags & kCdsNoReset) != 0 && (flags & kCdsUpdateRegistry) == 0) {
        return kDispChangeBadFlags;
    }
    if (!output->active) {
        return kDispChangeFailed;
    }
    if (output->modeChange.refuse) {
        return *output->modeChange.refuse;
    }
    SimMode wanted = output->mode;
    if ((mode->fields & kDmPelsWidth) != 0) {
        wanted.width = mode->pelsWidth;
    }
    if ((mode->fields & kDmPelsHeight) != 0) {
        wanted.height = mode->pelsHeight;
    }
    if ((mode->fields & kDmDisplayFrequency) != 0) {
        wanted.refreshRate = mode->displayFrequency;
    }
    // The driver accepts only what it lists.
    const bool listed =
        std::any_of(output->modes.begin(), output->modes.end(), [&wanted](const SimMode& offered) {
            return offered.width == wanted.width && offered.height == wanted.height &&
                   offered.refreshRate == wanted.refreshRate;
        });
    if (!listed) {
        return kDispChangeBadMode;
    }
    // Written down even for a dynamic change: the file's mode is about to
    // differ from what the database would default to.
    auto& stored = StoredDisplay(machine_, *output);
    machine_.desktop.databaseChanged = true;
    machine_.readinessChanged = true;
    if ((flags & kCdsUpdateRegistry) != 0) {
        stored.width = wanted.width;
        stored.height = wanted.height;
        stored.refreshRate = wanted.refreshRate;
        stored.bitsPerPixel = wanted.bitsPerPixel;
    }
    if ((flags & kCdsNoReset) == 0) {
        output->mode = output->modeChange.endsIn.value_or(wanted);
    }
    return kDispChangeSuccessful;
}

Win32Error SimDisplayConfig::GetDpiScale(DISPLAYCONFIG_GET_DPI_SCALE& packet) {
    const PortCall counted;
    if (machine_.faults.displayConfigGetDeviceInfo) {
        return *machine_.faults.displayConfigGetDeviceInfo;
    }
    if (packet.header.type != nimbo::dcfg::kDeviceInfoGetDpiScale ||
        packet.header.size != sizeof(packet)) {
        return kErrorInvalidParameter;
    }
    const SimOutput* output = FindSource(machine_, packet.header.adapterId, packet.header.id);
    if (output == nullptr) {
        return kErrorInvalidParameter;
    }
    if (output->dpi.getFails) {
        return *output->dpi.getFails;
    }
    if (output->dpi.setThisRun && output->dpi.readBackFails) {
        return *output->dpi.readBackFails;
    }
    packet.minScaleRel = output->dpi.min;
    packet.curScaleRel = output->dpi.current;
    packet.maxScaleRel = output->dpi.max;
    return kErrorSuccess;
}

Win32Error SimDisplayConfig::SetDpiScale(const DISPLAYCONFIG_SET_DPI_SCALE& packet) {
    const PortCall counted;
    if (packet.header.type != nimbo::dcfg::kDeviceInfoSetDpiScale ||
        packet.header.size != sizeof(packet)) {
        return kErrorInvalidParameter;
    }
    SimOutput* output = FindSource(machine_, packet.header.adapterId, packet.header.id);
    if (output == nullptr || packet.scaleRel < output->dpi.min ||
        packet.scaleRel > output->dpi.max) {
        return kErrorInvalidParameter;
    }
    if (output->dpi.setFails) {
        return *output->dpi.setFails;
    }
    // As SetDisplayConfig: no access to the console session while it is locked
    // (DisplayConfigSetDeviceInfo, learn.microsoft.com/en-us/windows/win32/api/
    // winuser/nf-winuser-displayconfigsetdeviceinfo).
    if (machine_.desktop.sessionLocked) {
        return kErrorAccessDenied;
    }
    output->dpi.setThisRun = true;
    if (!output->dpi.setIgnored) {
        output->dpi.current = packet.scaleRel;
        output->dpi.described = true;
        machine_.readinessChanged = true;
    }
    return kErrorSuccess;
}

}  // namespace lenticor::sim
