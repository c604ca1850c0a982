// The power command's cancel watcher over a pipe that hands over the input in
// pieces of fuzzed sizes. It must cancel exactly when a whole line "cancel"
// has arrived, stay cancelled, and never read more than the pipe reported.
#include "ddc/power_command.h"
#include "fuzz_support.h"
#include "platform/standard_input.h"

#include <algorithm>
#include <cstring>

namespace fz = lenticor::fuzz;

namespace {

// Peeks report at most the next piece's size; a zero piece size ends the
// pipe with a failed peek, as a closed pipe does.
class PiecewisePipe : public lenticor::StandardInput {
  public:
    PiecewisePipe(std::string_view sizes, std::string_view bytes) : sizes_(sizes), bytes_(bytes) {}

    bool IsPipe() override { return true; }

    bool PeekAvailable(std::uint32_t& available) override {
        FUZZ_CHECK(!failed_);
        if (sizes_.empty() || sizes_.front() == 0) {
            failed_ = true;
            return false;
        }
        const auto piece = static_cast<std::size_t>(static_cast<unsigned char>(sizes_.front())) * 8;
        sizes_.remove_prefix(1);
        reported_ = std::min(piece, bytes_.size());
        available = static_cast<std::uint32_t>(reported_);
        return true;
    }

    bool Read(std::span<char> buffer, std::uint32_t& read) override {
        FUZZ_CHECK(buffer.size() <= reported_);
        std::memcpy(buffer.data(), bytes_.data(), buffer.size());
        bytes_.remove_prefix(buffer.size());
        delivered_ += buffer.size();
        reported_ = 0;
        read = static_cast<std::uint32_t>(buffer.size());
        return true;
    }

    [[nodiscard]] std::size_t delivered() const { return delivered_; }

  private:
    std::string_view sizes_;
    std::string_view bytes_;
    std::size_t reported_ = 0;
    std::size_t delivered_ = 0;
    bool failed_ = false;
};

bool HasCancelLine(std::string_view text) {
    for (std::size_t at = text.find("cancel\n"); at != std::string_view::npos;
         at = text.find("cancel\n", at + 1)) {
        if (at == 0 || text[at - 1] == '\n')
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t pieces = std::min<std::size_t>(data[0], size - 1);
    const std::string_view sizes = fz::AsText(data + 1, pieces);
    const std::string_view bytes = fz::AsText(data + 1 + pieces, size - 1 - pieces);
    PiecewisePipe pipe(sizes, bytes);
    nimbo::StdinCancelWatcher watcher(&pipe);
    bool cancelled = false;
    for (std::size_t poll = 0; poll <= pieces + 1; ++poll) {
        const bool now = watcher.Poll();
        FUZZ_CHECK(!cancelled || now);
        cancelled = now;
        FUZZ_CHECK(cancelled == HasCancelLine(bytes.substr(0, pipe.delivered())));
    }
    return 0;
}
