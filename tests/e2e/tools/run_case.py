#!/usr/bin/env python3
"""Runs one end-to-end case of lenticor.exe (under Wine), lenticor-sim, or
lenticor-sim.exe (under Wine, --kind winesim).

A case file is JSON:

  {
    "alsoOnWindows": true,                     # a lenticor-sim case that lenticor-sim.exe
                                               # also runs, unchanged (read by CMake)
    "machine": "machines/default.json",        # sim and winesim, relative to the case
                                               # file; copied to WORK/machine.json and
                                               # named by LENTICOR_SIM_MACHINE
    "files": {"journal/desktop.json": "text"},  # created before the first step, after
                                               # "cleanup" (${size:N:CHAR} and ${WORK} are
                                               # replaced)
    "nvapi": {"profiles": [...]},               # wine only: the test nvapi64.dll goes into
                                               # the prefix's system32 for this case, with
                                               # this driver state in WORK/nvapi.json (the
                                               # machine file's "nvidia" shape), saved back
                                               # there; the DLL is removed when the case ends.
                                               # The file is written as the DLL writes it
                                               # (sorted keys, two-space indent, final line
                                               # feed), so a state given in the DLL's own
                                               # form (no empty lists, ids as "0x20D690F8")
                                               # can be compared byte for byte after a save
    "cleanup": ["${C_DRIVE}/ProgramData/Korvo", # removed before the first step and when the
                "HKCU\\Software\\Korvo"],       # case ends: files or folders, and (wine
                                               # only) registry keys, named from their root
    "steps": [
      {
        "args": ["--help", "extra"],
        "program": "nvapi_probe",               # a --helper name instead of the exe; under
                                                 # Wine also a program of the prefix's system
                                                 # folder such as "reg.exe"
        "env": {"NAME": "value"},               # added to the environment
        "stdin": "cancel\n",                    # standard input is a pipe carrying this
                                                 # text, held open until the step ends
                                                 # (default: the null device)
        "unsetEnv": ["DISPLAY"],                 # removed from the environment
        "exit": 0,
        "stdout": "exact text",                 # or "stdoutFile" (relative to the case file)
                                                 # or "stdoutRegex" (full match)
        "stderr": "",                           # or "stderrRegex" (full match, DOTALL)
        "capture": {"token": "regex with one group matched against stdout"},
        "expectFiles": {"j/desktop.json": 1,    # after the step: how many files under WORK
                        "j/*.recovery-*.json": 0},  # (or at an absolute path) match each glob
        "expectJson": {"machine.json#/desktop/displaysOffRequests": 2},
        "expectText": {"a.undo": "own"},        # a file's whole content (UTF-8)
        "expectSameBytes": {"nvapi.json": "nvapi.before.json"}  # two files, byte for byte
      },
      {                                         # a second process that stays running:
        "background": {"program": "hold_file",  # a --helper name (default: the exe)
                       "args": ["${WORK_WIN}\\j.lock"],
                       "ready": "held"}          # waits for this line on its stdout;
      },                                        # stdin is closed and it is awaited when
                                                # the case ends or at {"stopBackground": true}
      {"setJson": {"machine.json": {"/adapters/0/outputs/1/active": true}}},
                                                # JSON pointer -> new value in files under
                                                # WORK (null deletes nothing: it stores null)
      {"copyFile": {"path": "nvapi.before.json", "existing": "nvapi.json"}},
      {"hardLink": {"path": "${C_DRIVE}/ProgramData/x.undo", "existing": "x.undo"}},
                                                # a copy or a second hard link of an existing
                                                # file; missing folders of "path" are created
      {
        "concurrent": [{"args": [...], ...}, {"args": [...], ...}],
        "staggerMs": 300                        # each process starts this long after the
      }                                         # previous one; every one is checked as a step
    ]
  }

In args, env values, expectations and the paths of files, copies, links and
clean-up, these are replaced: ${WORK} (the case's scratch folder), ${WORK_WIN}
(the same as Wine sees it, Z:\\...), ${C_DRIVE} (where drive C: is: under Wine
the prefix's WINEPREFIX/drive_c, where Wine keeps names in the letter case the
program used; for lenticor-sim WORK/drives/c), ${sha256:REL}
(SHA-256 hex of WORK/REL), ${size:N:CHAR} (CHAR repeated N times, for long
arguments) and ${name} for every value captured by an earlier step. Relative
paths are under WORK.

Windows' C runtime writes "\\r\\n" for "\\n" on stdout and stderr in text mode;
for Wine runs both streams are compared after folding CRLF to LF, and only that.
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
import time

STEP_TIMEOUT_SECONDS = 120

# Placeholders fixed for the whole run, such as ${C_DRIVE} under Wine.
FIXED_PLACEHOLDERS = {}


def substitute(text, work, captured):
    def replace(match):
        name = match.group(1)
        if name == "WORK":
            return work
        if name in FIXED_PLACEHOLDERS:
            return FIXED_PLACEHOLDERS[name]
        if name == "WORK_WIN":
            return "Z:" + work.replace("/", "\\")
        if name.startswith("sha256:"):
            with open(os.path.join(work, name[len("sha256:"):]), "rb") as handle:
                return hashlib.sha256(handle.read()).hexdigest()
        if name.startswith("size:"):
            _, count, char = name.split(":", 2)
            return char * int(count)
        if name in captured:
            return captured[name]
        raise KeyError(f"unknown placeholder ${{{name}}}")

    # Innermost first, so ${sha256:${C_DRIVE}/x} names a file on drive C:.
    while True:
        replaced = re.sub(r"\$\{([^{}]+)\}", replace, text)
        if replaced == text:
            return replaced
        text = replaced


def expect_text(step, key, actual, case_dir, work, captured, errors, label):
    if key in step:
        expected = substitute(step[key], work, captured)
        if actual != expected:
            errors.append(f"{label} differs\n--- expected\n{expected!r}\n--- actual\n{actual!r}")
    if key + "File" in step:
        with open(os.path.join(case_dir, step[key + "File"]), encoding="utf-8") as handle:
            expected = handle.read()
        if actual != expected:
            errors.append(f"{label} differs from {step[key + 'File']}\n--- actual\n{actual!r}")
    if key + "Regex" in step:
        pattern = substitute(step[key + "Regex"], work, captured)
        if re.fullmatch(pattern, actual, re.DOTALL) is None:
            errors.append(f"{label} does not match\n--- pattern\n{pattern}\n--- actual\n{actual!r}")


def json_pointer_parts(pointer):
    return [part.replace("~1", "/").replace("~0", "~") for part in pointer.split("/")[1:]]


def set_json(work, edits, captured):
    for relative, changes in edits.items():
        path = os.path.join(work, relative)
        with open(path, encoding="utf-8") as handle:
            document = json.load(handle)
        for pointer, value in changes.items():
            parts = json_pointer_parts(pointer)
            target = document
            for part in parts[:-1]:
                target = target[int(part)] if isinstance(target, list) else target[part]
            if isinstance(value, str):
                value = substitute(value, work, captured)
            if isinstance(target, list):
                target[int(parts[-1])] = value
            else:
                target[parts[-1]] = value
        with open(path, "w", encoding="utf-8") as handle:
            json.dump(document, handle, indent=2)


def case_path(path, work, captured):
    return os.path.join(work, substitute(path, work, captured))


def check_files(step, work, captured):
    errors = []
    for pattern, count in step.get("expectFiles", {}).items():
        found = glob.glob(case_path(pattern, work, captured))
        if len(found) != count:
            errors.append(f"{len(found)} files match {pattern}, expected {count}: {found}")
    for where, expected in step.get("expectJson", {}).items():
        relative, pointer = where.split("#", 1)
        with open(os.path.join(work, relative), encoding="utf-8") as handle:
            value = json.load(handle)
        try:
            for part in json_pointer_parts(pointer):
                value = value[int(part)] if isinstance(value, list) else value[part]
        except (KeyError, IndexError):
            value = "(missing)"
        if value != expected:
            errors.append(f"{where} is {value!r}, expected {expected!r}")
    for path, expected in step.get("expectText", {}).items():
        try:
            with open(case_path(path, work, captured), encoding="utf-8", newline="") as handle:
                actual = handle.read()
        except OSError as error:
            actual = f"(unreadable: {error.strerror})"
        expected = substitute(expected, work, captured)
        if actual != expected:
            errors.append(f"{path} holds {actual!r}, expected {expected!r}")
    for path, other in step.get("expectSameBytes", {}).items():
        contents = []
        for name in (path, other):
            with open(case_path(name, work, captured), "rb") as handle:
                contents.append(handle.read())
        if contents[0] != contents[1]:
            errors.append(f"{path} differs from {other}\n--- {path}\n{contents[0]!r}"
                          f"\n--- {other}\n{contents[1]!r}")
    return errors


def check_step(step, completed_code, stdout, stderr, case_dir, work, captured):
    errors = []
    if completed_code != step["exit"]:
        errors.append(f"exit code {completed_code}, expected {step['exit']}")
    expect_text(step, "stdout", stdout, case_dir, work, captured, errors, "stdout")
    expect_text(step, "stderr", stderr, case_dir, work, captured, errors, "stderr")
    for name, pattern in step.get("capture", {}).items():
        match = re.search(pattern, stdout)
        if match is None:
            errors.append(f"capture {name}: {pattern!r} not found in stdout")
        else:
            captured[name] = match.group(1)
    errors += check_files(step, work, captured)
    return errors


def link_or_copy(step, work, captured):
    kind = "hardLink" if "hardLink" in step else "copyFile"
    path = case_path(step[kind]["path"], work, captured)
    existing = case_path(step[kind]["existing"], work, captured)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if kind == "hardLink":
        # What CreateHardLinkW makes under Wine: one more name for the same inode.
        os.link(existing, path)
    else:
        shutil.copyfile(existing, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", action="append", default=[],
                        help="NAME=PATH of a helper program for background steps")
    parser.add_argument("--kind", required=True, choices=["sim", "wine", "winesim"])
    parser.add_argument("--nvapi-dll", help="the test nvapi64.dll for cases with \"nvapi\"")
    parser.add_argument("--work", required=True)
    parser.add_argument("--state", required=True, help="folder of the Wine fixture's state")
    parser.add_argument("case")
    options = parser.parse_args()

    with open(options.case, encoding="utf-8") as handle:
        case = json.load(handle)
    case_dir = os.path.dirname(os.path.abspath(options.case))
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    base_env = dict(os.environ)
    command_prefix = []
    under_wine = options.kind in ("wine", "winesim")
    base_env.pop("LENTICOR_SIM_MACHINE", None)
    if under_wine:
        with open(os.path.join(options.state, "wine-env.json"), encoding="utf-8") as handle:
            wine = json.load(handle)
        base_env.update(wine["env"])
        command_prefix = [wine["wine"]]
        FIXED_PLACEHOLDERS["C_DRIVE"] = os.path.join(base_env["WINEPREFIX"], "drive_c")
    else:
        # The Linux simulator's drive C: is the folder beside the machine file.
        FIXED_PLACEHOLDERS["C_DRIVE"] = os.path.join(work, "drives", "c")
    if options.kind != "wine" and "machine" in case:
        machine = os.path.join(work, "machine.json")
        shutil.copyfile(os.path.join(case_dir, case["machine"]), machine)
        base_env["LENTICOR_SIM_MACHINE"] = (
            "Z:" + machine.replace("/", "\\") if under_wine else machine)

    # What a case leaves outside WORK (in the shared prefix) goes before it
    # runs, so a case that stopped half-way cannot decide the next run, and
    # again when it ends, so it cannot decide other cases.
    def clean_up():
        for item in case.get("cleanup", []):
            if item.startswith("HK"):
                if under_wine:
                    subprocess.run(command_prefix + ["reg.exe", "delete", item, "/f"],
                                   env=base_env, cwd=work, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   timeout=STEP_TIMEOUT_SECONDS, check=False)
                continue
            path = case_path(item, work, {})
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            elif os.path.lexists(path):
                os.remove(path)

    clean_up()

    for relative, content in case.get("files", {}).items():
        path = case_path(relative, work, {})
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="") as handle:
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
        state = os.path.join(work, "nvapi.json")
        # In the form the DLL saves (nlohmann's dump(2) of a sorted map and a
        # line feed), so that a run that saves an unchanged store leaves
        # the same bytes.
        with open(state, "w", encoding="utf-8", newline="") as handle:
            handle.write(json.dumps(case["nvapi"], indent=2, sort_keys=True,
                                    ensure_ascii=False) + "\n")
        base_env["LENTICOR_TEST_NVAPI_STATE"] = "Z:" + state.replace("/", "\\")
        # Native only: a Wine build with its own nvapi64 must not answer.
        overrides = base_env.get("WINEDLLOVERRIDES", "")
        base_env["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "nvapi64=n"
        installed_dll = os.path.join(base_env["WINEPREFIX"], "drive_c", "windows", "system32",
                                     "nvapi64.dll")

    def decode(data):
        text = data.decode("utf-8", errors="surrogateescape")
        return text.replace("\r\n", "\n") if under_wine else text

    def start(step, captured, program=None):
        program = program or step.get("program")
        env = dict(base_env)
        for name, value in step.get("env", {}).items():
            env[name] = substitute(value, work, captured)
        for name in step.get("unsetEnv", []):
            env.pop(name, None)
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
        process = subprocess.Popen(command_prefix + [exe] + args, env=env, cwd=work,
                                   stdin=subprocess.PIPE if piped else subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if step.get("stdin"):
            process.stdin.write(substitute(step["stdin"], work, captured).encode("utf-8"))
            process.stdin.flush()
        return args, process

    background = []

    def stop_background():
        for process in background:
            try:
                process.stdin.close()
                process.wait(timeout=STEP_TIMEOUT_SECONDS)
            except (OSError, subprocess.TimeoutExpired):
                process.kill()
                process.wait()
        background.clear()

    captured = {}
    failures = []
    try:
        if installed_dll:
            shutil.copyfile(options.nvapi_dll, installed_dll)
        for index, step in enumerate(case["steps"]):
            if "setJson" in step:
                set_json(work, step["setJson"], captured)
                continue
            if "hardLink" in step or "copyFile" in step:
                link_or_copy(step, work, captured)
                continue
            if step.get("stopBackground"):
                stop_background()
                continue
            if "background" in step:
                holder = step["background"]
                args, process = start(holder, captured, holder.get("program"))
                background.append(process)
                line = process.stdout.readline().decode("utf-8", errors="replace").strip()
                if line != holder["ready"]:
                    failures.append(f"step {index}: background {args!r} said {line!r}, "
                                    f"expected {holder['ready']!r}")
                    break
                continue
            group = step["concurrent"] if "concurrent" in step else [step]
            running = []
            for position, member in enumerate(group):
                if position > 0:
                    time.sleep(step.get("staggerMs", 0) / 1000.0)
                running.append(start(member, captured))
            errors = []
            for member, (args, process) in zip(group, running):
                if process.stdin is not None:
                    # The host keeps the pipe open while the command runs.
                    process.wait(timeout=STEP_TIMEOUT_SECONDS)
                    process.stdin.close()
                    process.stdin = None
                out, err = process.communicate(timeout=STEP_TIMEOUT_SECONDS)
                stdout, stderr = decode(out), decode(err)
                problems = check_step(member, process.returncode, stdout, stderr, case_dir, work,
                                      captured)
                if problems:
                    errors.append(f"({' '.join(args)!r}):\n" + "\n".join(problems) +
                                  f"\n--- stderr was\n{stderr}")
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
