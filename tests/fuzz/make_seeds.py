#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets under FOLDER/<target>/.

Usage: make_seeds.py FOLDER [LENTICOR_SIM]

Seeds come from what the other tests already use: the arguments of the
end-to-end cases, the machine files, the driver stores of the Wine cases,
capabilities strings, and a journal made by lenticor-sim (given as the second
argument; without it there are no journal and snapshot seeds). The fuzz build
runs this; the seeds are not kept in the repository.
"""
import glob
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SEEDS = ""  # the folder given on the command line
MAX_ARGV_SEEDS = 40

COMMANDS = {
    "--nimbo-desktop": ["desktop_request"],
    "--nimbo-display-power": ["power_request"],
    "--nimbo-display-brightness": ["brightness_request"],
    "--gl-present-method": ["present_method_request"],
    "--ensure-nimbo-ready": ["ensure_target", "ensure_initial_dpi"],
}


def reset(target):
    folder = os.path.join(SEEDS, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def write(target, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(SEEDS, target, name), "wb") as handle:
        handle.write(data)


def cases():
    for path in sorted(glob.glob(os.path.join(ROOT, "tests", "**", "cases", "**", "*.json"),
                                 recursive=True)):
        with open(path, encoding="utf-8") as handle:
            yield json.load(handle)


def case_steps():
    for case in cases():
        for step in case.get("steps", []):
            yield from step.get("concurrent", [step])


def argv_seeds():
    found = {target: set() for targets in COMMANDS.values() for target in targets}
    for step in case_steps():
        args = step.get("args") or []
        if args and args[0] in COMMANDS:
            joined = "\0".join(args[1:]).replace("${WORK}", "/tmp/w").replace(
                "${WORK_WIN}", "Z:\\tmp\\w")
            for target in COMMANDS[args[0]]:
                found[target].add(joined)
    for target, seeds in found.items():
        reset(target)
        for seed in sorted(seeds)[:MAX_ARGV_SEEDS]:
            write(target, seed)


def machine_seeds():
    for target in ["machine", "nvidia_store", "capabilities"]:
        reset(target)
    for path in sorted(glob.glob(os.path.join(ROOT, "tests", "sim", "machines", "*.json"))):
        with open(path, "rb") as handle:
            text = handle.read()
        write("machine", text)
        document = json.loads(text)
        if "nvidia" in document:
            write("nvidia_store", json.dumps(document["nvidia"], indent=2))
        for adapter in document.get("adapters", []):
            for output in adapter.get("outputs", []):
                capabilities = ((output.get("monitor") or {}).get("ddc") or {}).get("capabilities")
                if capabilities:
                    write("capabilities", "D6" + capabilities)
    # The numbers no double holds, which once stopped every run.
    write("machine", '{"adapters": 1e500}')
    write("machine", "[-1e999]")
    for case in cases():
        if "nvapi" in case:
            write("nvidia_store", json.dumps(case["nvapi"], indent=2))
    for capabilities in ["vcp(10 D6(01 04))", "VCP(D6( 01   04 ))", "(vcp(10 12 d6(01 02 04 05)))",
                         "vcp(D6 10)", "vcp(10(00 01)D6(01", "prot(monitor)vcp(14(05 08 0b) 60)"]:
        write("capabilities", "D6" + capabilities)
    # Lists opened inside lists, with bytes no capabilities string holds.
    write("capabilities", b"D6vcp(10 D6(vcp(01 02 0\xff\xff0D6VCP5(D6( D6(01 0001   04 )))@))))")


FIXED = {
    "undo_record": ["own", "default", "user:0", "user:1", "user:0042", "user:4294967295",
                    "user:4294967296", "user:", "user:-1", "own\n"],
    "text": [b"Korvo Nimbo", "Жёлтый", "\U0001F600", b"\xc0\xaf",
             b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82", "ﬁx",
             b"\x00\xd8\x00\x00\x00\xdc\x00\x00"],
    # The count of pipe pieces, their sizes, then what the pipe holds.
    "cancel_watcher": [b"\x01\x01cancel\n", b"\x02\x01\x01status\ncancel\n", b"\x02\x01\x00cancel",
                       b"\x01\x02cancelled\ncancel\r\n", b"\x03\x01\x01\x01" + b"x" * 20 + b"\ncancel\n"],
}


def fixed_seeds():
    for target, seeds in FIXED.items():
        reset(target)
        for seed in seeds:
            write(target, seed)

    reset("monitor_names")
    for offset, name in [(54, b"Korvo Nimbo\n "), (108, b"Laptop Panel\n"), (72, b"\0" * 13)]:
        edid = bytearray(128)
        edid[0:8] = b"\x00\xff\xff\xff\xff\xff\xff\x00"
        edid[offset:offset + 5] = b"\x00\x00\x00\xfc\x00"
        edid[offset + 5:offset + 18] = name
        write("monitor_names", b"\x00" + bytes(edid))
    for device in ["MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001",
                   "monitor\\kzv2b09\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000", "MONITOR\\"]:
        write("monitor_names", b"\x01" + device.encode())
        write("monitor_names", b"\x02" + device.encode())
    write("monitor_names", b"\x03\\\\?\\display#kzv1a07#5&1a2b3c4d&0&uid4352#"
                           b"{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}")


def journal_seeds(simulator):
    """A detach on the Nimbo laptop leaves a journal; its members are snapshots."""
    with tempfile.TemporaryDirectory() as work:
        machine = os.path.join(work, "machine.json")
        shutil.copyfile(os.path.join(ROOT, "tests", "sim", "machines", "nimbo_laptop.json"),
                        machine)
        env = dict(os.environ, LENTICOR_SIM_MACHINE=machine)
        state = "C:\\journal\\desktop.json"
        subprocess.run([simulator, "--nimbo-desktop", "detach", "--state-file", state], env=env,
                       check=True, capture_output=True)
        journal_path = os.path.join(work, "drives", "c", "journal", "desktop.json")
        with open(journal_path, "rb") as handle:
            journal = handle.read()
    reset("desktop_journal")
    reset("snapshot")
    write("desktop_journal", journal)
    for case in cases():
        for path, content in case.get("files", {}).items():
            if "journal" in path:
                write("desktop_journal", content)
    document = json.loads(journal)
    for member in ["before", "after", "observedAfter"]:
        if member in document:
            for check in [b"\x00", b"\x01"]:
                write("snapshot", check + document[member].encode())
    write("snapshot", b"\x00" + json.dumps({"modes": [], "paths": []}).encode())


def main():
    global SEEDS
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    SEEDS = os.path.abspath(sys.argv[1])
    argv_seeds()
    machine_seeds()
    fixed_seeds()
    if len(sys.argv) > 2:
        journal_seeds(sys.argv[2])


if __name__ == "__main__":
    main()
