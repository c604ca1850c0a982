// The recovery journal decoder. Rejections are std::runtime_error or the JSON
// library's exceptions (the journal store turns both into "corrupt"); a
// journal it accepts serialises to text that parses back to the same journal.
#include "desktop/desktop_journal.h"
#include "fuzz_support.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

namespace fz = lenticor::fuzz;

namespace {

bool SameJournal(const nimbo::DesktopJournal& a, const nimbo::DesktopJournal& b) {
    return a.displayId == b.displayId && a.targetKey == b.targetKey &&
           a.before.snapshot == b.before.snapshot && a.after.snapshot == b.after.snapshot &&
           a.observedAfter.has_value() == b.observedAfter.has_value() &&
           (!a.observedAfter || a.observedAfter->snapshot == b.observedAfter->snapshot);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    nimbo::DesktopJournal journal;
    try {
        journal = nimbo::ParseJournal(fz::AsText(data, size));
    } catch (const nlohmann::json::exception&) {
        return 0;
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::string text = nimbo::SerializeJournal(journal);
    const nimbo::DesktopJournal again = nimbo::ParseJournal(text);
    FUZZ_CHECK(SameJournal(again, journal));
    FUZZ_CHECK(nimbo::SerializeJournal(again) == text);
    return 0;
}
