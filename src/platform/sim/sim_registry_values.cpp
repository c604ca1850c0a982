// The registry value calls of the simulated machine. Keys and value names are
// case-insensitive, as in Windows.

#include <string>

#include "app/text.h"
#include "platform/sim/sim_port_calls.h"
#include "platform/sim/sim_ports.h"
#include "platform/sim/sim_user_registry.h"

namespace lenticor::sim {
namespace {

constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;
constexpr std::uint32_t kRrfRtAny = 0xFFFF;

SimHive HiveOf(RegistryHive hive) {
    return hive == RegistryHive::LocalMachine ? SimHive::LocalMachine : SimHive::CurrentUser;
}

// The RRF_RT_* bit that admits a REG_* type.
std::uint32_t RestrictionBit(std::uint32_t type) {
    switch (type) {
        case 0:
            return 0x1;
        case kRegSz:
            return 0x2;
        case kRegExpandSz:
            return 0x4;
        case kRegBinary:
            return 0x8;
        case kRegDword:
            return 0x10;
        case kRegMultiSz:
            return 0x20;
        case kRegQword:
            return 0x40;
        default:
            return 0;
    }
}

bool IsStringType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

}  // namespace

// Simpler than Windows: REG_EXPAND_SZ values are returned unexpanded.
Win32Error SimRegistry::RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                                     std::wstring_view valueName, std::uint32_t flags,
                                     std::size_t capacity, std::uint32_t& type,
                                     std::vector<std::uint8_t>& data) {
    const PortCall counted;
    if ((flags & kRrfRtAny) == 0) {
        return kErrorInvalidParameter;
    }
    const auto key = machine_.registry.find({HiveOf(hive), ToLowerWide(subKey)});
    if (key == machine_.registry.end()) {
        return kErrorFileNotFound;
    }
    const auto value = key->second.values.find(ToLowerWide(valueName));
    if (value == key->second.values.end()) {
        return kErrorFileNotFound;
    }
    if ((flags & kRrfRtAny) != kRrfRtAny && (flags & RestrictionBit(value->second.type)) == 0) {
        return kErrorUnsupportedType;
    }
    auto bytes = value->second.data;
    // RegGetValueW guarantees the terminating NUL of a string, adding one (and
    // counting it) when the stored data lacks it
    // (learn.microsoft.com/windows/win32/api/winreg/nf-winreg-reggetvaluew).
    if (IsStringType(value->second.type)) {
        if (bytes.size() % 2 != 0) {
            bytes.push_back(0);
        }
        if (bytes.size() < 2 || bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0) {
            bytes.insert(bytes.end(), {0, 0});
        }
    }
    if (bytes.size() > capacity) {
        return kErrorMoreData;
    }
    type = value->second.type;
    data = std::move(bytes);
    return kErrorSuccess;
}

Win32Error SimRegistry::RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                        std::wstring_view valueName, std::uint32_t type,
                                        std::span<const std::uint8_t> data) {
    const PortCall counted;
    // Values directly under a hive's root are not simulated.
    if (subKey.empty() || subKey.front() == L'\\' || subKey.back() == L'\\') {
        return kErrorInvalidParameter;
    }
    auto& key = AddSimRegistryKey(machine_, HiveOf(hive), std::wstring(subKey));
    key.values[ToLowerWide(valueName)] = SimRegistryValue{type, {data.begin(), data.end()}};
    if (hive == RegistryHive::CurrentUser) {
        machine_.userRegistryChanges.emplace_back(key.path, std::wstring(valueName));
    }
    return kErrorSuccess;
}

Win32Error SimRegistry::RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                           std::wstring_view valueName) {
    const PortCall counted;
    const auto key = machine_.registry.find({HiveOf(hive), ToLowerWide(subKey)});
    if (key == machine_.registry.end() || key->second.values.erase(ToLowerWide(valueName)) == 0) {
        return kErrorFileNotFound;
    }
    if (hive == RegistryHive::CurrentUser) {
        machine_.userRegistryChanges.emplace_back(key->second.path, std::wstring(valueName));
    }
    return kErrorSuccess;
}

namespace {

nlohmann::json DescribeValue(const SimRegistryValue& value) {
    if (value.type == kRegSz && value.data.size() >= 2) {
        const auto text = Utf16LeToWide(std::span(value.data).first(value.data.size() - 2));
        if (MakeRegistryString(text).data == value.data) {
            return {{"string", WideToUtf8(text)}};
        }
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = (number << 8) | value.data[static_cast<std::size_t>(i)];
        }
        return {{"dword", number}};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const auto byte : value.data) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0xF];
    }
    return {{"binary", hex}};
}

}  // namespace

void KeepFlushedSimUserRegistry(SimMachine& machine) {
    machine.userRegistryChanges.clear();
    for (const auto& flushed : machine.userRegistryFlushed) {
        auto& values = AddSimRegistryKey(machine, SimHive::CurrentUser, flushed.keyPath).values;
        if (flushed.value) {
            values[ToLowerWide(flushed.valueName)] = *flushed.value;
        } else {
            values.erase(ToLowerWide(flushed.valueName));
        }
        machine.userRegistryChanges.emplace_back(flushed.keyPath, flushed.valueName);
    }
}

void StoreSimUserRegistry(const SimMachine& machine, nlohmann::json& document) {
    auto& registry = document["registry"];
    if (!registry.is_object()) {
        registry = nlohmann::json::object();
    }
    for (const auto& [keyPath, valueName] : machine.userRegistryChanges) {
        const auto key = machine.registry.find({SimHive::CurrentUser, ToLowerWide(keyPath)});
        const SimRegistryValue* value = nullptr;
        if (key != machine.registry.end()) {
            const auto found = key->second.values.find(ToLowerWide(valueName));
            value = found == key->second.values.end() ? nullptr : &found->second;
        }
        const auto wantedKey = ToLowerWide(L"HKCU\\" + keyPath);
        auto member = registry.end();
        for (auto item = registry.begin(); item != registry.end(); ++item) {
            if (ToLowerWide(Utf8ToWideStrict(item.key()).value_or(L"")) == wantedKey) {
                member = item;
                break;
            }
        }
        if (member == registry.end()) {
            if (value == nullptr) {
                continue;
            }
            registry[WideToUtf8(L"HKCU\\" + keyPath)] = nlohmann::json::object();
            member = registry.find(WideToUtf8(L"HKCU\\" + keyPath));
        }
        const auto wantedValue = ToLowerWide(valueName);
        for (auto item = member->begin(); item != member->end();) {
            if (ToLowerWide(Utf8ToWideStrict(item.key()).value_or(L"")) == wantedValue) {
                item = member->erase(item);
            } else {
                ++item;
            }
        }
        if (value != nullptr) {
            (*member)[WideToUtf8(valueName)] = DescribeValue(*value);
        }
    }
}

}  // namespace lenticor::sim
