#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan/UBSan) and runs each for
# the given number of seconds (default 60) from its seeds, one at a time. The
# build writes the seeds (tests/fuzz/make_seeds.py) to build/fuzz/seeds/<target>/.
# Fails when any target reports a crash, a failed check or a leak; the input
# is kept under build/fuzz/artifacts/<target>/. New inputs a run finds stay in
# build/fuzz/corpus/<target>/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
# Extra libFuzzer options (e.g. -runs=N) apply to every target.
extra=("$@")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# The targets whose input is a JSON document get the JSON dictionary.
json_targets=" desktop_journal machine nvidia_store snapshot "

failed=()
for seeds in build/fuzz/seeds/*/; do
    target="$(basename "$seeds")"
    fuzzer="build/fuzz/fuzzers/fuzz_$target"
    corpus="build/fuzz/corpus/$target"
    artifacts="build/fuzz/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$artifacts/")
    if [[ "$json_targets" == *" $target "* ]]; then
        options+=(-dict=tests/fuzz/json.dict)
    fi
    log="build/fuzz/$target.log"
    echo "== $target (${seconds}s)"
    if "$fuzzer" "${options[@]}" "${extra[@]}" "$corpus" "$seeds" >"$log" 2>&1; then
        grep -E "^stat::number_of_executed_units|^Done [0-9]+ runs" "$log" || true
    else
        tail -n 40 "$log"
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: findings in ${failed[*]} (inputs under build/fuzz/artifacts/)" >&2
    exit 1
fi
echo "fuzz: no findings"
