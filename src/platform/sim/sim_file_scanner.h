#pragma once
// A scanner beside the program: an antivirus, indexer or backup agent that
// opens every file the program closes after writing to it and keeps it open
// for a while. Read from the machine file's "fileSystem/scanner"; the files
// it still holds when a run ends are written back, as if the next run came
// at once. See docs/simulated-files.md.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lenticor::sim {

class Reader;
struct SimMachine;

struct SimFileScanner {
    std::int64_t holdNanoseconds = 0;
    std::uint32_t shareMode = 0;  // FILE_SHARE_* bits of the scanner's open
    struct Hold {
        std::wstring path;                      // "C:\..."
        std::int64_t until = 0;                 // on the simulated steady clock
        std::int64_t remainingNanoseconds = 0;  // as read, until the files take it on
        int descriptor = -1;                    // the scanner's open, owned by the simulated files
    };
    std::vector<Hold> holds;
    // The simulated steady clock, set by whoever attaches the scanner.
    std::function<std::int64_t()> now;
    bool changed = false;  // a hold began or ended this run
};

// The "fileSystem/scanner" member, when there is one. Throws MachineError.
void ReadSimFileScanner(const Reader& root, SimMachine& machine);

[[nodiscard]] bool SimFileScannerChanged(const SimMachine& machine);

// "fileSystem/scanner/holding": what is still held and for how long.
void StoreSimFileScanner(const SimMachine& machine, nlohmann::json& document);

}  // namespace lenticor::sim
