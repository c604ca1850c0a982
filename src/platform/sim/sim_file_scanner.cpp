#include "platform/sim/sim_file_scanner.h"

#include "app/text.h"
#include "platform/files.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_reader.h"

namespace lenticor::sim {
namespace {

constexpr std::int64_t kMillisecond = 1'000'000;

std::uint32_t ShareBit(const Reader& reader) {
    const std::wstring name = reader.Text();
    if (name == L"read")
        return fileapi::kShareRead;
    if (name == L"write")
        return fileapi::kShareWrite;
    if (name == L"delete")
        return fileapi::kShareDelete;
    reader.Fail("expected \"read\", \"write\" or \"delete\"");
}

}  // namespace

void ReadSimFileScanner(const Reader& root, SimMachine& machine) {
    if (!root.Has("fileSystem") || !root.Member("fileSystem").Has("scanner"))
        return;
    const Reader reader = root.Member("fileSystem").Member("scanner");
    reader.ExpectObject({"holdMs", "share", "holding"});
    SimFileScanner scanner;
    scanner.holdNanoseconds = reader.Member("holdMs").Unsigned32() * kMillisecond;
    if (reader.Has("share")) {
        for (const auto& share : reader.Member("share").Array())
            scanner.shareMode |= ShareBit(share);
    }
    if (reader.Has("holding")) {
        for (const auto& hold : reader.Member("holding").Array()) {
            hold.ExpectObject({"path", "remainingMs"});
            scanner.holds.push_back({hold.Member("path").Text(), 0,
                                     hold.Member("remainingMs").Unsigned32() * kMillisecond, -1});
        }
    }
    machine.scanner = std::move(scanner);
}

bool SimFileScannerChanged(const SimMachine& machine) {
    return machine.scanner && machine.scanner->changed;
}

void StoreSimFileScanner(const SimMachine& machine, nlohmann::json& document) {
    const SimFileScanner& scanner = *machine.scanner;
    const std::int64_t now = scanner.now ? scanner.now() : 0;
    auto holding = nlohmann::json::array();
    for (const auto& hold : scanner.holds) {
        if (hold.until > now) {
            holding.push_back(
                {{"path", WideToUtf8(hold.path)},
                 {"remainingMs", (hold.until - now + kMillisecond - 1) / kMillisecond}});
        }
    }
    document["fileSystem"]["scanner"]["holding"] = std::move(holding);
}

}  // namespace lenticor::sim
