#include "windows_api.h"

#include <cfgmgr32.h>
#include <initguid.h>
// initguid.h first: the property keys are defined here, not only declared.
#include <devpkey.h>

#include "optional_export.h"
#include "win32_ports.h"

#include <string>

namespace lenticor::win32 {
namespace {

const DEVPROPKEY& NativeKey(DeviceProperty key) {
    switch (key) {
        case DeviceProperty::InstanceId:
            return DEVPKEY_Device_InstanceId;
        case DeviceProperty::Driver:
            return DEVPKEY_Device_Driver;
        case DeviceProperty::LocationInfo:
            return DEVPKEY_Device_LocationInfo;
        case DeviceProperty::LastArrivalDate:
            break;
    }
    return DEVPKEY_Device_LastArrivalDate;
}

// Both property reads take the key, the type, the buffer and its size in
// bytes (never more than the buffer holds) after the object they read.
template <class Read>
ConfigRet ReadProperty(DeviceProperty key, std::uint32_t& type, std::span<std::uint8_t> buffer,
                       std::uint32_t& size, Read read) {
    DEVPROPTYPE nativeType = 0;
    ULONG nativeSize = static_cast<ULONG>(size <= buffer.size() ? size : buffer.size());
    const CONFIGRET result = read(&NativeKey(key), &nativeType, buffer.data(), &nativeSize);
    type = nativeType;
    size = nativeSize;
    return result;
}

using GetDeviceInterfacePropertyW = CONFIGRET(WINAPI*)(LPCWSTR, const DEVPROPKEY*, DEVPROPTYPE*,
                                                       PBYTE, PULONG, ULONG);

// An empty filter is no filter: the list calls take NULL for "every device".
PCWSTR FilterOrNull(const std::wstring& filter) {
    return filter.empty() ? nullptr : filter.c_str();
}

// The real Windows configuration manager: device lists, device nodes and their
// properties. Each member is the Windows call its port names, nothing more.
class Win32ConfigManager final : public ConfigManager {
  public:
    ConfigRet GetDeviceInterfaceProperty(std::wstring_view interfacePath, DeviceProperty key,
                                         std::uint32_t& type, std::span<std::uint8_t> buffer,
                                         std::uint32_t& size) override {
        static const auto function = OptionalExport<GetDeviceInterfacePropertyW>(
            L"cfgmgr32.dll", "CM_Get_Device_Interface_PropertyW");
        if (function == nullptr)
            return CR_CALL_NOT_IMPLEMENTED;
        const std::wstring path(interfacePath);
        return ReadProperty(key, type, buffer, size, [&](auto... arguments) {
            return function(path.c_str(), arguments..., 0);
        });
    }

    ConfigRet GetDeviceIdListSize(std::uint32_t& size, std::wstring_view filter,
                                  std::uint32_t flags) override {
        const std::wstring text(filter);
        ULONG length = 0;
        const CONFIGRET result = ::CM_Get_Device_ID_List_SizeW(&length, FilterOrNull(text), flags);
        size = length;
        return result;
    }

    ConfigRet GetDeviceIdList(std::wstring_view filter, std::vector<wchar_t>& buffer,
                              std::uint32_t flags) override {
        const std::wstring text(filter);
        return ::CM_Get_Device_ID_ListW(FilterOrNull(text), buffer.data(),
                                        static_cast<ULONG>(buffer.size()), flags);
    }

    ConfigRet LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                            std::uint32_t flags) override {
        std::wstring id(instanceId);
        DEVINST native = 0;
        const CONFIGRET result = ::CM_Locate_DevNodeW(&native, id.data(), flags);
        devInst = native;
        return result;
    }

    ConfigRet GetDevNodeProperty(DevInst devInst, DeviceProperty key, std::uint32_t& type,
                                 std::span<std::uint8_t> buffer, std::uint32_t& size) override {
        return ReadProperty(key, type, buffer, size, [&](auto... arguments) {
            return ::CM_Get_DevNode_PropertyW(devInst, arguments..., 0);
        });
    }
};

}  // namespace

std::unique_ptr<ConfigManager> MakeWin32ConfigManager() {
    return std::make_unique<Win32ConfigManager>();
}

}  // namespace lenticor::win32
