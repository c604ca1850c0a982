#pragma once
// The real Windows implementations of the ports the readiness probes add: the
// DirectShow device enumerator and the process environment. Each member is the
// Windows call its port names, nothing more.

#include "platform/environment.h"
#include "platform/video_inputs.h"

namespace lenticor::win32 {

class Win32VideoInputDevices final : public VideoInputDevices {
  public:
    HResult CoInitializeApartment() override;
    void CoUninitialize() override;
    HResult CreateSystemDeviceEnumerator(
        std::unique_ptr<SystemDeviceEnumerator>& enumerator) override;
};

class Win32Environment final : public Environment {
  public:
    std::uint32_t GetEnvironmentVariable(std::wstring_view name, std::uint32_t capacity) override;
    std::uint32_t GetEnvironmentVariableW(std::wstring_view name, std::uint32_t capacity,
                                          std::wstring& value) override;
};

}  // namespace lenticor::win32
