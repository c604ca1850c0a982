#include "windows_api.h"

#include "fixed_text.h"
#include "win32_ports.h"

#include <dxgi.h>
#include "com_object.h"

namespace lenticor::win32 {
namespace {

using Microsoft::WRL::ComPtr;

class Output final : public DxgiOutput {
  public:
    explicit Output(ComPtr<IDXGIOutput> output) : output_(std::move(output)) {}
    HResult GetDesc(DxgiOutputDesc& desc) override {
        DXGI_OUTPUT_DESC native{};
        const HRESULT hr = output_->GetDesc(&native);
        if (SUCCEEDED(hr)) {
            desc.deviceName = FromFixed(native.DeviceName);
            desc.desktopCoordinates = {
                native.DesktopCoordinates.left, native.DesktopCoordinates.top,
                native.DesktopCoordinates.right, native.DesktopCoordinates.bottom};
            desc.attachedToDesktop = native.AttachedToDesktop != FALSE;
            desc.rotation = static_cast<std::uint32_t>(native.Rotation);
        }
        return hr;
    }

  private:
    ComPtr<IDXGIOutput> output_;
};

class Adapter final : public DxgiAdapter {
  public:
    explicit Adapter(ComPtr<IDXGIAdapter1> adapter) : adapter_(std::move(adapter)) {}
    HResult GetDesc1(DxgiAdapterDesc& desc) override {
        DXGI_ADAPTER_DESC1 native{};
        const HRESULT hr = adapter_->GetDesc1(&native);
        if (SUCCEEDED(hr)) {
            desc.description = FromFixed(native.Description);
            desc.vendorId = native.VendorId;
            desc.deviceId = native.DeviceId;
            desc.adapterLuid = {native.AdapterLuid.LowPart, native.AdapterLuid.HighPart};
            desc.flags = native.Flags;
        }
        return hr;
    }
    HResult EnumOutputs(std::uint32_t ordinal, std::unique_ptr<DxgiOutput>& output) override {
        return WrapInterface<Output, IDXGIOutput>(
            output, [&](IDXGIOutput** native) { return adapter_->EnumOutputs(ordinal, native); });
    }

  private:
    ComPtr<IDXGIAdapter1> adapter_;
};

class Factory final : public DxgiFactory {
  public:
    explicit Factory(ComPtr<IDXGIFactory1> factory) : factory_(std::move(factory)) {}
    HResult EnumAdapters1(std::uint32_t ordinal, std::unique_ptr<DxgiAdapter>& adapter) override {
        return WrapInterface<Adapter, IDXGIAdapter1>(adapter, [&](IDXGIAdapter1** native) {
            return factory_->EnumAdapters1(ordinal, native);
        });
    }

  private:
    ComPtr<IDXGIFactory1> factory_;
};

// The real DXGI: the factory, its adapters and their outputs, each a COM
// object held for as long as its port object lives.
class Win32Dxgi final : public Dxgi {
  public:
    HResult CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) override {
        return WrapInterface<Factory, IDXGIFactory1>(factory, [](IDXGIFactory1** native) {
            return ::CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(native));
        });
    }
};

}  // namespace

std::unique_ptr<Dxgi> MakeWin32Dxgi() {
    return std::make_unique<Win32Dxgi>();
}

}  // namespace lenticor::win32
