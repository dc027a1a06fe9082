#!/usr/bin/env python3
"""Checks the dynamic symbol table of liborva_qos_data.so.

The library must define exactly the names of its generated export list, among
them one type-info record per type, enumeration, table, table record and
message, and none of the names the runtime library defines.
"""
import re
import subprocess
import sys


def defined(lib):
    out = subprocess.run(["nm", "-D", "--defined-only", lib], check=True,
                         capture_output=True, text=True).stdout
    return {line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()}


def main(module, runtime, version_script):
    with open(version_script) as f:
        text = f.read()
    listed = set(re.findall(r"^\s+([A-Za-z_][A-Za-z0-9_]*);", text.split("local:")[0], re.M))
    exported = defined(module)
    problems = []
    if exported != listed:
        problems.append(f"exported but not listed: {sorted(exported - listed)[:10]}")
        problems.append(f"listed but not exported: {sorted(listed - exported)[:10]}")
    type_infos = [s for s in exported if s.endswith("_type_info_internal")]
    if len(type_infos) != 58:
        problems.append(f"{len(type_infos)} type-info records exported, expected 58")
    shared = exported & defined(runtime)
    if shared:
        problems.append(f"runtime names defined in the module: {sorted(shared)[:10]}")
    for p in problems:
        print(p)
    print(f"{len(exported)} exports, {len(type_infos)} type-info records")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
