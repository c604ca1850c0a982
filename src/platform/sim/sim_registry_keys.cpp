#include "app/monitor_identity.h"
#include "app/text.h"
#include "platform/registry.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_reader.h"

// The registry of the simulated machine: the keys Windows derives from the
// hardware and the ones the machine file names.

namespace lenticor::sim {
namespace {

// The registry keys Windows keeps for every monitor it has seen:
// Enum\DISPLAY\<model>\<instance>\Device Parameters with the EDID.
void DeriveMonitorKey(SimMachine& machine, const SimMonitor& monitor) {
    const auto model = nimbo::ModelIdFromHardwareId(monitor.hardwareId);
    if (model.empty()) {
        return;
    }
    auto& parameters = AddSimRegistryKey(machine, SimHive::LocalMachine,
                                         L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\" + model +
                                             L"\\" + monitor.instanceId + L"\\Device Parameters");
    if (monitor.edid) {
        parameters.values[L"edid"] = {kRegBinary, *monitor.edid};
    }
}

}  // namespace

void DeriveSimMonitorKeys(SimMachine& machine) {
    std::vector<const SimMonitor*> monitors;
    for (const auto& adapter : machine.adapters) {
        for (const auto& output : adapter.outputs) {
            if (output.monitor) {
                monitors.push_back(&*output.monitor);
            }
            if (output.asleepUnplugged) {
                monitors.push_back(&*output.asleepUnplugged);  // Windows keeps its key
            }
            for (const auto& clone : output.clones) {
                monitors.push_back(&clone.monitor);
            }
        }
    }
    for (const auto* monitor : monitors) {
        DeriveMonitorKey(machine, *monitor);
    }
}

SimRegistryValue MakeRegistryString(std::wstring_view text) {
    SimRegistryValue value{kRegSz, {}};
    for (const wchar_t c : text) {
        value.data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        value.data.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    value.data.push_back(0);
    value.data.push_back(0);
    return value;
}

SimRegistryKey& AddSimRegistryKey(SimMachine& machine, SimHive hive, const std::wstring& path) {
    std::size_t end = 0;
    SimRegistryKey* key = nullptr;
    do {
        end = path.find(L'\\', end + 1);
        const auto prefix = path.substr(0, end);
        auto& entry = machine.registry[{hive, ToLowerWide(prefix)}];
        if (entry.path.empty()) {
            entry.path = prefix;
        }
        key = &entry;
    } while (end != std::wstring::npos);
    return *key;
}

void ReadSimRegistry(const Reader& reader, SimMachine& machine) {
    if (!reader.value().is_object()) {
        reader.Fail("expected an object");
    }
    for (const auto& item : reader.value().items()) {
        const auto keyReader = reader.Member(item.key());
        auto path = keyReader.path();
        std::wstring fullPath = Utf8ToWideStrict(item.key()).value_or(L"");
        SimHive hive = SimHive::LocalMachine;
        if (fullPath.rfind(L"HKLM\\", 0) == 0) {
            fullPath.erase(0, 5);
        } else if (fullPath.rfind(L"HKCU\\", 0) == 0) {
            hive = SimHive::CurrentUser;
            fullPath.erase(0, 5);
        } else {
            keyReader.Fail("a key path begins with HKLM\\ or HKCU\\");
        }
        if (fullPath.empty() || fullPath.back() == L'\\' ||
            fullPath.find(L"\\\\") != std::wstring::npos) {
            keyReader.Fail("not a registry key path");
        }
        auto& key = AddSimRegistryKey(machine, hive, fullPath);
        if (!keyReader.value().is_object()) {
            keyReader.Fail("expected an object of values");
        }
        for (const auto& value : keyReader.value().items()) {
            const auto valueReader = keyReader.Member(value.key());
            valueReader.ExpectObject({"binary", "dword", "string"});
            if (valueReader.value().size() != 1) {
                valueReader.Fail("expected exactly one of binary, dword, string");
            }
            SimRegistryValue stored;
            if (valueReader.Has("binary")) {
                stored.type = kRegBinary;
                stored.data = valueReader.Member("binary").HexBytes();
            } else if (valueReader.Has("dword")) {
                stored.type = kRegDword;
                const auto number = valueReader.Member("dword").Unsigned32();
                for (int shift = 0; shift < 32; shift += 8) {
                    stored.data.push_back(static_cast<std::uint8_t>(number >> shift));
                }
            } else {
                stored = MakeRegistryString(valueReader.Member("string").Text());
            }
            key.values[ToLowerWide(Utf8ToWideStrict(value.key()).value_or(L""))] = stored;
        }
    }
}

}  // namespace lenticor::sim
