#pragma once
// Port: DXGI adapter and output enumeration (CreateDXGIFactory1,
// IDXGIFactory1::EnumAdapters1, IDXGIAdapter1::GetDesc1, IDXGIAdapter::EnumOutputs,
// IDXGIOutput::GetDesc).
//
// Each interface object stands for one COM reference: destroying it releases
// the reference, so the owner's scope is the object's lifetime exactly as on
// Windows. Every call returns the HRESULT Windows returned; out-parameters are
// only meaningful when it succeeded.

#include "platform/display_config_types.h"
#include "platform/native_codes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lenticor {

// DXGI_OUTPUT_DESC without the HMONITOR.
struct DxgiOutputDesc {
    std::wstring deviceName;  // GDI device name, e.g. \\.\DISPLAY1 (at most 31 code units)
    nimbo::dcfg::RECTL desktopCoordinates{};
    bool attachedToDesktop = false;
    std::uint32_t rotation = 0;  // DXGI_MODE_ROTATION: 1 identity .. 4 rotate 270
};

// DXGI_ADAPTER_DESC1, the members the program reads.
struct DxgiAdapterDesc {
    std::wstring description;  // at most 127 code units
    std::uint32_t vendorId = 0;
    std::uint32_t deviceId = 0;
    nimbo::dcfg::LUID adapterLuid{};
    std::uint32_t flags = 0;  // DXGI_ADAPTER_FLAG_SOFTWARE = 2
};

class DxgiOutput {
  public:
    virtual ~DxgiOutput() = default;
    [[nodiscard]] virtual HResult GetDesc(DxgiOutputDesc& desc) = 0;
};

class DxgiAdapter {
  public:
    virtual ~DxgiAdapter() = default;
    [[nodiscard]] virtual HResult GetDesc1(DxgiAdapterDesc& desc) = 0;
    // DXGI_ERROR_NOT_FOUND past the last output; `output` is set on success only.
    [[nodiscard]] virtual HResult EnumOutputs(std::uint32_t ordinal,
                                              std::unique_ptr<DxgiOutput>& output) = 0;
};

class DxgiFactory {
  public:
    virtual ~DxgiFactory() = default;
    // DXGI_ERROR_NOT_FOUND past the last adapter; `adapter` is set on success only.
    [[nodiscard]] virtual HResult EnumAdapters1(std::uint32_t ordinal,
                                                std::unique_ptr<DxgiAdapter>& adapter) = 0;
};

class Dxgi {
  public:
    virtual ~Dxgi() = default;
    // CreateDXGIFactory1 for IDXGIFactory1; `factory` is set on success only.
    [[nodiscard]] virtual HResult CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) = 0;
};

}  // namespace lenticor
