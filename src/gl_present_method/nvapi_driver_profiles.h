#pragma once
// IDriverProfiles over NVIDIA's driver-settings library, loaded at run time
// from the system folder and reached through nvapi_QueryInterface.

#include "gl_present_method/driver_profiles.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lenticor {
class ModuleLoader;
}  // namespace lenticor

namespace lenticor::gl_present_method {

class NvapiDriverProfiles final : public IDriverProfiles {
  public:
    explicit NvapiDriverProfiles(ModuleLoader& modules);
    ~NvapiDriverProfiles() override;
    NvapiDriverProfiles(const NvapiDriverProfiles&) = delete;
    NvapiDriverProfiles& operator=(const NvapiDriverProfiles&) = delete;

    std::string Open() override;
    ProfileState ReadProfile(const std::wstring& exe) override;
    bool CreateProfileForExe(const std::wstring& exe, std::uint32_t value) override;
    bool SetValue(const std::wstring& exe, std::uint32_t value) override;
    bool DeleteValue(const std::wstring& exe) override;
    bool DeleteProfile(const std::wstring& exe) override;
    bool Save() override;
    std::int32_t LastStatus() const override;

  private:
    // Defined with the NvAPI function table in nvapi_driver_profiles.cpp.
    struct Functions;
    struct Lookup;

    // FindApplicationByName of the exe; stores nothing.
    [[nodiscard]] Lookup FindApplication(const std::wstring& exe);
    [[nodiscard]] bool WriteSetting(void* profile, std::uint32_t value);
    bool Fail(std::int32_t status);

    ModuleLoader& modules_;
    std::int32_t lastStatus_ = 0;
    void* session_ = nullptr;  // NvDRSSessionHandle
    std::unique_ptr<Functions> functions_;
};

}  // namespace lenticor::gl_present_method
