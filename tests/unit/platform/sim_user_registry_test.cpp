// What one run writes under HKEY_CURRENT_USER the next run must read, or the
// registry fallback of the undo records would forget them between runs.

#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/sim_ports.h"
#include "platform/sim/sim_user_registry.h"

namespace lenticor::sim {
namespace {

TEST(SimUserRegistry, ChangedValuesSurviveIntoTheNextRunOnceEach) {
    auto document = DefaultMachineDocument();
    document["registry"]["HKCU\\software\\K"] = {{"Old", {{"string", "x"}}},
                                                 {"Gone", {{"dword", 1}}}};
    auto first = ParseMachine(document);
    SimRegistry registry(first);
    const auto own = MakeRegistryString(L"own");
    const std::vector<std::uint8_t> one = {1, 0, 0, 0};
    const auto user = RegistryHive::CurrentUser;
    ASSERT_EQ(registry.RegSetKeyValueW(user, L"Software\\K", L"old", kRegSz, own.data), 0);
    ASSERT_EQ(registry.RegDeleteKeyValueW(user, L"SOFTWARE\\k", L"GONE"), 0);
    ASSERT_EQ(registry.RegSetKeyValueW(user, L"Software\\New\\Deep", L"v", kRegDword, one), 0);

    StoreSimUserRegistry(first, document);
    EXPECT_EQ(document["registry"]["HKCU\\software\\K"].size(), 1u) << document.dump();

    auto next = ParseMachine(document);
    SimRegistry nextRegistry(next);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    const auto get = [&](const wchar_t* key, const wchar_t* value) {
        return nextRegistry.RegGetValueW(user, key, value, kRrfRtRegSz, 128, type, data);
    };
    EXPECT_EQ(get(L"Software\\K", L"Old"), kErrorSuccess);
    EXPECT_EQ(data, own.data);
    EXPECT_EQ(get(L"Software\\K", L"Gone"), kErrorFileNotFound);
    EXPECT_EQ(get(L"Software\\New\\Deep", L"v"), kErrorUnsupportedType);
}

}  // namespace
}  // namespace lenticor::sim
