// The power command's cancel watcher over a pipe that hands over the input in
// pieces of fuzzed sizes. It must cancel exactly when a whole line "cancel"
// has arrived, stay cancelled, and never read more than the pipe reported.
#include "ddc/power_command.h"
#include "fuzz_support.h"
#include "platform/standard_input.h"

#include <algorithm>
#include <cstring>

namespace {

// Peeks report at most the next piece's size; a zero piece size ends the
// pipe with a failed peek, as a closed pipe does.
struct PiecewisePipe : lenticor::StandardInput {
    std::string_view sizes, bytes;
    std::size_t reported = 0, delivered = 0;
    bool failed = false;

    bool IsPipe() override { return true; }
    bool PeekAvailable(std::uint32_t& available) override {
        FUZZ_CHECK(!failed);
        if ((failed = sizes.empty() || sizes.front() == 0))
            return false;
        reported =
            std::min<std::size_t>(static_cast<unsigned char>(sizes.front()) * 8, bytes.size());
        sizes.remove_prefix(1);
        available = static_cast<std::uint32_t>(reported);
        return true;
    }
    bool Read(std::span<char> buffer, std::uint32_t& read) override {
        FUZZ_CHECK(buffer.size() <= reported);
        std::memcpy(buffer.data(), bytes.data(), buffer.size());
        bytes.remove_prefix(buffer.size());
        delivered += buffer.size();
        reported = 0;
        read = static_cast<std::uint32_t>(buffer.size());
        return true;
    }
};

}  // namespace

FUZZ_TARGET {
    if (size == 0)
        return;
    const std::size_t pieces = std::min<std::size_t>(data[0], size - 1);
    const std::string_view bytes = fz::AsText(data + 1 + pieces, size - 1 - pieces);
    PiecewisePipe pipe;
    pipe.sizes = fz::AsText(data + 1, pieces);
    pipe.bytes = bytes;
    nimbo::StdinCancelWatcher watcher(&pipe);
    bool cancelled = false;
    for (std::size_t poll = 0; poll <= pieces + 1; ++poll) {
        const bool now = watcher.Poll();
        FUZZ_CHECK(!cancelled || now);
        cancelled = now;
        const std::string seen = "\n" + std::string(bytes.substr(0, pipe.delivered));
        FUZZ_CHECK(cancelled == (seen.find("\ncancel\n") != std::string::npos));
    }
}
