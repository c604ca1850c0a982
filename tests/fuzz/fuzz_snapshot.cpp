// The snapshot decoder. Rejections are std::runtime_error or the JSON
// library's exceptions (what the journal loader turns into "corrupt"); a
// snapshot it accepts encodes to text that decodes to the same records and
// names, and that text is a fixed point of encode after decode.
#include "desktop/snapshot_codec.h"
#include "fuzz_support.h"

#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace fz = lenticor::fuzz;

namespace {

template <typename Record>
bool SameRecords(const std::vector<Record>& a, const std::vector<Record>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Record)) == 0);
}

bool SameSnapshot(const nimbo::DesktopSnapshot& a, const nimbo::DesktopSnapshot& b) {
    return SameRecords(a.paths, b.paths) && SameRecords(a.modes, b.modes) && a.names == b.names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto check =
        data[0] % 2 == 0 ? nimbo::SnapshotCheck::Restorable : nimbo::SnapshotCheck::RecordsOnly;
    nimbo::DesktopSnapshot snapshot;
    try {
        snapshot = nimbo::DecodeSnapshot(fz::AsText(data + 1, size - 1), check);
    } catch (const nlohmann::json::exception&) {
        return 0;
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::string encoded = nimbo::EncodeSnapshot(snapshot);
    const nimbo::DesktopSnapshot again = nimbo::DecodeSnapshot(encoded, check);
    FUZZ_CHECK(SameSnapshot(again, snapshot));
    FUZZ_CHECK(nimbo::EncodeSnapshot(again) == encoded);
    return 0;
}
