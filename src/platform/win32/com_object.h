#pragma once
// COM interfaces behind port objects: each port object holds one reference in
// a ComPtr, so destroying the object is the interface's Release.

#include "windows_api.h"

#include <wrl/client.h>

#include <memory>
#include <utility>

namespace lenticor::win32 {

// Calls `call` with the address of an empty `Interface` pointer and, when the
// call gave one, hands `object` a `Wrapper` that owns it. Gives the call's
// HRESULT either way.
template <class Wrapper, class Interface, class Port, class Call>
HRESULT WrapInterface(std::unique_ptr<Port>& object, Call&& call) {
    Microsoft::WRL::ComPtr<Interface> native;
    const HRESULT hr = call(native.GetAddressOf());
    if (native) {
        object = std::make_unique<Wrapper>(std::move(native));
    }
    return hr;
}

}  // namespace lenticor::win32
