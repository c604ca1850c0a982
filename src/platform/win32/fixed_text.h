#pragma once
// Windows texts of a fixed capacity: arrays inside records, terminated only
// when shorter than the array, and caller buffers a call copies a text into.

#include "windows_api.h"

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace lenticor::win32 {

template <std::size_t N>
std::wstring FromFixed(const WCHAR (&text)[N]) {
    return std::wstring(text, ::wcsnlen(text, N));
}

// `call(buffer)` copies a text into a buffer of `capacity` units and answers
// its length when it fits, the size it needs (or 0 for a failure) otherwise.
// `text` receives it only when it fits; gives the call's answer either way.
template <class Call>
DWORD FetchText(std::uint32_t capacity, std::wstring& text, Call call) {
    text.clear();
    std::vector<WCHAR> buffer(capacity == 0 ? 1 : capacity);
    const DWORD length = call(buffer.data());
    if (length != 0 && length < capacity) {
        text.assign(buffer.data(), length);
    }
    return length;
}

}  // namespace lenticor::win32
