#!/usr/bin/env bash
# Sets up a fresh machine and runs every test: the native build (formatting,
# unit tests under AddressSanitizer/UndefinedBehaviorSanitizer, lenticor-sim
# end to end), the MinGW build (binary checks, lenticor.exe end to end under
# Wine), the same Windows build with clang (its warnings, binary checks and
# the front-end cases under Wine), then a short run of every fuzz target from
# its seeds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
for preset in native mingw mingw-clang; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
bash scripts/fuzz.sh 5
