#!/usr/bin/env python3
"""Runs one end-to-end case of lenticor.exe (under Wine) or lenticor-sim.

A case file is JSON:

  {
    "machine": "machines/default.json",        # sim only, relative to the case file;
                                               # copied to WORK/machine.json and named
                                               # by LENTICOR_SIM_MACHINE
    "files": {"journal/desktop.json": "text"},  # created under WORK before the first step
    "steps": [
      {
        "args": ["--help", "extra"],
        "env": {"NAME": "value"},               # added to the environment
        "unsetEnv": ["DISPLAY"],                 # removed from the environment
        "exit": 0,
        "stdout": "exact text",                 # or "stdoutFile" (relative to the case file)
                                                 # or "stdoutRegex" (full match)
        "stderr": "",                           # or "stderrRegex" (full match, DOTALL)
        "capture": {"token": "regex with one group matched against stdout"}
      }
    ]
  }

In args, env values and expectations, these are replaced: ${WORK} (the case's
scratch folder), ${WORK_WIN} (the same as Wine sees it, Z:\\...), ${sha256:REL}
(SHA-256 hex of WORK/REL), ${size:N:CHAR} (CHAR repeated N times, for long
arguments) and ${name} for every value captured by an earlier step.

Windows' C runtime writes "\\r\\n" for "\\n" on stdout and stderr in text mode;
for Wine runs both streams are compared after folding CRLF to LF, and only that.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

STEP_TIMEOUT_SECONDS = 120


def substitute(text, work, captured):
    def replace(match):
        name = match.group(1)
        if name == "WORK":
            return work
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

    return re.sub(r"\$\{([^}]+)\}", replace, text)


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--kind", required=True, choices=["sim", "wine"])
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
    if options.kind == "wine":
        with open(os.path.join(options.state, "wine-env.json"), encoding="utf-8") as handle:
            wine = json.load(handle)
        base_env.update(wine["env"])
        command_prefix = [wine["wine"]]
    else:
        base_env.pop("LENTICOR_SIM_MACHINE", None)
        if "machine" in case:
            machine = os.path.join(work, "machine.json")
            shutil.copyfile(os.path.join(case_dir, case["machine"]), machine)
            base_env["LENTICOR_SIM_MACHINE"] = machine

    for relative, content in case.get("files", {}).items():
        path = os.path.join(work, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="") as handle:
            handle.write(content)

    captured = {}
    failures = []
    for index, step in enumerate(case["steps"]):
        env = dict(base_env)
        for name, value in step.get("env", {}).items():
            env[name] = substitute(value, work, captured)
        for name in step.get("unsetEnv", []):
            env.pop(name, None)
        args = [substitute(arg, work, captured) for arg in step["args"]]
        completed = subprocess.run(command_prefix + [options.exe] + args, env=env, cwd=work,
                                   stdin=subprocess.DEVNULL, capture_output=True,
                                   timeout=STEP_TIMEOUT_SECONDS)
        stdout = completed.stdout.decode("utf-8", errors="surrogateescape")
        stderr = completed.stderr.decode("utf-8", errors="surrogateescape")
        if options.kind == "wine":
            stdout = stdout.replace("\r\n", "\n")
            stderr = stderr.replace("\r\n", "\n")
        errors = []
        if completed.returncode != step["exit"]:
            errors.append(f"exit code {completed.returncode}, expected {step['exit']}")
        expect_text(step, "stdout", stdout, case_dir, work, captured, errors, "stdout")
        expect_text(step, "stderr", stderr, case_dir, work, captured, errors, "stderr")
        for name, pattern in step.get("capture", {}).items():
            match = re.search(pattern, stdout)
            if match is None:
                errors.append(f"capture {name}: {pattern!r} not found in stdout")
            else:
                captured[name] = match.group(1)
        if errors:
            failures.append(f"step {index} ({' '.join(args)!r}):\n" + "\n".join(errors) +
                            f"\n--- stderr was\n{stderr}")
            break
    if failures:
        print("\n".join(failures))
        return 1
    print(f"{len(case['steps'])} steps passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
