// A stand-in for the driver's nvapi64.dll in a Wine prefix: the simulated
// driver store, read from the JSON file named by LENTICOR_TEST_NVAPI_STATE
// and written back there on every successful NvAPI_DRS_SaveSettings. Without
// a readable state file the library offers no functions, like a driver
// library whose GPU has gone.

#include "platform/sim/nvapi_entry.h"
#include "platform/sim/nvidia_driver_store.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace {

using lenticor::sim::NvidiaDriverStore;

std::optional<std::filesystem::path> StatePath() {
    const wchar_t* named = ::_wgetenv(L"LENTICOR_TEST_NVAPI_STATE");
    if (named == nullptr || *named == L'\0') {
        return std::nullopt;
    }
    return std::filesystem::path(named);
}

// Loaded on the first query rather than in DllMain, which must not read files
// under the loader lock.
class Host {
  public:
    Host() {
        const auto path = StatePath();
        if (!path) {
            return;
        }
        try {
            std::ifstream in(*path, std::ios::binary);
            store_ = std::make_unique<NvidiaDriverStore>(nlohmann::json::parse(in));
        } catch (const std::exception&) {
            return;
        }
        store_->onSave = [target = *path](const NvidiaDriverStore& store) {
            std::ofstream out(target, std::ios::binary | std::ios::trunc);
            out << store.Document().dump(2) << '\n';
        };
        lenticor::sim::SetNvapiEntryStore(store_.get());
    }
    ~Host() { lenticor::sim::SetNvapiEntryStore(nullptr); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

  private:
    std::unique_ptr<NvidiaDriverStore> store_;
};

}  // namespace

extern "C" void* nvapi_QueryInterface(unsigned int id) {
    static Host host;
    return lenticor::sim::NvapiQueryInterface(id);
}
