#include "platform/sim/sim_host.h"
#include "platform/sim/sim_port_calls.h"

#include "app/text.h"

namespace lenticor::sim {
namespace {

// Environment names compare without regard to case on Windows.
bool IsProgramData(std::wstring_view name) {
    constexpr std::wstring_view kName = L"programdata";
    if (name.size() != kName.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        const wchar_t lower = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        if (lower != kName[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::uint32_t SimEnvironment::GetEnvironmentVariable(std::wstring_view name,
                                                     std::uint32_t capacity) {
    const PortCall counted;
    std::wstring ignored;
    return GetEnvironmentVariableW(name, capacity, ignored);
}

std::uint32_t SimEnvironment::Answer(const std::wstring& text, std::uint32_t capacity,
                                     std::wstring& value) {
    value.clear();
    const auto length = static_cast<std::uint32_t>(Utf16Length(text));
    if (length < capacity) {
        value = text;
        return length;
    }
    return length + 1;
}

std::uint32_t SimulatedProgramData::GetEnvironmentVariableW(std::wstring_view name,
                                                            std::uint32_t capacity,
                                                            std::wstring& value) {
    const PortCall counted;
    if (!IsProgramData(name)) {
        return inherited_.GetEnvironmentVariableW(name, capacity, value);
    }
    return Answer(programData_, capacity, value);
}

}  // namespace lenticor::sim
