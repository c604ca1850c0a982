#pragma once
// Our own layout-exact copies of the NvAPI records, handle types and entry
// points that the driver-profile code exchanges with nvapi64.dll. NvAPI is a
// C interface with 4-byte alignment throughout; every offset below is checked
// against the published record layouts so that a change here cannot silently
// break the binary contract with the driver.

#include <cstddef>
#include <cstdint>

namespace lenticor::nvapi {

using Status = std::int32_t;

// NvAPI_Status values the driver returns and our simulated driver reproduces.
inline constexpr Status kOk = 0;
inline constexpr Status kError = -1;
inline constexpr Status kApiNotInitialized = -4;
inline constexpr Status kInvalidArgument = -5;
inline constexpr Status kInvalidHandle = -8;
inline constexpr Status kIncompatibleStructVersion = -9;
inline constexpr Status kInvalidUserPrivilege = -137;
inline constexpr Status kSettingNotFound = -160;
inline constexpr Status kProfileNotFound = -163;
inline constexpr Status kProfileNameInUse = -164;
inline constexpr Status kProfileNameEmpty = -165;
inline constexpr Status kExecutableNotFound = -166;
inline constexpr Status kExecutableAlreadyInUse = -167;

// NvAPI_UnicodeString: 2048 UTF-16 code units, NUL-terminated.
inline constexpr std::size_t kUnicodeStringMax = 2048;
using UnicodeString = char16_t[kUnicodeStringMax];
inline constexpr std::size_t kBinaryDataMax = 4096;

// Opaque handles (NV_DECLARE_HANDLE): pointers to incomplete structs that the
// caller never dereferences.
struct DrsSession;
struct DrsProfile;
using SessionHandle = DrsSession*;
using ProfileHandle = DrsProfile*;

// A structure's version word: its size in the low half, its version above.
constexpr std::uint32_t MakeVersion(std::size_t size, std::uint32_t version) {
    return static_cast<std::uint32_t>(size) | (version << 16);
}

// NVDRS_PROFILE_V1.
struct DrsProfileRecord {
    std::uint32_t version;
    UnicodeString profileName;
    std::uint32_t gpuSupport;  // NVDRS_GPU_SUPPORT bit field
    std::uint32_t isPredefined;
    std::uint32_t numOfApps;
    std::uint32_t numOfSettings;
};

// NVDRS_APPLICATION_V4.
struct DrsApplicationRecord {
    std::uint32_t version;
    std::uint32_t isPredefined;
    UnicodeString appName;
    UnicodeString userFriendlyName;
    UnicodeString launcher;
    UnicodeString fileInFolder;
    std::uint32_t flags;  // isMetro:1, isCommandLine:1, reserved:30
    UnicodeString commandLine;
};

// NVDRS_BINARY_SETTING.
struct DrsBinarySetting {
    std::uint32_t valueLength;
    std::uint8_t valueData[kBinaryDataMax];
};

// One of the three value forms, chosen by settingType.
union DrsSettingValue {
    std::uint32_t u32Value;
    DrsBinarySetting binaryValue;
    UnicodeString wszValue;
};

// NVDRS_SETTING_LOCATION.
inline constexpr std::uint32_t kCurrentProfileLocation = 0;
inline constexpr std::uint32_t kGlobalProfileLocation = 1;
inline constexpr std::uint32_t kBaseProfileLocation = 2;
inline constexpr std::uint32_t kDefaultProfileLocation = 3;

// NVDRS_SETTING_TYPE: NVDRS_DWORD_TYPE.
inline constexpr std::uint32_t kDwordType = 0;

// NVDRS_SETTING_V1.
struct DrsSettingRecord {
    std::uint32_t version;
    UnicodeString settingName;
    std::uint32_t settingId;
    std::uint32_t settingType;
    std::uint32_t settingLocation;
    std::uint32_t isCurrentPredefined;
    std::uint32_t isPredefinedValid;
    DrsSettingValue predefinedValue;  // u32PredefinedValue, ...
    DrsSettingValue currentValue;     // u32CurrentValue, ...
};

static_assert(sizeof(DrsProfileRecord) == 0x1014);
static_assert(offsetof(DrsProfileRecord, profileName) == 4);
static_assert(offsetof(DrsProfileRecord, gpuSupport) == 4100);
static_assert(offsetof(DrsProfileRecord, isPredefined) == 4104);
static_assert(offsetof(DrsProfileRecord, numOfApps) == 4108);
static_assert(offsetof(DrsProfileRecord, numOfSettings) == 4112);

static_assert(sizeof(DrsApplicationRecord) == 0x500C);
static_assert(offsetof(DrsApplicationRecord, isPredefined) == 4);
static_assert(offsetof(DrsApplicationRecord, appName) == 8);
static_assert(offsetof(DrsApplicationRecord, userFriendlyName) == 4104);
static_assert(offsetof(DrsApplicationRecord, launcher) == 8200);
static_assert(offsetof(DrsApplicationRecord, fileInFolder) == 12296);
static_assert(offsetof(DrsApplicationRecord, flags) == 16392);
static_assert(offsetof(DrsApplicationRecord, commandLine) == 16396);

static_assert(sizeof(DrsBinarySetting) == 4100);
static_assert(sizeof(DrsSettingValue) == 4100);
static_assert(sizeof(DrsSettingRecord) == 0x3020);
static_assert(offsetof(DrsSettingRecord, settingName) == 4);
static_assert(offsetof(DrsSettingRecord, settingId) == 4100);
static_assert(offsetof(DrsSettingRecord, settingType) == 4104);
static_assert(offsetof(DrsSettingRecord, settingLocation) == 4108);
static_assert(offsetof(DrsSettingRecord, isCurrentPredefined) == 4112);
static_assert(offsetof(DrsSettingRecord, isPredefinedValid) == 4116);
static_assert(offsetof(DrsSettingRecord, predefinedValue) == 4120);
static_assert(offsetof(DrsSettingRecord, currentValue) == 8220);

inline constexpr std::uint32_t kProfileVersion1 = MakeVersion(sizeof(DrsProfileRecord), 1);
inline constexpr std::uint32_t kApplicationVersion4 = MakeVersion(sizeof(DrsApplicationRecord), 4);
inline constexpr std::uint32_t kSettingVersion1 = MakeVersion(sizeof(DrsSettingRecord), 1);
static_assert(kProfileVersion1 == 0x00011014u);
static_assert(kApplicationVersion4 == 0x0004500Cu);
static_assert(kSettingVersion1 == 0x00013020u);

// The entry points, as nvapi_QueryInterface hands them out. On x86-64 there
// is one calling convention, so __cdecl needs no spelling here.
using QueryInterfaceFn = void* (*)(unsigned int id);
using InitializeFn = Status (*)();
using CreateSessionFn = Status (*)(SessionHandle* session);
using LoadSettingsFn = Status (*)(SessionHandle session);
using DestroySessionFn = Status (*)(SessionHandle session);
using SaveSettingsFn = Status (*)(SessionHandle session);
using FindApplicationByNameFn = Status (*)(SessionHandle session, char16_t* appName,
                                           ProfileHandle* profile,
                                           DrsApplicationRecord* application);
using CreateProfileFn = Status (*)(SessionHandle session, DrsProfileRecord* profileInfo,
                                   ProfileHandle* profile);
using DeleteProfileFn = Status (*)(SessionHandle session, ProfileHandle profile);
using CreateApplicationFn = Status (*)(SessionHandle session, ProfileHandle profile,
                                       DrsApplicationRecord* application);
using GetSettingFn = Status (*)(SessionHandle session, ProfileHandle profile,
                                std::uint32_t settingId, DrsSettingRecord* setting);
using SetSettingFn = Status (*)(SessionHandle session, ProfileHandle profile,
                                DrsSettingRecord* setting);
using DeleteProfileSettingFn = Status (*)(SessionHandle session, ProfileHandle profile,
                                          std::uint32_t settingId);
using GetProfileInfoFn = Status (*)(SessionHandle session, ProfileHandle profile,
                                    DrsProfileRecord* profileInfo);

// The interface ids, in the order the driver-profile code queries them.
enum class Function : std::size_t {
    Initialize,
    CreateSession,
    LoadSettings,
    DestroySession,
    SaveSettings,
    FindApplicationByName,
    CreateProfile,
    DeleteProfile,
    CreateApplication,
    GetSetting,
    SetSetting,
    DeleteProfileSetting,
    GetProfileInfo,
};
inline constexpr std::size_t kFunctionCount = 13;

struct InterfaceId {
    std::uint32_t id;
    const char* name;
};
inline constexpr InterfaceId kInterfaceIds[kFunctionCount] = {
    {0x0150E828u, "NvAPI_Initialize"},
    {0x0694D52Eu, "NvAPI_DRS_CreateSession"},
    {0x375DBD6Bu, "NvAPI_DRS_LoadSettings"},
    {0xDAD9CFF8u, "NvAPI_DRS_DestroySession"},
    {0xFCBC7E14u, "NvAPI_DRS_SaveSettings"},
    {0xEEE566B2u, "NvAPI_DRS_FindApplicationByName"},
    {0xCC176068u, "NvAPI_DRS_CreateProfile"},
    {0x17093206u, "NvAPI_DRS_DeleteProfile"},
    {0x4347A9DEu, "NvAPI_DRS_CreateApplication"},
    {0x73BF8338u, "NvAPI_DRS_GetSetting"},
    {0x577DD202u, "NvAPI_DRS_SetSetting"},
    {0xE4A26362u, "NvAPI_DRS_DeleteProfileSetting"},
    {0x61CD6FD6u, "NvAPI_DRS_GetProfileInfo"},
};

constexpr const InterfaceId& Interface(Function function) {
    return kInterfaceIds[static_cast<std::size_t>(function)];
}

}  // namespace lenticor::nvapi
