// The recovery journal decoder. Rejections are std::runtime_error or the JSON
// library's exceptions (the journal store turns both into "corrupt"); a
// journal it accepts serialises to text that is a fixed point of parse and
// serialise.
#include "desktop/desktop_journal.h"
#include "fuzz_support.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

FUZZ_TARGET {
    const auto journal = fz::Accepted<nlohmann::json::exception, std::runtime_error>(
        [&] { return nimbo::ParseJournal(fz::AsText(data, size)); });
    if (!journal)
        return;
    const std::string text = nimbo::SerializeJournal(*journal);
    const auto again = nimbo::ParseJournal(text);
    FUZZ_CHECK(again.displayId == journal->displayId && again.targetKey == journal->targetKey);
    FUZZ_CHECK(nimbo::SerializeJournal(again) == text);
}
