// Drives NvapiDriverProfiles through the real module loader against whatever
// nvapi64.dll the system folder holds, and prints one line of what it saw:
// proof that the test library loads, answers every interface and keeps what
// was saved.

#include "gl_present_method/nvapi_driver_profiles.h"
#include "win32_ports.h"

#include <cstdio>

int wmain() {
    using lenticor::gl_present_method::NvapiDriverProfiles;
    const auto modules = lenticor::win32::MakeWin32ModuleLoader();
    NvapiDriverProfiles profiles(*modules);
    const auto code = profiles.Open();
    if (!code.empty()) {
        std::printf("open %s\n", code.c_str());
        return 1;
    }
    const auto before = profiles.ReadProfile(L"probe.exe");
    const bool created = profiles.CreateProfileForExe(L"probe.exe", 1);
    const bool saved = profiles.Save();
    const auto after = profiles.ReadProfile(L"probe.exe");
    std::printf("before found=%d created=%d saved=%d after ours=%d value=%u status=%d\n",
                before.found ? 1 : 0, created ? 1 : 0, saved ? 1 : 0, after.ours ? 1 : 0,
                after.value.value_or(0u), static_cast<int>(profiles.LastStatus()));
    return created && saved ? 0 : 1;
}
