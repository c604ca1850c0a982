#pragma once
// The real DXGI: the factory, its adapters and their outputs, each a COM
// object held for as long as its port object lives.

#include "platform/dxgi.h"

namespace lenticor::win32 {

class Win32Dxgi final : public Dxgi {
  public:
    HResult CreateDXGIFactory1(std::unique_ptr<DxgiFactory>& factory) override;
};

}  // namespace lenticor::win32
