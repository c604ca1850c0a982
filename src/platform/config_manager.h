#pragma once
// Port: device-tree properties from the configuration manager (cfgmgr32):
// CM_Get_Device_Interface_PropertyW, CM_Locate_DevNodeW, CM_Get_DevNode_PropertyW,
// and the device-id lists (CM_Get_Device_ID_List_SizeW, CM_Get_Device_ID_ListW).
// Results are CONFIGRET values; property values are the raw bytes Windows
// writes, strings as UTF-16LE with their terminating NUL.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace lenticor {

using ConfigRet = std::uint32_t;
using DevInst = std::uint32_t;

constexpr ConfigRet kCrSuccess = 0x00;
constexpr ConfigRet kCrNoSuchDevnode = 0x0D;
constexpr ConfigRet kCrNoSuchValue = 0x25;
constexpr ConfigRet kCrBufferSmall = 0x1A;
constexpr ConfigRet kCrCallNotImplemented = 0x34;
constexpr ConfigRet kCrNoSuchDeviceInterface = 0x37;

// DEVPROPTYPE values.
constexpr std::uint32_t kDevPropTypeString = 0x12;
constexpr std::uint32_t kDevPropTypeFileTime = 0x10;

// CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT.
constexpr std::uint32_t kCmGetIdListFilterEnumerator = 0x1;
constexpr std::uint32_t kCmGetIdListFilterPresent = 0x100;

// CM_LOCATE_DEVNODE_NORMAL.
constexpr std::uint32_t kCmLocateDevNodeNormal = 0;

// The DEVPKEYs the program reads.
enum class DeviceProperty {
    InstanceId,       // DEVPKEY_Device_InstanceId
    Driver,           // DEVPKEY_Device_Driver
    LastArrivalDate,  // DEVPKEY_Device_LastArrivalDate
    LocationInfo,     // DEVPKEY_Device_LocationInfo
};

class ConfigManager {
  public:
    virtual ~ConfigManager() = default;

    // CM_Get_Device_Interface_PropertyW(interfacePath, key, &type, buffer,
    // &size, 0). On entry `size` is the buffer's size in bytes; on return the
    // bytes written, or the bytes needed with kCrBufferSmall. Where the
    // function does not exist the call fails (kCrCallNotImplemented).
    [[nodiscard]] virtual ConfigRet GetDeviceInterfaceProperty(std::wstring_view interfacePath,
                                                               DeviceProperty key,
                                                               std::uint32_t& type,
                                                               std::span<std::uint8_t> buffer,
                                                               std::uint32_t& size) = 0;

    // CM_Get_Device_ID_List_SizeW(&size, filter, flags): the length in wide
    // characters of the multi-string the list needs.
    [[nodiscard]] virtual ConfigRet GetDeviceIdListSize(std::uint32_t& size,
                                                        std::wstring_view filter,
                                                        std::uint32_t flags) = 0;

    // CM_Get_Device_ID_ListW(filter, buffer, buffer.size(), flags): NUL-
    // terminated ids one after another, then one more NUL. A list that grew
    // since it was sized does not fit: kCrBufferSmall.
    [[nodiscard]] virtual ConfigRet GetDeviceIdList(std::wstring_view filter,
                                                    std::vector<wchar_t>& buffer,
                                                    std::uint32_t flags) = 0;

    // CM_Locate_DevNodeW(&devInst, instanceId, flags).
    [[nodiscard]] virtual ConfigRet LocateDevNode(DevInst& devInst, std::wstring_view instanceId,
                                                  std::uint32_t flags) = 0;

    // CM_Get_DevNode_PropertyW(devInst, key, &type, buffer, &size, 0), sizes
    // as above.
    [[nodiscard]] virtual ConfigRet GetDevNodeProperty(DevInst devInst, DeviceProperty key,
                                                       std::uint32_t& type,
                                                       std::span<std::uint8_t> buffer,
                                                       std::uint32_t& size) = 0;
};

}  // namespace lenticor
