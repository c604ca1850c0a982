#include "windows_api.h"

#include "win32_dxgi.h"

#include <dxgi.h>
#include <wrl/client.h>

#include <cwchar>

namespace lenticor::win32 {
namespace {

using Microsoft::WRL::ComPtr;

template <std::size_t N>
std::wstring FromFixed(const WCHAR (&text)[N]) {
    return std::wstring(text, ::wcsnlen(text, N));
}

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
        ComPtr<IDXGIOutput> native;
        const HRESULT hr = adapter_->EnumOutputs(ordinal, native.GetAddressOf());
        if (SUCCEEDED(hr)) {
            output = std::make_unique<Output>(std::move(native));
        }
        return hr;
    }

  private:
    ComPtr<IDXGIAdapter1> adapter_;
};

class Factory final : public DxgiFactory {
  public:
    explicit Factory(ComPtr<IDXGIFactory1> factory) : factory_(std::move(factory)) {}
    HResult EnumAdapters1(std::uint32_t ordinal, std::unique_ptr<DxgiAdapter>& adapter) override {
        ComPtr<IDXGIAdapter1> native;
        const HRESULT hr = factory_->EnumAdapters1(ordinal, native.GetAddressOf());
        if (SUCCEEDED(hr)) {
            adapter = std::make_unique<Adapter>(std::move(native));
        }
        return hr;
    }

  private:
    ComPtr<IDXGIFactory1> factory_;
};

}  // namespace

HResult Win32Dxgi::CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) {
    ComPtr<IDXGIFactory1> native;
    const HRESULT hr = ::CreateDXGIFactory1(__uuidof(IDXGIFactory1),
                                            reinterpret_cast<void**>(native.GetAddressOf()));
    if (SUCCEEDED(hr)) {
        factory = std::make_unique<Factory>(std::move(native));
    }
    return hr;
}

}  // namespace lenticor::win32
