#!/usr/bin/env python3
"""Every name the built module exports appears exactly once in the generated
API reference, and in a C declaration there.

usage: check_reference.py LIBRARY REFERENCE_DIR"""
import collections
import os
import re
import subprocess
import sys

library, ref = sys.argv[1:3]
names = {ln.split()[-1] for ln in subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                                                 stdout=subprocess.PIPE, text=True).stdout.splitlines()}
seen, declared = collections.Counter(), set()
for page in sorted(os.listdir(ref)):
    with open(os.path.join(ref, page)) as f:
        text = f.read()
    seen.update(w for w in re.findall(r"\w+", text) if w in names)
    declared.update(re.findall(r"^.*?[\s*](\w+)(?:\[\d+\])?(?:;|\(.*\);)$", text, re.M))
bad = sorted(n for n in names if seen[n] != 1 or n not in declared)
for n in bad[:20]:
    print(f"{n}: {seen[n]} occurrence(s){'' if n in declared else ', no declaration'}")
print(f"{len(names)} exported names, {len(bad)} not listed exactly once with their declaration")
sys.exit(1 if bad else 0)
