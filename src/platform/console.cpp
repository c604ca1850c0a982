#include "platform/console.h"

#include <iostream>

namespace lenticor {

std::ostream& StandardConsole::Out() {
    return std::cout;
}
std::ostream& StandardConsole::Err() {
    return std::cerr;
}

}  // namespace lenticor
