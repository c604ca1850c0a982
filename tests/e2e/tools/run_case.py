#!/usr/bin/env python3
"""Runs one end-to-end case of lenticor.exe (--kind wine), lenticor-sim (sim) or
lenticor-sim.exe under Wine (winesim). A case file is JSON:

  "alsoOnWindows": true    a sim case that winesim also runs (read by CMake)
  "machine": "m.json"      sim/winesim: copied to WORK/machine.json, named by
                           LENTICOR_SIM_MACHINE (relative to the case file)
  "files": {"rel": "text"} written before the first step, after "cleanup"
  "nvapi": {...}           wine only: the test nvapi64.dll sits in the prefix's
                           system32 for the case, its driver state in
                           WORK/nvapi.json as the DLL writes it (sorted keys,
                           indent 2, final line feed), so an unchanged save
                           compares byte for byte
  "cleanup": [path, "HKCU\\..."]  removed before the first step and at the end
                           (registry keys under Wine only)
  "steps": a list of
    {"args": [...], "program": helper or (Wine) a system program like "reg.exe",
     "env": {}, "unsetEnv": [], "stdin": "text" (a pipe held open until the
     step ends; default the null device), "stdinAfterMs": N (written that
     long after the start), "exitsWithinMs": N (the program ends at most that
     long after its stdin was written), "exit": 0,
     "stdout"/"stdoutFile"/"stdoutRegex", "stderr"/"stderrFile"/"stderrRegex"
     (regexes match fully, DOTALL),
     "capture": {"name": "regex with one group, searched in stdout"},
     "expectFiles": {"glob": count}, "expectJson": {"rel#/json/pointer": value},
     "expectText": {"path": "whole UTF-8 content"},
     "expectSameBytes": {"path": "other path"}}
    {"background": {"program": ..., "args": [...], "ready": "first line"}}
        stays running, stdin closed and awaited at {"stopBackground": true} or
        at the end
    {"setJson": {"rel": {"/pointer": value}}}
    {"copyFile" or "hardLink": {"path": ..., "existing": ...}}
    {"concurrent": [step, ...], "staggerMs": 300}  started that far apart

Every "[VX...]" line a step of the program itself prints (or the sample host
quotes) is also checked against its tag's schema in docs/protocol/
(result_schema.py).

Replaced in args, env, stdin, expectations and paths: ${WORK}, ${WORK_WIN}
(Z:\\...), ${EXE} (the --exe program), ${C_DRIVE} (the prefix's drive_c, or
WORK/drives/c for the Linux simulator), ${sha256:REL}, ${size:N:CHAR} (CHAR N
times) and every captured ${name}; innermost first. Relative paths are under
WORK. Under Wine stdout and stderr are compared after folding the C runtime's
CRLF to LF, and only that.
"""

import argparse
import glob
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time

import result_schema

TIMEOUT = 120
FIXED = {}  # placeholders fixed for the run, such as ${C_DRIVE}


def substitute(text, work, captured):
    def replace(match):
        name = match.group(1)
        if name == "WORK":
            return work
        if name in FIXED:
            return FIXED[name]
        if name == "WORK_WIN":
            return windows_path(work)
        if name.startswith("sha256:"):
            with open(os.path.join(work, name[7:]), "rb") as handle:
                return hashlib.sha256(handle.read()).hexdigest()
        if name.startswith("size:"):
            _, count, char = name.split(":", 2)
            return char * int(count)
        if name in captured:
            return captured[name]
        raise KeyError(f"unknown placeholder ${{{name}}}")

    while (replaced := re.sub(r"\$\{([^{}]+)\}", replace, text)) != text:
        text = replaced
    return text


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def walk(document, pointer, last=0):
    """The parent of a JSON pointer's target (last=1) or the target itself."""
    parts = [part.replace("~1", "/").replace("~0", "~") for part in pointer.split("/")[1:]]
    for part in parts[:len(parts) - last]:
        document = document[int(part) if isinstance(document, list) else part]
    return document, parts[-1]


def check_step(step, code, streams, case_dir, work, captured):
    errors = [] if code == step["exit"] else [f"exit code {code}, expected {step['exit']}"]
    sub = lambda text: substitute(text, work, captured)
    for key, actual in streams.items():
        if key in step and actual != sub(step[key]):
            errors.append(f"{key} differs\n--- expected\n{sub(step[key])!r}\n--- actual\n{actual!r}")
        if key + "File" in step:
            with open(os.path.join(case_dir, step[key + "File"]), encoding="utf-8") as handle:
                if actual != handle.read():
                    errors.append(f"{key} differs from {step[key + 'File']}\n--- actual\n{actual!r}")
        if key + "Regex" in step and not re.fullmatch(sub(step[key + "Regex"]), actual, re.DOTALL):
            errors.append(f"{key} does not match\n--- pattern\n{sub(step[key + 'Regex'])}"
                          f"\n--- actual\n{actual!r}")
    # Whatever the exact expectation, every line the program prints must be one
    # its protocol allows; the sample host quotes each line it received as
    # "=> exit N <line> => ...". Other helpers speak their own.
    if not step.get("program"):
        errors += result_schema.problems(streams["stdout"])
    elif step["program"] == "sample_host":
        errors += result_schema.problems("\n".join(
            re.findall(r" => exit -?\d+ (\[VX.*?) => ", streams["stdout"])))
    for name, pattern in step.get("capture", {}).items():
        if match := re.search(pattern, streams["stdout"]):
            captured[name] = match.group(1)
        else:
            errors.append(f"capture {name}: {pattern!r} not found in stdout")
    path = lambda name: os.path.join(work, sub(name))
    for pattern, count in step.get("expectFiles", {}).items():
        if len(found := glob.glob(path(pattern))) != count:
            errors.append(f"{len(found)} files match {pattern}, expected {count}: {found}")
    for where, expected in step.get("expectJson", {}).items():
        relative, pointer = where.split("#", 1)
        with open(os.path.join(work, relative), encoding="utf-8") as handle:
            document = json.load(handle)
        try:
            value = walk(document, pointer)[0] if pointer else document
        except (KeyError, IndexError):
            value = "(missing)"
        if value != expected:
            errors.append(f"{where} is {value!r}, expected {expected!r}")
    for name, expected in step.get("expectText", {}).items():
        try:
            with open(path(name), encoding="utf-8", newline="") as handle:
                actual = handle.read()
        except OSError as error:
            actual = f"(unreadable: {error.strerror})"
        if actual != sub(expected):
            errors.append(f"{name} holds {actual!r}, expected {sub(expected)!r}")
    for name, other in step.get("expectSameBytes", {}).items():
        contents = []
        for each in (name, other):
            with open(path(each), "rb") as handle:
                contents.append(handle.read())
        if contents[0] != contents[1]:
            errors.append(f"{name} differs from {other}\n--- {name}\n{contents[0]!r}"
                          f"\n--- {other}\n{contents[1]!r}")
    return errors


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", action="append", default=[], help="NAME=PATH")
    parser.add_argument("--kind", required=True, choices=["sim", "wine", "winesim"])
    parser.add_argument("--nvapi-dll", help="the test nvapi64.dll for cases with \"nvapi\"")
    parser.add_argument("--work", required=True)
    parser.add_argument("--state", required=True, help="folder of the Wine fixture's state")
    parser.add_argument("case")
    options = parser.parse_args()
    FIXED["EXE"] = os.path.abspath(options.exe)

    with open(options.case, encoding="utf-8") as handle:
        case = json.load(handle)
    case_dir = os.path.dirname(os.path.abspath(options.case))
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    path = lambda name, captured={}: os.path.join(work, substitute(name, work, captured))

    env = dict(os.environ)
    env.pop("LENTICOR_SIM_MACHINE", None)
    prefix = []
    under_wine = options.kind != "sim"
    if under_wine:
        with open(os.path.join(options.state, "wine-env.json"), encoding="utf-8") as handle:
            wine = json.load(handle)
        env.update(wine["env"])
        prefix = [wine["wine"]]
        FIXED["C_DRIVE"] = os.path.join(env["WINEPREFIX"], "drive_c")
    else:
        # The Linux simulator's drive C: is the folder beside the machine file.
        FIXED["C_DRIVE"] = os.path.join(work, "drives", "c")
    if options.kind != "wine" and "machine" in case:
        machine = os.path.join(work, "machine.json")
        shutil.copyfile(os.path.join(case_dir, case["machine"]), machine)
        env["LENTICOR_SIM_MACHINE"] = windows_path(machine) if under_wine else machine

    # What a case leaves outside WORK (in the shared prefix) goes before it
    # runs, so a case that stopped half-way cannot decide the next run, and
    # again when it ends, so it cannot decide other cases.
    def clean_up():
        for item in case.get("cleanup", []):
            if item.startswith("HK"):
                if under_wine:
                    subprocess.run(prefix + ["reg.exe", "delete", item, "/f"], env=env, cwd=work,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=TIMEOUT, check=False)
            elif os.path.isdir(item := path(item)) and not os.path.islink(item):
                shutil.rmtree(item)
            elif os.path.lexists(item):
                os.remove(item)

    clean_up()
    for relative, content in case.get("files", {}).items():
        os.makedirs(os.path.dirname(path(relative)), exist_ok=True)
        with open(path(relative), "w", encoding="utf-8", newline="") as handle:
            handle.write(substitute(content, work, {}))
    helpers = dict(item.split("=", 1) for item in options.helper)

    # The driver library lives in the shared prefix's system folder, where the
    # program loads it from; ctest's lock "nvapi64" keeps other cases away
    # while it is there.
    installed_dll = None
    if "nvapi" in case:
        if not under_wine or not options.nvapi_dll:
            print("an \"nvapi\" case needs --kind wine and --nvapi-dll")
            return 1
        # nlohmann's dump(2) of a sorted map and a line feed, as the DLL saves.
        with open(path("nvapi.json"), "w", encoding="utf-8", newline="") as handle:
            handle.write(json.dumps(case["nvapi"], indent=2, sort_keys=True, ensure_ascii=False)
                         + "\n")
        env["LENTICOR_TEST_NVAPI_STATE"] = windows_path(path("nvapi.json"))
        # Native only: a Wine build with its own nvapi64 must not answer.
        env["WINEDLLOVERRIDES"] = ";".join(filter(None, [env.get("WINEDLLOVERRIDES"),
                                                         "nvapi64=n"]))
        installed_dll = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "system32",
                                     "nvapi64.dll")

    def start(step, captured):
        program = step.get("program")
        step_env = dict(env)
        step_env.update({name: substitute(value, work, captured)
                         for name, value in step.get("env", {}).items()})
        for name in step.get("unsetEnv", []):
            step_env.pop(name, None)
        args = [substitute(arg, work, captured) for arg in step["args"]]
        if program in helpers:
            exe = helpers[program]
        elif program and under_wine and program.endswith(".exe"):
            exe = program  # Wine finds it in the prefix's system folder
        elif program:
            raise KeyError(f"unknown program {program!r}")
        else:
            exe = options.exe
        piped = program is not None or "stdin" in step
        process = subprocess.Popen(prefix + [exe] + args, env=step_env, cwd=work,
                                   stdin=subprocess.PIPE if piped else subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if step.get("stdin"):
            data = substitute(step["stdin"], work, captured).encode("utf-8")
            process.feeder = threading.Timer(step.get("stdinAfterMs", 0) / 1000, feed, (process, data))
            process.feeder.start()
            if "stdinAfterMs" not in step:
                process.feeder.join()
        return args, process

    def feed(process, data):
        try:
            process.stdin.write(data)
            process.stdin.flush()
        except OSError:
            pass  # the program has ended already
        process.fed = time.monotonic()

    background = []

    def stop_background():
        for process in background:
            try:
                process.stdin.close()
                process.wait(timeout=TIMEOUT)
            except (OSError, subprocess.TimeoutExpired):
                process.kill()
                process.wait()
        background.clear()

    def decode(data):
        text = data.decode("utf-8", errors="surrogateescape")
        return text.replace("\r\n", "\n") if under_wine else text

    captured = {}
    failures = []
    try:
        if installed_dll:
            shutil.copyfile(options.nvapi_dll, installed_dll)
        for index, step in enumerate(case["steps"]):
            if "setJson" in step:
                for relative, changes in step["setJson"].items():
                    with open(os.path.join(work, relative), encoding="utf-8") as handle:
                        document = json.load(handle)
                    for pointer, value in changes.items():
                        parent, key = walk(document, pointer, 1)
                        if isinstance(value, str):
                            value = substitute(value, work, captured)
                        parent[int(key) if isinstance(parent, list) else key] = value
                    with open(os.path.join(work, relative), "w", encoding="utf-8") as handle:
                        json.dump(document, handle, indent=2)
            elif kind := next((k for k in ("hardLink", "copyFile") if k in step), None):
                target = path(step[kind]["path"], captured)
                existing = path(step[kind]["existing"], captured)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                # A hard link is what CreateHardLinkW makes under Wine: one more
                # name for the same inode.
                (os.link if kind == "hardLink" else shutil.copyfile)(existing, target)
            elif step.get("stopBackground"):
                stop_background()
            elif holder := step.get("background"):
                args, process = start(holder, captured)
                background.append(process)
                line = process.stdout.readline().decode("utf-8", errors="replace").strip()
                if line != holder["ready"]:
                    failures.append(f"step {index}: background {args!r} said {line!r}, "
                                    f"expected {holder['ready']!r}")
                    break
            else:
                group = step.get("concurrent", [step])
                running = []
                for position, member in enumerate(group):
                    if position > 0:
                        time.sleep(step.get("staggerMs", 0) / 1000.0)
                    running.append(start(member, captured))
                errors = []
                for member, (args, process) in zip(group, running):
                    late = []
                    if process.stdin is not None:
                        # The host keeps the pipe open while the command runs.
                        process.wait(timeout=TIMEOUT)
                        ended = time.monotonic()
                        if hasattr(process, "feeder"):
                            process.feeder.join()
                            took = (ended - process.fed) * 1000
                            if took > member.get("exitsWithinMs", took):
                                late = [f"ended {took:.0f} ms after its stdin was written"]
                        process.stdin.close()
                        process.stdin = None
                    out, err = map(decode, process.communicate(timeout=TIMEOUT))
                    problems = late + check_step(member, process.returncode, {"stdout": out,
                                                 "stderr": err}, case_dir, work, captured)
                    if problems:
                        errors.append(f"({' '.join(args)!r}):\n" + "\n".join(problems) +
                                      f"\n--- stderr was\n{err}")
                if errors:
                    failures.append(f"step {index} " + "\n".join(errors))
                    break
    finally:
        stop_background()
        if installed_dll and os.path.exists(installed_dll):
            os.remove(installed_dll)
        clean_up()
    if failures:
        print("\n".join(failures))
        return 1
    print(f"{len(case['steps'])} steps passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
