#include "windows_api.h"

#include "unique_handle.h"
#include "win32_ports.h"

namespace lenticor::win32 {
namespace {

HKEY Root(RegistryHive hive) {
    return hive == RegistryHive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class Key final : public RegistryKey {
  public:
    explicit Key(UniqueRegistryKey key) : key_(std::move(key)) {}

    Win32Error EnumKey(std::uint32_t index, std::wstring& name) override {
        WCHAR buffer[256];
        DWORD length = 256;
        const LSTATUS status =
            ::RegEnumKeyExW(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            name.assign(buffer, length);
        }
        return status;
    }

    Win32Error QueryValueInfo(std::wstring_view valueName, std::uint32_t& type,
                              std::uint32_t& size) override {
        const std::wstring name(valueName);
        DWORD nativeType = 0;
        DWORD nativeSize = 0;
        const LSTATUS status = ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &nativeType,
                                                  nullptr, &nativeSize);
        type = nativeType;
        size = nativeSize;
        return status;
    }

    Win32Error QueryValue(std::wstring_view valueName, std::size_t capacity, std::uint32_t& type,
                          std::vector<std::uint8_t>& data) override {
        const std::wstring name(valueName);
        data.assign(capacity, 0);
        DWORD nativeType = 0;
        DWORD size = static_cast<DWORD>(capacity);
        const LSTATUS status =
            ::RegQueryValueExW(key_.get(), name.c_str(), nullptr, &nativeType, data.data(), &size);
        if (status != ERROR_SUCCESS) {
            data.clear();
            return status;
        }
        data.resize(size);
        type = nativeType;
        return status;
    }

    Win32Error Flush() override { return ::RegFlushKey(key_.get()); }

  private:
    UniqueRegistryKey key_;
};

// The real Windows registry: keys held open for their subkeys and values, and
// the per-user value calls. Each member is the Windows call its port names.
class Win32Registry final : public Registry {
  public:
    Win32Error OpenKey(RegistryHive hive, std::wstring_view subKey, std::uint32_t access,
                       std::unique_ptr<RegistryKey>& key) override {
        const std::wstring path(subKey);
        UniqueRegistryKey native;
        const LSTATUS status = ::RegOpenKeyExW(Root(hive), path.c_str(), 0, access, native.put());
        if (status == ERROR_SUCCESS) {
            key = std::make_unique<Key>(std::move(native));
        }
        return status;
    }

    Win32Error RegGetValueW(RegistryHive hive, std::wstring_view subKey,
                            std::wstring_view valueName, std::uint32_t flags, std::size_t capacity,
                            std::uint32_t& type, std::vector<std::uint8_t>& data) override {
        const std::wstring path(subKey);
        const std::wstring name(valueName);
        std::vector<std::uint8_t> buffer(capacity == 0 ? 1 : capacity);
        DWORD nativeType = 0;
        DWORD size = static_cast<DWORD>(capacity);
        const LSTATUS status = ::RegGetValueW(Root(hive), path.c_str(), name.c_str(), flags,
                                              &nativeType, buffer.data(), &size);
        if (status == ERROR_SUCCESS) {
            buffer.resize(size);
            data = std::move(buffer);
            type = nativeType;
        }
        return status;
    }

    Win32Error RegSetKeyValueW(RegistryHive hive, std::wstring_view subKey,
                               std::wstring_view valueName, std::uint32_t type,
                               std::span<const std::uint8_t> data) override {
        const std::wstring path(subKey);
        const std::wstring name(valueName);
        return ::RegSetKeyValueW(Root(hive), path.c_str(), name.c_str(), type, data.data(),
                                 static_cast<DWORD>(data.size()));
    }

    Win32Error RegDeleteKeyValueW(RegistryHive hive, std::wstring_view subKey,
                                  std::wstring_view valueName) override {
        const std::wstring path(subKey);
        const std::wstring name(valueName);
        return ::RegDeleteKeyValueW(Root(hive), path.c_str(), name.c_str());
    }
};

}  // namespace

std::unique_ptr<Registry> MakeWin32Registry() {
    return std::make_unique<Win32Registry>();
}

}  // namespace lenticor::win32
