#!/usr/bin/env bash
# Starts or stops what the Wine end-to-end tests share: an Xvfb screen on a free
# display number, a Wine prefix (created once per build tree and reused) and
# one persistent wineserver. The state folder receives wine-env.json for
# run_case.py and the Xvfb PID.
#
#   wine_fixture.sh start STATE_DIR PREFIX_DIR
#   wine_fixture.sh stop  STATE_DIR PREFIX_DIR
set -euo pipefail

action=$1
state=$2
prefix=$3
mkdir -p "$state"

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
# Skip the Mono and Gecko installers: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

stop() {
    if [ -f "$state/wine-env.json" ] || [ -d "$prefix" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" >/dev/null 2>&1 || true
        rm -f "$state/xvfb.pid"
    fi
    rm -f "$state/wine-env.json"
}

start() {
    stop
    # Xvfb picks a free display number itself and writes it once it listens.
    rm -f "$state/display"
    Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1920x1080x24 \
        3>"$state/display" >"$state/xvfb.log" 2>&1 &
    local pid=$!
    for _ in $(seq 1 100); do
        [ -s "$state/display" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$state/display" ]; then
        echo "Xvfb did not start:" >&2
        cat "$state/xvfb.log" >&2
        exit 1
    fi
    local display=":$(tr -d '\n' <"$state/display")"
    echo "$pid" >"$state/xvfb.pid"
    export DISPLAY="$display"
    if [ ! -f "$prefix/system.reg" ]; then
        # wineboot's exit code is not reliable on a first start; the registry
        # file is what tells a usable prefix.
        wineboot -i >"$state/wineboot.log" 2>&1 || true
        wineserver -w || true
        if [ ! -f "$prefix/system.reg" ]; then
            echo "could not create the Wine prefix $prefix:" >&2
            cat "$state/wineboot.log" >&2
            exit 1
        fi
    fi
    # One persistent server for the whole run; its streams must not hold
    # ctest's pipes open.
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot </dev/null >/dev/null 2>&1 || true
    cat >"$state/wine-env.json" <<JSON
{"wine": "$(command -v wine)",
 "env": {"WINEPREFIX": "$prefix", "WINEDEBUG": "-all",
         "WINEDLLOVERRIDES": "mscoree,mshtml=", "DISPLAY": "$display"}}
JSON
    echo "Xvfb $display (pid $pid), prefix $prefix"
}

case "$action" in
    start) start ;;
    stop) stop ;;
    *) echo "usage: $0 start|stop STATE_DIR PREFIX_DIR" >&2; exit 2 ;;
esac
