#include "platform/sim/sim_registry.h"

#include "app/text.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_port_calls.h"

namespace lenticor::sim {
namespace {

class Key final : public RegistryKey {
  public:
    Key(SimMachine& machine, SimHive hive, std::wstring lowerPath)
        : machine_(machine), hive_(hive), lowerPath_(std::move(lowerPath)) {}

    Win32Error EnumKey(std::uint32_t index, std::wstring& name) override {
        const PortCall counted;
        const std::wstring prefix = lowerPath_ + L"\\";
        std::uint32_t seen = 0;
        for (const auto& [id, key] : machine_.registry) {
            if (id.first != hive_ || id.second.size() <= prefix.size() ||
                id.second.compare(0, prefix.size(), prefix) != 0 ||
                id.second.find(L'\\', prefix.size()) != std::wstring::npos) {
                continue;
            }
            if (seen++ == index) {
                const auto child = key.path.substr(key.path.rfind(L'\\') + 1);
                if (child.size() > 255) {
                    return kErrorMoreData;
                }
                name = child;
                return kErrorSuccess;
            }
        }
        return kErrorNoMoreItems;
    }

    Win32Error QueryValueInfo(std::wstring_view valueName, std::uint32_t& type,
                              std::uint32_t& size) override {
        const PortCall counted;
        const SimRegistryValue* value = nullptr;
        if (const auto status = Find(valueName, value); status != kErrorSuccess) {
            return status;
        }
        type = value->type;
        size = static_cast<std::uint32_t>(value->data.size());
        return kErrorSuccess;
    }

    Win32Error QueryValue(std::wstring_view valueName, std::size_t capacity, std::uint32_t& type,
                          std::vector<std::uint8_t>& data) override {
        const PortCall counted;
        const SimRegistryValue* value = nullptr;
        if (const auto status = Find(valueName, value); status != kErrorSuccess) {
            return status;
        }
        if (value->data.size() > capacity) {
            return kErrorMoreData;
        }
        type = value->type;
        data = value->data;
        return kErrorSuccess;
    }

    // The harsher reading of RegFlushKey: only this key's values reach the
    // disk, though Windows may write the rest of the hive with them.
    Win32Error Flush() override {
        const PortCall counted;
        if (machine_.faults.regFlushKey) {
            return *machine_.faults.regFlushKey;
        }
        if (hive_ != SimHive::CurrentUser) {
            return kErrorSuccess;  // the machine's own keys are never written back
        }
        const auto key = machine_.registry.find({hive_, lowerPath_});
        for (const auto& [keyPath, valueName] : machine_.userRegistryChanges) {
            if (ToLowerWide(keyPath) != lowerPath_) {
                continue;
            }
            std::optional<SimRegistryValue> value;
            if (key != machine_.registry.end()) {
                if (const auto found = key->second.values.find(ToLowerWide(valueName));
                    found != key->second.values.end()) {
                    value = found->second;
                }
            }
            machine_.userRegistryFlushed.push_back({keyPath, valueName, std::move(value)});
        }
        return kErrorSuccess;
    }

  private:
    Win32Error Find(std::wstring_view valueName, const SimRegistryValue*& value) const {
        const auto key = machine_.registry.find({hive_, lowerPath_});
        if (key == machine_.registry.end()) {
            return kErrorFileNotFound;  // deleted since it was opened
        }
        const auto found = key->second.values.find(ToLowerWide(valueName));
        if (found == key->second.values.end()) {
            return kErrorFileNotFound;
        }
        value = &found->second;
        return kErrorSuccess;
    }

    SimMachine& machine_;
    SimHive hive_;
    std::wstring lowerPath_;
};

}  // namespace

Win32Error SimRegistry::OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t,
                                std::unique_ptr<RegistryKey>& key) {
    const PortCall counted;
    const auto simHive =
        hive == RegistryHive::LocalMachine ? SimHive::LocalMachine : SimHive::CurrentUser;
    auto lower = ToLowerWide(subKey);
    if (machine_.registry.find({simHive, lower}) == machine_.registry.end()) {
        return kErrorFileNotFound;
    }
    key = std::make_unique<Key>(machine_, simHive, std::move(lower));
    return kErrorSuccess;
}

}  // namespace lenticor::sim
