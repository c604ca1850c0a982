#!/usr/bin/env python3
"""The figures of docs/performance.md, measured on this machine (see
scripts/bench.sh, which builds what this needs)."""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MACHINE = os.path.join(ROOT, "examples", "machines", "ready-nimbo.json")
NIMBO = "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"
STATE = "C:\\bench\\desktop.json"
WINE_PAIRS = 15


def run(command, machine=None, env=None):
    full = dict(os.environ, **(env or {}))
    full.pop("LENTICOR_SIM_MACHINE", None)
    if machine:
        full["LENTICOR_SIM_MACHINE"] = machine
    return subprocess.run(command, env=full, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, check=False)


def instructions(sim, args, machine, folder):
    out = os.path.join(folder, "callgrind.out")
    done = run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sim] + args,
               machine)
    match = re.search(r"Collected : (\d+)", done.stderr)
    if match is None:
        raise RuntimeError(f"callgrind said: {done.stderr[-500:]}")
    return int(match.group(1))


def ddc_log(machine):
    with open(machine, encoding="utf-8") as handle:
        return json.load(handle).get("ddcLog", [])


def set_ddc(machine, **members):
    with open(machine, encoding="utf-8") as handle:
        document = json.load(handle)
    document["adapters"][0]["outputs"][1]["monitor"]["ddc"].update(members)
    with open(machine, "w", encoding="utf-8") as handle:
        json.dump(document, handle)


def fresh(folder, name):
    path = os.path.join(folder, name, "machine.json")
    os.makedirs(os.path.dirname(path))
    shutil.copyfile(MACHINE, path)
    return path


def sizes(options, folder):
    stripped = os.path.join(folder, "lenticor-sim.stripped")
    subprocess.run(["strip", "-o", stripped, options.sim], check=True)
    print("| Executable | Bytes |")
    print("|---|---|")
    print(f"| lenticor.exe (Windows, stripped) | {os.path.getsize(options.exe)} |")
    print(f"| lenticor-sim.exe (Windows, stripped) | {os.path.getsize(options.sim_exe)} |")
    print(f"| lenticor-sim (Linux Release, stripped) | {os.path.getsize(stripped)} |")


def instruction_counts(options, folder):
    print("| lenticor-sim run | Instructions (millions) |")
    print("|---|---|")
    machine = fresh(folder, "callgrind")
    runs = [
        ("--help (embedded machine)", ["--help"], None),
        ("--list-displays", ["--list-displays"], machine),
        ("desktop status, no journal", ["--nimbo-desktop", "status", "--state-file", STATE],
         machine),
        ("desktop detach", ["--nimbo-desktop", "detach", "--state-file", STATE], machine),
        ("desktop status with a journal", ["--nimbo-desktop", "status", "--state-file", STATE],
         machine),
        ("desktop restore", ["--nimbo-desktop", "restore", "--state-file", STATE], machine),
    ]
    for name, args, where in runs:
        count = instructions(options.sim, args, where, folder)
        print(f"| {name} | {count / 1e6:.2f} |")


def ddc_costs(options, folder):
    print("| DDC/CI run | Transactions | Bus time (ms) |")
    print("|---|---|---|")

    def row(name, machine):
        log = ddc_log(machine)
        print(f"| {name} | {len(log)} | {sum(entry['costMs'] for entry in log)} |")

    power = fresh(folder, "power")
    done = run([options.sim, "--nimbo-display-power", "status"], power)
    row("power status", power)
    token = json.loads(done.stdout[done.stdout.index("{"):])["capabilityCache"]["token"]
    run([options.sim, "--nimbo-display-power", "off", "--display-id", NIMBO,
         "--nimbo-power-capability-v1", token], power)
    row("power off with that status's token", power)
    run([options.sim, "--nimbo-display-power", "on", "--display-id", NIMBO], power)
    run([options.sim, "--nimbo-display-power", "off"], power)
    row("power off without a token", power)
    set_ddc(power, wakeMs=2500)
    run([options.sim, "--nimbo-display-power", "on"], power)
    row("power on, the monitor waking 2.5 s after the write", power)

    brightness = fresh(folder, "brightness")
    done = run([options.sim, "--nimbo-display-brightness", "status"], brightness)
    row("brightness status", brightness)
    token = json.loads(done.stdout[done.stdout.index("{"):])["capabilityCache"]["token"]
    run([options.sim, "--nimbo-display-brightness", "set", "--level", "40", "--display-id",
         NIMBO, "--nimbo-brightness-capability-v1", token, "--nimbo-brightness-range-v1",
         "100"], brightness)
    row("brightness set with that status's token and range", brightness)


def wine_ratio(options):
    with open(options.wine_env, encoding="utf-8") as handle:
        wine = json.load(handle)
    env = dict(os.environ, **wine["env"])

    def timed(args):
        start = time.perf_counter()
        subprocess.run([wine["wine"], options.exe] + args, env=env, stdin=subprocess.DEVNULL,
                       capture_output=True, check=False)
        return time.perf_counter() - start

    timed(["--help"])  # the first start of a prefix loads more than any later one
    ratios, helps, lists = [], [], []
    for _ in range(WINE_PAIRS):
        helped = timed(["--help"])
        listed = timed(["--list-displays"])
        helps.append(helped)
        lists.append(listed)
        ratios.append(listed / helped)
    print("| lenticor.exe under Wine | Median |")
    print("|---|---|")
    print(f"| --help | {statistics.median(helps) * 1000:.0f} ms |")
    print(f"| --list-displays | {statistics.median(lists) * 1000:.0f} ms |")
    print(f"| --list-displays / --help, paired ({WINE_PAIRS} pairs) | "
          f"{statistics.median(ratios):.2f} |")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim-exe", required=True)
    parser.add_argument("--wine-env", required=True)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        sizes(options, folder)
        print()
        instruction_counts(options, folder)
        print()
        ddc_costs(options, folder)
        print()
        wine_ratio(options)


if __name__ == "__main__":
    main()
