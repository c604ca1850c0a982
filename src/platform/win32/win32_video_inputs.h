#pragma once
// The real Windows video inputs: COM and the DirectShow system device
// enumerator. Each member is the Windows call its port names, nothing more.

#include "platform/video_inputs.h"

namespace lenticor::win32 {

class Win32VideoInputDevices final : public VideoInputDevices {
  public:
    HResult CoInitializeApartment() override;
    void CoUninitialize() override;
    HResult CreateSystemDeviceEnumerator(
        std::unique_ptr<SystemDeviceEnumerator>& enumerator) override;
};

}  // namespace lenticor::win32
