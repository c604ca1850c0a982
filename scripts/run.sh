#!/usr/bin/env bash
# Sets up a fresh machine, builds the real lenticor.exe and runs it under Wine
# on a private Xvfb screen: the main job. Arguments are passed to lenticor.exe
# (default: --list-displays).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset mingw >&2
cmake --build --preset mingw --target lenticor >&2

state="$PWD/build/mingw/run-state"
prefix="$PWD/build/mingw/wineprefix"
fixture="$PWD/tests/e2e/tools/wine_fixture.sh"
bash "$fixture" start "$state" "$prefix" >/dev/null
trap 'bash "$fixture" stop "$state" "$prefix"' EXIT

display=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["env"]["DISPLAY"])' \
    "$state/wine-env.json")
set +e
WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY="$display" \
    wine build/mingw/lenticor.exe "${@:---list-displays}"
code=$?
set -e
exit "$code"
