// The snapshot decoder. Rejections are std::runtime_error or the JSON
// library's exceptions (what the journal loader turns into "corrupt"); a
// snapshot it accepts encodes to text that decodes to the same records and
// names, and that text is a fixed point of encode after decode.
#include "desktop/snapshot_codec.h"
#include "fuzz_support.h"

#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

template <typename Record>
static bool SameRecords(const std::vector<Record>& a, const std::vector<Record>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Record)) == 0);
}

FUZZ_TARGET {
    if (size == 0)
        return;
    const auto check =
        data[0] % 2 == 0 ? nimbo::SnapshotCheck::Restorable : nimbo::SnapshotCheck::RecordsOnly;
    const auto snapshot = fz::Accepted<nlohmann::json::exception, std::runtime_error>(
        [&] { return nimbo::DecodeSnapshot(fz::AsText(data + 1, size - 1), check); });
    if (!snapshot)
        return;
    const std::string encoded = nimbo::EncodeSnapshot(*snapshot);
    const nimbo::DesktopSnapshot again = nimbo::DecodeSnapshot(encoded, check);
    FUZZ_CHECK(SameRecords(again.paths, snapshot->paths) &&
               SameRecords(again.modes, snapshot->modes) && again.names == snapshot->names);
    FUZZ_CHECK(nimbo::EncodeSnapshot(again) == encoded);
}
