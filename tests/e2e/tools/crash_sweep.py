#!/usr/bin/env python3
"""Stops each state-changing command of lenticor-sim after every port call it
makes, once as a kill and once as a power loss, then does what a host does next
and checks what it finds.

  crash_sweep.py --exe lenticor-sim --machines tests/sim/machines --work DIR
                 [--only NAME ...]

For every action below: an undisturbed run with "countPortCalls" gives K; each
stop point N (1..K, or a fixed sample, see SAMPLED) runs the action on a fresh
copy of the prepared machine and its drives with "stopAfterCall" N, then the
action's recovery: the desktop actions run status, restore (reconcile when the
Nimbo is absent), a further detach; the present-method actions status and
undo; the others the same request again. The desktop, as the machine file
records it, must then match what the same recovery finds after no action or
after the complete action (each followed by the same restart for a power loss);
the present method must be back at the driver profile before the first apply.

"""

import argparse
import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import sys

JOURNAL = "C:\\journal\\desktop.json"
NIMBO = "MONITOR\\KZV1A07\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001"
RECORD = "drives/c/ProgramData/Korvo/VistelCompat/GlPresentMethod/{}.undo"
RECORD_KEY = "HKCU\\Software\\Korvo\\VistelCompat\\GlPresentMethod"


def desk(action, *extra):
    return ["--nimbo-desktop", action, "--state-file", JOURNAL, *extra]


def gl(action, *extra, exe="viewer.exe"):
    return ["--gl-present-method", action, "--exe", exe, *extra]


MOVE = {"/moveMonitor": {"from": "\\\\.\\DISPLAY2", "to": "\\\\.\\DISPLAY3"}}
NIMBO_ALONE = {"/adapters/0/outputs/0/active": False, "/adapters/0/outputs/1/position": {"x": 0, "y": 0},
               "/adapters/0/outputs/1/active": True}
POWER_OFF = ["--nimbo-display-power", "off"]
# The undo folder a junction: the record goes to the per-user registry.
JUNCTION = {"/fileSystem": {"links": [{"path": "C:\\ProgramData\\Korvo\\VistelCompat", "target": "C:\\Elsewhere",
                                       "kind": "junction"}]}}

# name, machine, preparation (runs, and JSON pointer edits of the machine file),
# the action ("{token}" is the prepared journal's), what checks it.
ACTIONS = [
    ("detach", "nimbo_laptop.json", [], desk("detach"), "desktop"),
    ("restore", "nimbo_laptop.json", [desk("detach")], desk("restore"), "desktop"),
    ("reconcile", "nimbo_laptop_spare_port.json", [desk("detach"), MOVE, desk("status")],
     desk("reconcile"), "desktop"),
    ("forget", "nimbo_laptop_spare_port.json", [desk("detach"), MOVE, desk("status")],
     desk("forget", "--recovery-token", "{token}"), "desktop"),
    ("darken", "nimbo_laptop.json", [desk("detach"), NIMBO_ALONE], desk("darken", "--display-id", NIMBO),
     "desktop"),
    ("apply", "nvidia_profiles.json", [], gl("apply", "--user-consent"), "present"),
    ("undo", "nvidia_profiles.json", [gl("apply", "--user-consent")], gl("undo"), "present"),
    # A foreign profile: only the record holds the value from before.
    ("apply over a profile", "nvidia_profiles.json", [], gl("apply", "--user-consent", exe="quake.exe"),
     "present"),
    ("apply to registry", "nvidia_profiles.json", [JUNCTION], gl("apply", "--user-consent", exe="quake.exe"),
     "present"),
    ("undo from registry", "nvidia_profiles.json", [JUNCTION, gl("apply", "--user-consent", exe="quake.exe")],
     gl("undo", exe="quake.exe"), "present"),
    ("ensure", "nimbo_at_30hz.json", [], ["--ensure-nimbo-ready", "--initial-dpi", "200"], "again"),
    ("power off", "ddc_nimbo.json", [], POWER_OFF, "again"),
    ("power on", "ddc_nimbo.json", [POWER_OFF], ["--nimbo-display-power", "on"], "again"),
    ("brightness", "ddc_nimbo.json", [], ["--nimbo-display-brightness", "set", "--level", "30"], "again"),
]

# Every stop point for these; every SAMPLE_STRIDE-th and the last for the rest,
# which keeps the sweep within its CI budget.
FULL = {"detach", "restore", "apply to registry"}
SAMPLE_STRIDE = 3

KINDS = ("kill", "powerLoss")



class Machine:
    def __init__(self, exe, folder):
        self.exe, self.folder, self.path = exe, folder, os.path.join(folder, "machine.json")

    def load(self):
        with open(self.path, encoding="utf-8") as handle:
            return json.load(handle)

    def edit(self, pointers):
        document = self.load()
        for pointer, value in pointers.items():
            parts = pointer.split("/")[1:]
            target = document
            for part in parts[:-1]:
                target = target[int(part) if isinstance(target, list) else part]
            target[int(parts[-1]) if isinstance(target, list) else parts[-1]] = value
        with open(self.path, "w", encoding="utf-8") as handle:
            json.dump(document, handle, indent=2)

    def run(self, args):
        env = {k: v for k, v in os.environ.items() if k != "ProgramData"}
        env["LENTICOR_SIM_MACHINE"] = self.path
        done = subprocess.run([self.exe, *args], env=env, capture_output=True, text=True, timeout=120,
                              cwd=self.folder)
        line = done.stdout.strip()
        result = json.loads(line[line.index("{"):]) if "{" in line else None
        return done.returncode, result, done.stdout

    def copy(self, folder):
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.folder, folder, symlinks=True)
        # A junction made on the drives points into its own machine's folder.
        for root, names, files in os.walk(folder):
            for link in (os.path.join(root, name) for name in names + files if os.path.islink(os.path.join(root, name))):
                target = os.readlink(link)
                if target.startswith(self.folder + os.sep):
                    os.remove(link)
                    os.symlink(folder + target[len(self.folder):], link)
        return Machine(self.exe, folder)


def desktop(machine):
    """What the machine file records of the desktop, drivers and monitors."""
    outputs, number = [], 0
    for adapter in machine["adapters"]:
        for output in adapter.get("outputs", []):
            number += 1
            monitor = output.get("monitor") or {}
            mode = dict(output["mode"])
            mode.setdefault("bitsPerPixel", 32)
            outputs.append({"name": output.get("deviceName", f"\\\\.\\DISPLAY{number}"),
                            "active": output.get("active", True), "mode": mode,
                            "position": output.get("position", {"x": 0, "y": 0}),
                            "dpi": output.get("dpi", {}).get("current"), "monitor": monitor.get("hardwareId"),
                            "hotPlug": monitor.get("hotPlug", True), "vcp": monitor.get("ddc", {}).get("vcp")})
    extra = machine.get("desktop", {})
    database = extra.get("database") or [
        {"output": o["name"], "position": o["position"], "mode": o["mode"]} for o in outputs if o["active"]]
    for entry in database:
        entry["mode"].setdefault("bitsPerPixel", 32)
    nvidia = {k: v for k, v in machine.get("nvidia", {}).items() if k != "faults"}
    return {"outputs": outputs, "database": sorted(database, key=lambda e: e["output"].lower()),
            "displaysOffRequests": extra.get("displaysOffRequests", 0), "nvidia": nvidia}


def record_exists(machine, exe):
    on_disk = os.path.exists(os.path.join(machine.folder, RECORD.format(exe)))
    keys = {k.lower(): v for k, v in machine.load().get("registry", {}).items()}
    values = {k.lower() for k in keys.get(RECORD_KEY.lower(), {})}
    return on_disk or exe in values


def recover(machine, check, request, original):
    """The host's next runs: a list of problems and the desktop found."""
    problems = []

    def step(args, what):
        code, result, text = machine.run(args)
        if code != 0 or not result or result.get("success") is False or result.get("ready") is False:
            problems.append(f"{what} answered exit {code}: {text.strip()}")
        return result or {}

    if check == "desktop":
        status = step(desk("status"), "status")
        step(desk("reconcile" if status.get("presence") == "absent" else "restore"), "recovery")
        found = desktop(machine.load())
        # Whether the next detach may go ahead depends on the desktop; what it
        # must not meet is a lock, temporary or archive file left behind.
        code, result, _ = machine.run(desk("detach"))
        found["next detach"] = code, (result or {}).get("errorCode")
        return problems, found
    if check == "present":
        exe = request[request.index("--exe") + 1]
        pending = step(gl("status", exe=exe), "status").get("undoPending")
        if pending != record_exists(machine, exe):
            problems.append(f"status says undoPending {pending}, record {'' if pending else 'not '}found")
        step(gl("undo", exe=exe), "undo")
        if record_exists(machine, exe):
            problems.append("a record remains after undo")
        found = desktop(machine.load())
        if found["nvidia"] != original["nvidia"]:
            problems.append(f"profiles after undo differ from before the first apply: {found['nvidia']}")
        return problems, found
    document = machine.load()
    before = desktop(document)
    if document.get("restart"):  # the run starts on the display database's layout
        saved = {entry["output"].lower(): entry["mode"] for entry in before["database"]}
        for output in before["outputs"]:
            output["mode"] = saved.get(output["name"].lower(), output["mode"])
    result = step(request, "the same request")
    found = desktop(machine.load())
    nimbo = next((o for o in found["outputs"] if o["monitor"] and "KZV1A07" in o["monitor"]), None)
    if "currentMode" in result and nimbo:
        now = {k: nimbo["mode"][k] for k in ("width", "height", "refreshRate")}
        was = {k: next(o for o in before["outputs"] if o["name"] == nimbo["name"])["mode"][k] for k in now}
        if result["currentMode"] != now or result["previousMode"] != was:
            problems.append(f"reports {result['currentMode']} after {result['previousMode']}, machine {now} "
                            f"after {was}")
    if "brightness" in result and nimbo and result["brightness"] != nimbo["vcp"]["10"]["current"]:
        problems.append(f"reports brightness {result['brightness']}, machine {nimbo['vcp']['10']}")
    if "requestedState" in result and result.get("state") != result["requestedState"]:
        problems.append(f"reports state {result.get('state')} after asking {result['requestedState']}")
    return problems, found


def prepare(options, name, machine_file, preparation, action):
    folder = os.path.join(options.work, name.replace(" ", "_"))
    os.makedirs(folder, exist_ok=True)
    base = Machine(options.exe, os.path.join(folder, "base"))
    shutil.rmtree(base.folder, ignore_errors=True)
    os.makedirs(base.folder)
    shutil.copy(os.path.join(options.machines, machine_file), base.path)
    original = desktop(base.load())
    for item in preparation:
        if isinstance(item, dict):
            base.edit(item)
        elif base.run(item)[0] != 0:
            raise RuntimeError(f"{name}: preparation {item} failed")
    journal = os.path.join(base.folder, "drives/c/journal/desktop.json")
    if os.path.exists(journal):
        with open(journal, "rb") as handle:
            token = hashlib.sha256(handle.read()).hexdigest()
        action = [arg.replace("{token}", token) for arg in action]
    return folder, base, original, action


def sweep(options, pool, name, machine_file, preparation, action, check):
    folder, base, original, action = prepare(options, name, machine_file, preparation, action)
    counted = base.copy(os.path.join(folder, "count"))
    counted.edit({"/countPortCalls": True})
    counted.run(action)
    calls = counted.load().get("portCalls")
    if not calls:
        raise RuntimeError(f"{name}: the undisturbed run reports no port calls")
    # What a consistent machine may look like after the recovery: as if the
    # action had not run, or had run to its end; after a power loss, each
    # followed by the restart.
    expected = {}
    for kind in KINDS:
        expected[kind] = []
        for ran in (False, True):
            machine = base.copy(os.path.join(folder, f"ref-{kind}-{ran}"))
            if ran:
                machine.run(action)
            if kind == "powerLoss":
                machine.edit({"/restart": True})
            problems, found = recover(machine, check, action, original)
            if problems:
                raise RuntimeError(f"{name}: recovery after {'the action' if ran else 'nothing'} ({kind}): "
                                   + "; ".join(problems))
            expected[kind].append(found)
    points = range(1, calls + 1) if name in FULL or options.full else sorted({*range(1, calls + 1, SAMPLE_STRIDE), calls})

    def stop_at(point):
        number, kind = point
        machine = base.copy(os.path.join(folder, f"stop-{number}-{kind}"))
        machine.edit({"/stopAfterCall": {"call": number, "as": kind}})
        code, _, text = machine.run(action)
        after = machine.load()
        problems = []
        if code != 1 or text or "stopAfterCall" in after or (kind == "powerLoss") != bool(after.get("restart")):
            problems.append(f"the stop did not end the run as agreed (exit {code}, stdout {text!r})")
        more, found = recover(machine, check, action, original)
        problems += more
        if found not in expected[kind]:
            problems.append(f"a third state: {json.dumps(found, sort_keys=True)}")
        if not problems:
            shutil.rmtree(machine.folder, ignore_errors=True)
        return number, kind, problems

    found = list(pool.map(stop_at, [(n, kind) for n in points for kind in KINDS]))
    return calls, len(points), found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--machines", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--only", nargs="*")
    parser.add_argument("--full", action="store_true", help="every stop point of every action")
    options = parser.parse_args()
    options.exe, options.work = os.path.abspath(options.exe), os.path.abspath(options.work)
    shutil.rmtree(options.work, ignore_errors=True)
    failed = False
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for name, machine_file, preparation, action, check in ACTIONS:
            if options.only and name not in options.only:
                continue
            calls, swept, outcomes = sweep(options, pool, name, machine_file, preparation, action, check)
            bad = [(n, kind, p) for n, kind, p in outcomes if p]
            sample = "" if name in FULL or options.full else f" (one in {SAMPLE_STRIDE} of {calls})"
            print(f"crash sweep {name}: {swept} stop points{sample} × 2, {len(bad)} inconsistent")
            failed |= bool(bad)
            for number, kind, problems in bad:
                print(f"  {name} N={number} {kind}: " + "; ".join(problems))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
