#include "app/usage.h"

namespace lenticor {

void PrintUsage(std::ostream& out) {
    out << "lenticor utility commands\n"
        << "\n"
        << "Usage:\n"
        << "  lenticor.exe --nimbo-desktop <status|detach|restore|reconcile> --state-file "
           "<absolute path> [--display-id <exact id>]\n"
        << "  lenticor.exe --nimbo-desktop forget --state-file <absolute path> --recovery-token "
           "<status token>\n"
        << "  lenticor.exe --nimbo-desktop darken --state-file <absolute path> --display-id "
           "<exact id>\n"
        << "  lenticor.exe --list-displays\n"
        << "  lenticor.exe --check-nimbo\n"
        << "  lenticor.exe --ensure-nimbo-ready [nimbo|nimbo:<id>] [--initial-dpi <percent>]\n"
        << "  lenticor.exe --nimbo-display-power <status|reconcile|on|off> [--display-id <id>]\n"
        << "      [--nimbo-power-state-only (status/reconcile only)]\n"
        << "  lenticor.exe --nimbo-display-brightness <status|set> [--level <0-100>] "
           "[--display-id <id>]\n"
        << "      [--nimbo-brightness-capability-v1 <token>] [--nimbo-brightness-range-v1 "
           "<maximum>] [--nimbo-brightness-ack-only]\n"
        << "  lenticor.exe --gl-present-method <status|apply|undo|detect> [--exe <file name>] "
           "[--user-consent]\n";
}

}  // namespace lenticor
