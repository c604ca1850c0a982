#pragma once
// Byte-exact copies of the display-configuration records that Windows hands
// out. Snapshots store these records as raw bytes, so a snapshot written by the
// simulated machine and one written on Windows must agree byte for byte; the
// portable code therefore never sees the SDK types, only these.
//
// The types keep the Windows type and member names and live in their own
// namespace `nimbo::dcfg`, so that inside `nimbo` an unqualified
// DISPLAYCONFIG_PATH_INFO still means the SDK type in the Windows adapter,
// which asserts size and offsets of both sides against each other. Windows
// enumerations are 32-bit here; BOOL is int32.

#include <cstddef>
#include <cstdint>

namespace nimbo::dcfg {

// WCHAR as Windows lays it out: 16 bits, whatever wchar_t is here.
using wchar_t16 = char16_t;

struct LUID {
    std::uint32_t LowPart;
    std::int32_t HighPart;
};

struct DISPLAYCONFIG_RATIONAL {
    std::uint32_t Numerator;
    std::uint32_t Denominator;
};

struct DISPLAYCONFIG_2DREGION {
    std::uint32_t cx;
    std::uint32_t cy;
};

struct POINTL {
    std::int32_t x;
    std::int32_t y;
};

struct RECTL {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

struct DISPLAYCONFIG_PATH_SOURCE_INFO {
    LUID adapterId;
    std::uint32_t id;
    // Windows overlays cloneGroupId / sourceModeInfoIdx (16 bits each) on this
    // word when virtual-mode support is on; such paths are never stored.
    std::uint32_t modeInfoIdx;
    std::uint32_t statusFlags;
};

struct DISPLAYCONFIG_PATH_TARGET_INFO {
    LUID adapterId;
    std::uint32_t id;
    std::uint32_t modeInfoIdx;  // desktopModeInfoIdx / targetModeInfoIdx overlay
    std::uint32_t outputTechnology;
    std::uint32_t rotation;
    std::uint32_t scaling;
    DISPLAYCONFIG_RATIONAL refreshRate;
    std::uint32_t scanLineOrdering;
    std::int32_t targetAvailable;
    std::uint32_t statusFlags;
};

struct DISPLAYCONFIG_PATH_INFO {
    DISPLAYCONFIG_PATH_SOURCE_INFO sourceInfo;
    DISPLAYCONFIG_PATH_TARGET_INFO targetInfo;
    std::uint32_t flags;
};

struct DISPLAYCONFIG_VIDEO_SIGNAL_INFO {
    std::uint64_t pixelRate;
    DISPLAYCONFIG_RATIONAL hSyncFreq;
    DISPLAYCONFIG_RATIONAL vSyncFreq;
    DISPLAYCONFIG_2DREGION activeSize;
    DISPLAYCONFIG_2DREGION totalSize;
    // The whole AdditionalSignalInfo word: videoStandard in bits 0-15,
    // vSyncFreqDivider in bits 16-21, ten reserved bits above.
    std::uint32_t videoStandard;
    std::uint32_t scanLineOrdering;
};

struct DISPLAYCONFIG_TARGET_MODE {
    DISPLAYCONFIG_VIDEO_SIGNAL_INFO targetVideoSignalInfo;
};

struct DISPLAYCONFIG_SOURCE_MODE {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t pixelFormat;
    POINTL position;
};

struct DISPLAYCONFIG_DESKTOP_IMAGE_INFO {
    POINTL PathSourceSize;
    RECTL DesktopImageRegion;
    RECTL DesktopImageClip;
};

struct DISPLAYCONFIG_MODE_INFO {
    std::uint32_t infoType;
    std::uint32_t id;
    LUID adapterId;
    union {
        DISPLAYCONFIG_TARGET_MODE targetMode;
        DISPLAYCONFIG_SOURCE_MODE sourceMode;
        DISPLAYCONFIG_DESKTOP_IMAGE_INFO desktopImageInfo;
    };
};

// The header every DisplayConfigGetDeviceInfo / DisplayConfigSetDeviceInfo
// packet starts with; `id` is the source or target id the packet is about.
struct DISPLAYCONFIG_DEVICE_INFO_HEADER {
    std::int32_t type;
    std::uint32_t size;
    LUID adapterId;
    std::uint32_t id;
};

// DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME (type 1): the GDI name of a source.
struct DISPLAYCONFIG_SOURCE_DEVICE_NAME {
    DISPLAYCONFIG_DEVICE_INFO_HEADER header;
    wchar_t16 viewGdiDeviceName[32];
};

// The display-scale packets. Windows documents neither; these are the bytes
// the program sends and reads. Steps are relative to the monitor's
// recommended scale.
struct DISPLAYCONFIG_GET_DPI_SCALE {  // type -3, read
    DISPLAYCONFIG_DEVICE_INFO_HEADER header;
    std::int32_t minScaleRel;
    std::int32_t curScaleRel;
    std::int32_t maxScaleRel;
};

struct DISPLAYCONFIG_SET_DPI_SCALE {  // type -4, written
    DISPLAYCONFIG_DEVICE_INFO_HEADER header;
    std::int32_t scaleRel;
};

inline constexpr std::int32_t kDeviceInfoGetSourceName = 1;
inline constexpr std::int32_t kDeviceInfoGetDpiScale = -3;
inline constexpr std::int32_t kDeviceInfoSetDpiScale = -4;

// Values of DISPLAYCONFIG_MODE_INFO::infoType and of the path flags. Named
// differently from the SDK macros so both can be in scope in the adapter.
inline constexpr std::uint32_t kModeInfoTypeSource = 1;
inline constexpr std::uint32_t kModeInfoTypeTarget = 2;
inline constexpr std::uint32_t kModeInfoTypeDesktopImage = 3;
inline constexpr std::uint32_t kPathActiveFlag = 0x1;
inline constexpr std::uint32_t kPathSupportVirtualModeFlag = 0x8;
inline constexpr std::uint32_t kInvalidModeIndex = 0xFFFFFFFFu;

inline constexpr std::uint32_t kVideoStandardMask = 0xFFFFu;
inline constexpr std::uint32_t kVSyncFreqDividerMask = 0x3Fu << 16;

static_assert(sizeof(LUID) == 8);
static_assert(sizeof(DISPLAYCONFIG_PATH_SOURCE_INFO) == 20);
static_assert(sizeof(DISPLAYCONFIG_PATH_TARGET_INFO) == 48);
static_assert(sizeof(DISPLAYCONFIG_PATH_INFO) == 72);
static_assert(offsetof(DISPLAYCONFIG_PATH_INFO, targetInfo) == 20);
static_assert(offsetof(DISPLAYCONFIG_PATH_INFO, flags) == 68);
static_assert(offsetof(DISPLAYCONFIG_PATH_TARGET_INFO, refreshRate) == 28);
static_assert(offsetof(DISPLAYCONFIG_PATH_TARGET_INFO, targetAvailable) == 40);
static_assert(sizeof(DISPLAYCONFIG_VIDEO_SIGNAL_INFO) == 48);
static_assert(offsetof(DISPLAYCONFIG_VIDEO_SIGNAL_INFO, videoStandard) == 40);
static_assert(sizeof(DISPLAYCONFIG_SOURCE_MODE) == 20);
static_assert(sizeof(DISPLAYCONFIG_DESKTOP_IMAGE_INFO) == 40);
static_assert(sizeof(DISPLAYCONFIG_MODE_INFO) == 64);
static_assert(offsetof(DISPLAYCONFIG_MODE_INFO, adapterId) == 8);
static_assert(offsetof(DISPLAYCONFIG_MODE_INFO, targetMode) == 16);
static_assert(offsetof(DISPLAYCONFIG_MODE_INFO, sourceMode) == 16);
static_assert(sizeof(DISPLAYCONFIG_DEVICE_INFO_HEADER) == 20);
static_assert(offsetof(DISPLAYCONFIG_DEVICE_INFO_HEADER, adapterId) == 8);
static_assert(offsetof(DISPLAYCONFIG_DEVICE_INFO_HEADER, id) == 16);
static_assert(sizeof(DISPLAYCONFIG_SOURCE_DEVICE_NAME) == 84);
static_assert(offsetof(DISPLAYCONFIG_SOURCE_DEVICE_NAME, viewGdiDeviceName) == 20);
static_assert(sizeof(DISPLAYCONFIG_GET_DPI_SCALE) == 32);
static_assert(offsetof(DISPLAYCONFIG_GET_DPI_SCALE, minScaleRel) == 20);
static_assert(offsetof(DISPLAYCONFIG_GET_DPI_SCALE, curScaleRel) == 24);
static_assert(offsetof(DISPLAYCONFIG_GET_DPI_SCALE, maxScaleRel) == 28);
static_assert(sizeof(DISPLAYCONFIG_SET_DPI_SCALE) == 24);
static_assert(offsetof(DISPLAYCONFIG_SET_DPI_SCALE, scaleRel) == 20);

}  // namespace nimbo::dcfg
