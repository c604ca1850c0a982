#!/usr/bin/env bash
# Builds what the figures need (lenticor-sim for Linux in Release without
# sanitizers, the stripped Windows Release executables) and prints the
# figures that docs/performance.md records: sizes, instruction counts,
# DDC/CI costs and the Wine start-up ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
if ! command -v valgrind >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        valgrind >/dev/null
fi
for preset in sim-release windows-release; do
    cmake --preset "$preset" >&2
    cmake --build --preset "$preset" >&2
done

state="$PWD/build/windows-release/bench-state"
prefix="$PWD/build/windows-release/wineprefix"
fixture="$PWD/tests/e2e/tools/wine_fixture.sh"
bash "$fixture" start "$state" "$prefix" >&2
trap 'bash "$fixture" stop "$state" "$prefix"' EXIT

python3 scripts/bench.py --sim build/sim-release/lenticor-sim \
    --exe build/windows-release/lenticor.exe --sim-exe build/windows-release/lenticor-sim.exe \
    --wine-env "$state/wine-env.json"
