// The machine file loader, on a real file as lenticor-sim reads it: whatever
// the bytes, the only failure is MachineError (exit 3 with one line), never
// another exception escaping to the top of the run.
#include "fuzz_support.h"
#include "platform/sim/machine_file.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

std::filesystem::path MachinePath() {
    static const std::filesystem::path path = [] {
        auto folder = std::filesystem::temp_directory_path() /
                      ("lenticor-fuzz-machine-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        return folder / "machine.json";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = MachinePath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const auto source = lenticor::sim::LoadMachine(path);
        // What a run saves is the document it loaded, changed; unchanged, it
        // must describe a machine again.
        (void)lenticor::sim::ParseMachine(source.document);
    } catch (const lenticor::sim::MachineError&) {
    }
    return 0;
}
