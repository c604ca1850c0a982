#!/usr/bin/env python3
"""Checks a built exe: Windows system DLL imports only (a MinGW runtime DLL is
not on the user's machine), one manifest asking asInvoker without DPI
awareness, a version resource (every version field --project-version), linked
terminal-server aware, at most --max-bytes. With --dll-export, a test DLL:
system imports only and exactly the exports given."""

import argparse
import re
import struct
import subprocess
import sys

# DLLs that ship with every supported Windows. Anything else (libstdc++-6,
# libgcc_s_seh-1, libwinpthread-1, a vendor DLL) fails the check.
SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "cfgmgr32.dll", "comctl32.dll", "dxgi.dll", "dxva2.dll",
    "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll", "ucrtbase.dll",
}

RT_VERSION, RT_MANIFEST = 16, 24


def exported_names(dump):
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    names = []
    for line in table[1].splitlines()[1:] if len(table) == 2 else []:
        if (match := re.match(r"\s*\[\s*\d+\]\s+(\S+)\s*$", line)) is None:
            break
        names.append(match.group(1))
    return names


def resources(dump, headers, data):
    """{type id: [resource bytes, ...]} from objdump's walk of the .rsrc tree."""
    section = re.search(r"\.rsrc\s+[0-9a-f]+\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)", headers)
    if section is None:
        return {}
    image_base = int(re.search(r"ImageBase\s+([0-9a-f]+)", dump).group(1), 16)
    rva_base, file_base = int(section.group(1), 16) - image_base, int(section.group(2), 16)
    found, type_id = {}, None
    for line in dump.split("The .rsrc Resource Directory section:", 1)[-1].splitlines():
        # Type entries stand three blanks in, names and languages deeper.
        if entry := re.match(r"[0-9a-f]+ {3}Entry: ID: 0x([0-9a-f]+)", line):
            type_id = int(entry.group(1), 16)
        elif leaf := re.search(r"Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+)", line):
            start = file_base + int(leaf.group(1), 16) - rva_base
            found.setdefault(type_id, []).append(data[start:start + int(leaf.group(2), 16)])
    return found


def fixed_versions(resource):
    """(file version, product version) of a VS_FIXEDFILEINFO, as 4-tuples."""
    start = resource.find(struct.pack("<I", 0xFEEF04BD))
    if start < 0:
        return None
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIII", resource, start + 8)
    return tuple((ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
                 for ms, ls in ((file_ms, file_ls), (product_ms, product_ls)))


def version_problems(manifest_text, resource, project_version):
    """Every place a version is written must say the project version."""
    parts = [int(part) for part in project_version.split(".")]
    expected = tuple(parts + [0] * (4 - len(parts)))
    dotted = ".".join(str(part) for part in expected)
    problems = []
    identity = re.search(r'<assemblyIdentity\b[^>]*\bversion="([^"]*)"', manifest_text)
    if (found := identity.group(1) if identity else "none") != dotted:
        problems.append(f"manifest assembly version is {found}, expected {dotted}")
    if (fixed := fixed_versions(resource)) != (expected, expected):
        problems.append(f"version resource numbers are {fixed}, expected {expected} twice")
    # The resource is 32-bit aligned throughout, so it reads as UTF-16 from byte 0.
    text = resource.decode("utf-16-le", errors="replace")
    for key in ("FileVersion", "ProductVersion"):
        value = re.search(key + r"\0+([^\0]*)\0", text)
        if (found := value.group(1) if value else "missing") != project_version:
            problems.append(f"version resource {key} is {found}, expected {project_version}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--dll-export", action="append", dest="dll_exports",
                        help="check a DLL: its only exports are the names given")
    parser.add_argument("--project-version", help="the version every version field must carry")
    parser.add_argument("--max-bytes", type=int,
                        help="the largest the (stripped) file may be")
    parser.add_argument("exe")
    options = parser.parse_args()
    problems = []

    dump = subprocess.run([options.objdump, "-p", options.exe], check=True, capture_output=True,
                          text=True).stdout
    dlls = [name.strip() for name in re.findall(r"DLL Name:\s*(\S+)", dump)]
    if not dlls:
        problems.append("no imported DLLs found (objdump output not understood)")
    for dll in dlls:
        if dll.lower() not in SYSTEM_DLLS:
            problems.append(f"imports {dll}, which is not part of Windows")

    if options.dll_exports:
        exports = exported_names(dump)
        if sorted(exports) != sorted(options.dll_exports):
            problems.append(f"exports {exports}, expected exactly {options.dll_exports}")
        print("\n".join(problems) if problems else f"imports: {', '.join(dlls)}; exports: "
              f"{', '.join(exports)}")
        return 1 if problems else 0

    with open(options.exe, "rb") as handle:
        image = handle.read()
    headers = subprocess.run([options.objdump, "-h", options.exe], check=True,
                             capture_output=True, text=True).stdout
    found = resources(dump, headers, image)
    if options.max_bytes is not None and len(image) > options.max_bytes:
        problems.append(f"{len(image)} bytes, more than the {options.max_bytes} allowed")
    if not re.search(r"DllCharacteristics\s+[0-9a-f]+\n(?:\t+\w+\n)*\t+TERMINAL_SERVICE_AWARE", dump):
        problems.append("not linked terminal-server aware")
    manifests = found.get(RT_MANIFEST, [])
    if len(manifests) != 1:
        problems.append(f"expected one application manifest, found {len(manifests)}")
    for manifest in manifests:
        text = manifest.decode("utf-8", errors="replace")
        if not re.search(r'requestedExecutionLevel\s+level="asInvoker"', text):
            problems.append("manifest does not request asInvoker")
        if re.search(r"dpiAware|dpiAwareness", text, re.IGNORECASE):
            problems.append("manifest declares DPI awareness")
    versions = found.get(RT_VERSION, [])
    if not versions:
        problems.append("no version resource")
    elif "ProductName".encode("utf-16-le") not in versions[0]:
        problems.append("version resource has no ProductName")
    if options.project_version and len(manifests) == 1 and versions:
        problems += version_problems(manifests[0].decode("utf-8", errors="replace"), versions[0],
                                     options.project_version)

    if problems:
        print("\n".join(problems))
        return 1
    print(f"{len(image)} bytes; imports: {', '.join(dlls)}; manifest asInvoker without DPI awareness; version present; "
          "terminal-server aware")
    return 0


if __name__ == "__main__":
    sys.exit(main())
