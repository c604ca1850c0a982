// The simulated NVIDIA driver store's document (the machine file's "nvidia"
// member and the test driver's state file). A document the store refuses is
// an NvidiaStoreError; one it takes is saved in a shape it takes again and
// saves unchanged, before and after a settings session.
#include "fuzz_support.h"
#include "platform/sim/nvidia_driver_store.h"

using lenticor::sim::NvidiaDriverStore;

static void CheckSavesUnchanged(const NvidiaDriverStore& store) {
    const nlohmann::json saved = store.Document();
    FUZZ_CHECK(NvidiaDriverStore(saved).Document() == saved);
}

FUZZ_TARGET {
    const auto document = fz::Accepted<nlohmann::json::exception>(
        [&] { return nlohmann::json::parse(fz::AsText(data, size)); });
    if (!document)
        return;
    auto store =
        fz::Accepted<lenticor::sim::NvidiaStoreError>([&] { return NvidiaDriverStore(*document); });
    if (!store)
        return;
    CheckSavesUnchanged(*store);
    lenticor::nvapi::SessionHandle session = nullptr;
    (void)store->Initialize();
    if (store->CreateSession(&session) == lenticor::nvapi::kOk) {
        (void)store->LoadSettings(session);
        (void)store->SaveSettings(session);
        (void)store->DestroySession(session);
    }
    CheckSavesUnchanged(*store);
}
