// The simulated NVIDIA driver store's document (the machine file's "nvidia"
// member and the test driver's state file). A document the store refuses is
// an NvidiaStoreError; one it takes is saved in a shape it takes again and
// saves unchanged, before and after a settings session.
#include "fuzz_support.h"
#include "platform/sim/nvidia_driver_store.h"

#include <optional>

namespace fz = lenticor::fuzz;
namespace nvapi = lenticor::nvapi;
using lenticor::sim::NvidiaDriverStore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(fz::AsText(data, size));
    } catch (const nlohmann::json::exception&) {
        return 0;
    }
    std::optional<NvidiaDriverStore> store;
    try {
        store.emplace(document);
    } catch (const lenticor::sim::NvidiaStoreError&) {
        return 0;
    }
    const nlohmann::json saved = store->Document();
    FUZZ_CHECK(NvidiaDriverStore(saved).Document() == saved);

    nvapi::SessionHandle session = nullptr;
    (void)store->Initialize();
    if (store->CreateSession(&session) == nvapi::kOk) {
        (void)store->LoadSettings(session);
        (void)store->SaveSettings(session);
        (void)store->DestroySession(session);
    }
    const nlohmann::json after = store->Document();
    FUZZ_CHECK(NvidiaDriverStore(after).Document() == after);
    return 0;
}
