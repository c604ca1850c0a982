#pragma once
// Port: COM and the DirectShow system device enumerator, as far as the camera
// probe walks them (CoInitializeEx, CoCreateInstance(CLSID_SystemDeviceEnum),
// ICreateDevEnum::CreateClassEnumerator for the video-input category,
// IEnumMoniker::Next, IMoniker::BindToStorage, IPropertyBag::Read).
// Every interface is an object whose destruction is its Release, so no
// pointer outlives the function that holds it. Results are HRESULTs as
// Windows returned them.

#include "platform/native_codes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lenticor {

constexpr HResult kSFalse = 1;
constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106u);
constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);

// VARIANT types the probe distinguishes.
constexpr std::uint16_t kVtEmpty = 0;
constexpr std::uint16_t kVtBstr = 8;

// A VARIANT as IPropertyBag::Read filled it. `bstr` holds the BSTR's whole
// length (embedded NULs included) when `type` is VT_BSTR and the pointer was
// not null; nullopt for a null BSTR or any other type.
struct PropertyValue {
    std::uint16_t type = kVtEmpty;
    std::optional<std::wstring> bstr;
};

class PropertyBag {
  public:
    virtual ~PropertyBag() = default;
    // IPropertyBag::Read(name, &variant, NULL) on a VariantInit'ed VARIANT,
    // which the adapter clears before returning.
    [[nodiscard]] virtual HResult Read(std::wstring_view name, PropertyValue& value) = 0;
};

class Moniker {
  public:
    virtual ~Moniker() = default;
    // IMoniker::BindToStorage(NULL, NULL, IID_IPropertyBag). `bag` may stay
    // empty even on success, as a misbehaving driver's moniker can leave it.
    [[nodiscard]] virtual HResult BindToStorage(std::unique_ptr<PropertyBag>& bag) = 0;
};

class MonikerEnumerator {
  public:
    virtual ~MonikerEnumerator() = default;
    // IEnumMoniker::Next(1, &moniker, NULL): S_OK with one moniker, S_FALSE
    // past the last.
    [[nodiscard]] virtual HResult Next(std::unique_ptr<Moniker>& moniker) = 0;
};

class SystemDeviceEnumerator {
  public:
    virtual ~SystemDeviceEnumerator() = default;
    // ICreateDevEnum::CreateClassEnumerator(CLSID_VideoInputDeviceCategory,
    // &enumerator, flags). An empty category answers S_FALSE with no
    // enumerator.
    [[nodiscard]] virtual HResult CreateVideoInputEnumerator(
        std::unique_ptr<MonikerEnumerator>& enumerator, std::uint32_t flags) = 0;
};

class VideoInputDevices {
  public:
    virtual ~VideoInputDevices() = default;
    // CoInitializeEx(NULL, COINIT_APARTMENTTHREADED) on the calling thread.
    [[nodiscard]] virtual HResult CoInitializeApartment() = 0;
    // CoUninitialize: once for every CoInitializeApartment that succeeded.
    virtual void CoUninitialize() = 0;
    // CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC_SERVER,
    // IID_ICreateDevEnum).
    [[nodiscard]] virtual HResult CreateSystemDeviceEnumerator(
        std::unique_ptr<SystemDeviceEnumerator>& enumerator) = 0;
};

}  // namespace lenticor
