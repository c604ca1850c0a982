#include "windows_api.h"

#include <objbase.h>
#include <oleauto.h>
#include <strmif.h>
#include <uuids.h>

#include "com_object.h"
#include "win32_ports.h"

namespace lenticor::win32 {
namespace {

using Microsoft::WRL::ComPtr;

// Whatever Read leaves in the VARIANT (a BSTR, an interface, an array) is
// freed on every path, including a failed Read that still wrote into it.
class ScopedVariant {
  public:
    ScopedVariant() { ::VariantInit(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    ~ScopedVariant() { ::VariantClear(&value_); }

    [[nodiscard]] VARIANT* get() { return &value_; }
    [[nodiscard]] const VARIANT& value() const { return value_; }

  private:
    VARIANT value_;
};

class Win32PropertyBag final : public PropertyBag {
  public:
    explicit Win32PropertyBag(ComPtr<IPropertyBag> bag) : bag_(std::move(bag)) {}

    HResult Read(std::wstring_view name, PropertyValue& value) override {
        const std::wstring propertyName(name);
        ScopedVariant variant;
        const HRESULT hr = bag_->Read(propertyName.c_str(), variant.get(), nullptr);
        const VARIANT& native = variant.value();
        value.type = native.vt;
        value.bstr.reset();
        if (native.vt == VT_BSTR && native.bstrVal != nullptr) {
            // The BSTR's own length, not wcslen: a driver's name may carry
            // embedded NULs and the caller decides what to do with them.
            value.bstr.emplace(native.bstrVal, ::SysStringLen(native.bstrVal));
        }
        return hr;
    }

  private:
    ComPtr<IPropertyBag> bag_;
};

class Win32Moniker final : public Moniker {
  public:
    explicit Win32Moniker(ComPtr<IMoniker> moniker) : moniker_(std::move(moniker)) {}

    HResult BindToStorage(std::unique_ptr<PropertyBag>& bag) override {
        bag.reset();
        return WrapInterface<Win32PropertyBag, IPropertyBag>(bag, [&](IPropertyBag** native) {
            return moniker_->BindToStorage(nullptr, nullptr, __uuidof(IPropertyBag),
                                           reinterpret_cast<void**>(native));
        });
    }

  private:
    ComPtr<IMoniker> moniker_;
};

class Win32MonikerEnumerator final : public MonikerEnumerator {
  public:
    explicit Win32MonikerEnumerator(ComPtr<IEnumMoniker> enumerator)
        : enumerator_(std::move(enumerator)) {}

    HResult Next(std::unique_ptr<Moniker>& moniker) override {
        moniker.reset();
        return WrapInterface<Win32Moniker, IMoniker>(
            moniker, [&](IMoniker** native) { return enumerator_->Next(1, native, nullptr); });
    }

  private:
    ComPtr<IEnumMoniker> enumerator_;
};

class Win32SystemDeviceEnumerator final : public SystemDeviceEnumerator {
  public:
    explicit Win32SystemDeviceEnumerator(ComPtr<ICreateDevEnum> devEnum)
        : devEnum_(std::move(devEnum)) {}

    HResult CreateVideoInputEnumerator(std::unique_ptr<MonikerEnumerator>& enumerator,
                                       std::uint32_t flags) override {
        enumerator.reset();
        return WrapInterface<Win32MonikerEnumerator, IEnumMoniker>(
            enumerator, [&](IEnumMoniker** native) {
                return devEnum_->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, native,
                                                       flags);
            });
    }

  private:
    ComPtr<ICreateDevEnum> devEnum_;
};

// The real Windows video inputs: COM and the DirectShow system device
// enumerator. Each member is the Windows call its port names, nothing more.
class Win32VideoInputDevices final : public VideoInputDevices {
  public:
    HResult CoInitializeApartment() override {
        return ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }

    void CoUninitialize() override { ::CoUninitialize(); }
    HResult CreateSystemDeviceEnumerator(
        std::unique_ptr<SystemDeviceEnumerator>& enumerator) override {
        enumerator.reset();
        return WrapInterface<Win32SystemDeviceEnumerator, ICreateDevEnum>(
            enumerator, [](ICreateDevEnum** native) {
                return ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_ICreateDevEnum, reinterpret_cast<void**>(native));
            });
    }
};

}  // namespace

std::unique_ptr<VideoInputDevices> MakeWin32VideoInputDevices() {
    return std::make_unique<Win32VideoInputDevices>();
}

}  // namespace lenticor::win32
