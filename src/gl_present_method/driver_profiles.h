#pragma once
// The narrow view of the NVIDIA driver's per-application profiles that the
// present-method command needs: one setting, in the profile of one exe.

#include <cstdint>
#include <optional>
#include <string>

namespace lenticor::gl_present_method {

inline constexpr std::uint32_t kPresentMethodSettingId = 0x20D690F8u;

// Profiles this program creates are named with this prefix and the exe.
inline constexpr char kOwnProfilePrefix[] = "Korvo Vistel ";
inline constexpr wchar_t kOwnProfilePrefixWide[] = L"Korvo Vistel ";

struct ProfileState {
    bool found = false;  // the driver has an application entry, hence a profile
    bool ours = false;   // the profile's name begins with kOwnProfilePrefix
    // The setting, only when the user stored it in this very profile (not
    // inherited from the global profile, not a driver-predefined value).
    std::optional<std::uint32_t> value;
    bool error = false;   // a call other than a lookup's "not found" failed
    bool shared = false;  // the profile holds more than one application
};

class IDriverProfiles {
  public:
    virtual ~IDriverProfiles() = default;
    // Empty on success, else "NVAPI_UNAVAILABLE" or "NVAPI_SESSION_FAILED".
    virtual std::string Open() = 0;
    virtual ProfileState ReadProfile(const std::wstring& exe) = 0;
    virtual bool CreateProfileForExe(const std::wstring& exe, std::uint32_t value) = 0;
    virtual bool SetValue(const std::wstring& exe, std::uint32_t value) = 0;
    virtual bool DeleteValue(const std::wstring& exe) = 0;
    virtual bool DeleteProfile(const std::wstring& exe) = 0;
    // Changes reach the driver's store only through Save.
    virtual bool Save() = 0;
    // The status of the last failing NvAPI call, 0 when none failed.
    virtual std::int32_t LastStatus() const = 0;
};

}  // namespace lenticor::gl_present_method
