#!/usr/bin/env python3
"""What the power command costs on the simulated DDC/CI bus.

Runs lenticor-sim on a fresh copy of the default machine and prints, for each
scenario, the DDC/CI transactions of the run and the simulated time they took
(each transaction charged the VESA DDC/CI minimum; see docs/simulated-ddc.md).

    python3 scripts/ddc_benchmark.py [path/to/lenticor-sim] [--check DOC]

With --check, exits 1 unless every row it prints stands in DOC, so the table
in the documentation stays what the simulation measures.
"""

import json
import os
import subprocess
import sys
import tempfile

NIMBO = "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"
DDC = ("adapters", 0, "outputs", 1, "monitor", "ddc")


def run(sim, machine, args):
    env = dict(os.environ, LENTICOR_SIM_MACHINE=machine)
    done = subprocess.run([sim] + args, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, check=False)
    with open(machine, encoding="utf-8") as handle:
        log = json.load(handle).get("ddcLog", [])
    return done.stdout, log


def set_ddc(machine, **members):
    with open(machine, encoding="utf-8") as handle:
        document = json.load(handle)
    ddc = document
    for key in DDC:
        ddc = ddc[key]
    ddc.update(members)
    with open(machine, "w", encoding="utf-8") as handle:
        json.dump(document, handle)


ROWS = []


def summary(name, log):
    def count(operation):
        return sum(1 for entry in log if entry["operation"] == operation)
    end = max((entry["atMs"] + entry["costMs"] for entry in log), default=0)
    bus = sum(entry["costMs"] for entry in log)
    capabilities = count("GetCapabilitiesStringLength")
    row = (f"| {name} | {len(log)} | {capabilities} | {count('SetVCPFeature')} | "
           f"{count('GetVCPFeatureAndVCPFeatureReply')} | {bus} | {end} |")
    ROWS.append(row)
    print(row)


def main():
    args = sys.argv[1:]
    doc = None
    if "--check" in args:
        doc = args[args.index("--check") + 1]
        del args[args.index("--check"):args.index("--check") + 2]
    sim = args[0] if args else "build/native/lenticor-sim"
    with tempfile.TemporaryDirectory() as folder:
        machine = os.path.join(folder, "machine.json")
        print("| run | transactions | capabilities reads | D6 writes | D6 reads | bus ms | "
              "run ms |")
        print("|---|---|---|---|---|---|---|")
        out, log = run(sim, machine, ["--nimbo-display-power", "status"])
        summary("status", log)
        token = json.loads(out[out.index("{"):])["capabilityCache"]["token"]
        _, log = run(sim, machine, ["--nimbo-display-power", "off", "--display-id", NIMBO,
                                    "--nimbo-power-capability-v1", token])
        summary("off with the token of that status", log)
        _, log = run(sim, machine, ["--nimbo-display-power", "on", "--display-id", NIMBO])
        summary("on with --display-id (no validation)", log)
        _, log = run(sim, machine, ["--nimbo-display-power", "off"])
        summary("off without a token", log)
        set_ddc(machine, wakeMs=2500)
        _, log = run(sim, machine, ["--nimbo-display-power", "on"])
        summary("on, monitor wakes 2.5 s after the write", log)
        run(sim, machine, ["--nimbo-display-power", "off"])
        set_ddc(machine, ignoresFirstWrite=True, reenumeratesOnWake=True)
        _, log = run(sim, machine, ["--nimbo-display-power", "on"])
        summary("on, first write ignored, re-enumerates on wake", log)
    if doc is not None:
        with open(doc, encoding="utf-8") as handle:
            text = handle.read()
        missing = [row for row in ROWS if row not in text]
        for row in missing:
            print(f"not in {doc}: {row}", file=sys.stderr)
        return 1 if missing else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
