#!/usr/bin/env python3
"""Builds the release zip with CPack from this build, unpacks it into an empty
folder and runs lenticor-sim.exe --list-displays from there under Wine: what
a host developer does first with the package."""

import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

EXPECTED = [
    "lenticor.exe",
    "lenticor-sim.exe",
    "README.md",
    "docs/simulated-machine.md",
    "examples/machines/ready-nimbo.json",
    "examples/machines/two-nimbos.json",
    "examples/machines/nimbo-needs-mode-change.json",
    "examples/machines/monitor-refuses-ddc.json",
    "examples/machines/no-nvidia.json",
    "examples/host/sample_host.cpp",
    "examples/host/CMakeLists.txt",
    "examples/host/README.md",
    "docs/protocol/README.md",
] + [f"docs/protocol/VX{tag}.schema.json" for tag in (
    "DisplayList", "NimboCheck", "NimboEnsure", "NimboDesktop", "NimboPower", "NimboBrightness",
    "GlPresentMethod")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--state", required=True, help="folder of the Wine fixture's state")
    options = parser.parse_args()

    shutil.rmtree(options.work, ignore_errors=True)
    output = os.path.join(options.work, "out")
    subprocess.run(["cpack", "--config", os.path.join(options.build, "CPackConfig.cmake"),
                    "-B", output], check=True, stdout=subprocess.DEVNULL)
    zips = glob.glob(os.path.join(output, "*.zip"))
    name = f"lenticor-{options.version}-win64.zip"
    if [os.path.basename(z) for z in zips] != [name]:
        print(f"expected one {name}, found {zips}")
        return 1

    unpacked = os.path.join(options.work, "unpacked")
    os.makedirs(unpacked)
    with zipfile.ZipFile(zips[0]) as archive:
        archive.extractall(unpacked)
    top = os.path.join(unpacked, name[:-len(".zip")])
    missing = [f for f in EXPECTED if not os.path.isfile(os.path.join(top, f))]
    if missing:
        print(f"missing from the package: {missing}")
        return 1

    with open(os.path.join(options.state, "wine-env.json"), encoding="utf-8") as handle:
        wine = json.load(handle)
    env = dict(os.environ)
    env.update(wine["env"])
    env.pop("LENTICOR_SIM_MACHINE", None)
    run = subprocess.run([wine["wine"], "lenticor-sim.exe", "--list-displays"], cwd=top, env=env,
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    stdout = run.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
    if run.returncode != 0 or re.fullmatch(r"\[VXDisplayList\]\{.*\"KZV1A07\".*\}\n", stdout) is None:
        print(f"exit {run.returncode}, stdout {stdout!r}\nstderr {run.stderr[-2000:]!r}")
        return 1
    print("package unpacked and ran")
    return 0


if __name__ == "__main__":
    sys.exit(main())
