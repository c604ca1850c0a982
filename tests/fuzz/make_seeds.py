#!/usr/bin/env python3
"""Usage: make_seeds.py FOLDER [LENTICOR_SIM] -- writes the fuzz targets' seeds under FOLDER/<target>/
from the end-to-end cases' arguments, the machine files, the Wine cases' driver stores, capabilities
strings and (with LENTICOR_SIM) a journal lenticor-sim writes. Seeds are not kept in the repository."""
import glob, hashlib, json, os, shutil, subprocess, sys, tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
COMMANDS = {"--nimbo-desktop": "desktop_request", "--nimbo-display-power": "display_request",
            "--nimbo-display-brightness": "display_request",
            "--gl-present-method": "present_method_request", "--ensure-nimbo-ready": "ensure_request"}
EDID = b"\x00\xff\xff\xff\xff\xff\xff\x00" + bytes(120)
DEVICE_IDS = ["MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001",
              "monitor\\kzv2b09\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0000", "MONITOR\\"]
FIXED = {
    "undo_record": ["own", "default", "user:0", "user:1", "user:0042", "user:4294967295",
                    "user:4294967296", "user:", "user:-1", "own\n"],
    "text": ["Korvo Nimbo", "Жёлтый", "\U0001F600", b"\xc0\xaf", b"\xed\xa0\x80",
             b"\xf4\x90\x80\x80", b"\xe2\x82", "ﬁx", b"\x00\xd8\x00\x00\x00\xdc\x00\x00"],
    # The count of pipe pieces, their sizes, then what the pipe holds.
    "cancel_watcher": [b"\x01\x01cancel\n", b"\x02\x01\x01status\ncancel\n", b"\x02\x01\x00cancel",
                       b"\x01\x02cancelled\ncancel\r\n", b"\x03\x01\x01\x01" + b"x" * 20 + b"\ncancel\n"],
    # A selector byte, then an EDID, a device id, a hardware id or an interface path.
    "monitor_names": [b"\x00" + EDID[:o] + b"\0\0\0\xfc\0" + n + EDID[o + 18:]
                      for o, n in [(54, b"Korvo Nimbo\n "), (108, b"Laptop Panel\n"), (72, bytes(13))]]
    + [s + d.encode() for d in DEVICE_IDS for s in [b"\x01", b"\x02"]]
    + [b"\x03\\\\?\\display#kzv1a07#5&1a2b3c4d&0&uid4352#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}"],
    # The numbers no double holds, which once stopped every run.
    "machine": ['{"adapters": 1e500}', "[-1e999]"],
    # The code looked for, then the string; the last has lists opened inside lists and
    # bytes no capabilities string holds.
    "capabilities": ["D6" + c for c in ["vcp(10 D6(01 04))", "VCP(D6( 01   04 ))", "vcp(D6 10)",
                                         "(vcp(10 12 d6(01 02 04 05)))", "vcp(10(00 01)D6(01",
                                         "prot(monitor)vcp(14(05 08 0b) 60)"]]
    + [b"D6vcp(10 D6(vcp(01 02 0\xff\xff0D6VCP5(D6( D6(01 0001   04 )))@))))"],
    "snapshot": [b"\x00" + json.dumps({"modes": [], "paths": []}).encode()],
}


def write(target, data):
    data = data.encode("utf-8") if isinstance(data, str) else data
    with open(os.path.join(SEEDS, target, hashlib.sha1(data).hexdigest()[:16]), "wb") as handle:
        handle.write(data)


def load(path):
    with open(path, "rb") as handle:
        return handle.read()


def main():
    global SEEDS
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    SEEDS = os.path.abspath(sys.argv[1])
    targets = set(COMMANDS.values()) | set(FIXED) | {"nvidia_store", "desktop_journal"}
    for target in targets:
        shutil.rmtree(os.path.join(SEEDS, target), ignore_errors=True)
        os.makedirs(os.path.join(SEEDS, target))
    for target, seeds in FIXED.items():
        for seed in seeds:
            write(target, seed)
    cases = [json.loads(load(path)) for path in sorted(
        glob.glob(os.path.join(ROOT, "tests", "**", "cases", "**", "*.json"), recursive=True))]
    argv = {target: set() for target in COMMANDS.values()}
    for step in (s for case in cases for step in case.get("steps", []) for s in step.get("concurrent", [step])):
        args = step.get("args") or []
        if args and args[0] in COMMANDS:
            argv[COMMANDS[args[0]]].add("\0".join(args[1:]).replace("${WORK}", "/tmp/w").replace(
                "${WORK_WIN}", "Z:\\tmp\\w"))
    for target, seeds in argv.items():
        for seed in sorted(seeds)[:40]:
            write(target, seed)
    for path in sorted(glob.glob(os.path.join(ROOT, "tests", "sim", "machines", "*.json"))):
        write("machine", load(path))
        document = json.loads(load(path))
        if "nvidia" in document:
            write("nvidia_store", json.dumps(document["nvidia"], indent=2))
        for output in (o for adapter in document.get("adapters", []) for o in adapter.get("outputs", [])):
            capabilities = ((output.get("monitor") or {}).get("ddc") or {}).get("capabilities")
            if capabilities:
                write("capabilities", "D6" + capabilities)
    for case in cases:
        if "nvapi" in case:
            write("nvidia_store", json.dumps(case["nvapi"], indent=2))
        for path, content in case.get("files", {}).items():
            if "journal" in path:
                write("desktop_journal", content)
    if len(sys.argv) == 3:  # a detach on the Nimbo laptop leaves a journal; its members are snapshots
        with tempfile.TemporaryDirectory() as work:
            machine = os.path.join(work, "machine.json")
            shutil.copyfile(os.path.join(ROOT, "tests", "sim", "machines", "nimbo_laptop.json"), machine)
            subprocess.run([sys.argv[2], "--nimbo-desktop", "detach", "--state-file",
                            "C:\\journal\\desktop.json"], env=dict(os.environ, LENTICOR_SIM_MACHINE=machine),
                           check=True, capture_output=True)
            journal = load(os.path.join(work, "drives", "c", "journal", "desktop.json"))
        write("desktop_journal", journal)
        document = json.loads(journal)
        for member in ["before", "after", "observedAfter"]:
            for check in [b"\x00", b"\x01"] if member in document else []:
                write("snapshot", check + document[member].encode())


if __name__ == "__main__":
    main()
