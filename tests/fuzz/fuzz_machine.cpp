// The machine file parser, on the bytes lenticor-sim reads from the file:
// whatever they are, the only failure is MachineError (exit 3 with one line),
// never another exception escaping to the top of the run. The file itself is
// left out so the run spends its time in the parser.
#include "fuzz_support.h"
#include "platform/sim/machine_file.h"

FUZZ_TARGET {
    try {
        const auto document = lenticor::sim::ParseMachineText(fz::AsText(data, size));
        (void)lenticor::sim::ParseMachine(document);
        // What a run saves is the document it loaded, changed; written out
        // unchanged, it must read back as the same document and describe a
        // machine again.
        const auto again = lenticor::sim::ParseMachineText(document.dump(2));
        FUZZ_CHECK(again == document);
        (void)lenticor::sim::ParseMachine(again);
    } catch (const lenticor::sim::MachineError&) {
    }
}
