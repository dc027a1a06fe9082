#!/usr/bin/env python3
"""Installs the build into a folder of the build tree and uses it as a user
would: the installed headers compile alone as C11 and C++17, the first program
builds with find_package and with pkg-config and runs, the installed module
exports what the built one does, the libraries carry their SONAMEs and no run
path into the build tree, and the guide shows the program as it is.

usage: check_install.py BUILD_DIR SOURCE_DIR LIBDIR CC CXX [EXTRA_FLAGS]"""
import os
import re
import shutil
import subprocess
import sys

build, source, libdir, cc, cxx = sys.argv[1:6]
extra = sys.argv[6].split() if len(sys.argv) > 6 else []
work = os.path.join(build, "consumer")
prefix = os.path.join(work, "prefix")
lib = os.path.join(prefix, libdir)
program = os.path.join(source, "tests", "consumer", "first_program.c")
failures = []


def run(cmd, **kw):
    print("+", " ".join(cmd), flush=True)
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True, **kw).stdout


def check(ok, what):
    print(("ok: " if ok else "FAILED: ") + what, flush=True)
    if not ok:
        failures.append(what)


shutil.rmtree(work, ignore_errors=True)
run(["cmake", "--install", build, "--prefix", prefix])

for compiler, std, lang in ((cc, "c11", "c"), (cxx, "c++17", "c++")):
    run([compiler, f"-std={std}", "-fsyntax-only", "-Wall", "-Wextra", "-Werror", "-I", os.path.join(prefix, "include"),
         "-include", "orva_qos_data/orva_qos_data.h", "-x", lang, "/dev/null"])

# Two builds of the first program, out of tree, and a run of each.
fp = os.path.join(work, "find_package")
run(["cmake", "-S", os.path.dirname(program), "-B", fp, "-G", "Ninja", f"-DCMAKE_PREFIX_PATH={prefix}",
     f"-DCMAKE_C_COMPILER={cc}", f"-DCMAKE_C_FLAGS={' '.join(extra)}"])
run(["cmake", "--build", fp])
env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(lib, "pkgconfig"))
flags = run(["pkg-config", "--cflags", "--libs", "orva_qos_data"], env=env).split()
pc = os.path.join(work, "pkg_config", "first_program")
os.makedirs(os.path.dirname(pc))
run([cc, "-std=c11", "-Wall", "-Wextra", "-pedantic-errors", "-Werror", *extra, program, *flags,
     f"-Wl,-rpath,{lib}", "-o", pc])
check("qosdata sample" in run([os.path.join(prefix, "bin", "qosdata"), "--help"]), "installed qosdata runs")
for exe in (os.path.join(fp, "first_program"), pc):
    out = run([exe])
    check(out.count(": ok (error 0)") == 2, f"{exe} runs the round trip with tracking on and off")


def dynamic_symbols(path):
    return sorted(ln.split()[-1] for ln in run(["nm", "-D", "--defined-only", path]).splitlines())


check(dynamic_symbols(os.path.join(lib, "liborva_qos_data.so")) ==
      dynamic_symbols(os.path.join(build, "liborva_qos_data.so")), "installed module exports what the built one does")
for name in ("liborva_qos_data", "libmox_runtime"):
    path = os.path.join(lib, f"{name}.so")
    check(os.path.realpath(path).endswith(f"{name}.so.1.0.0") and os.path.islink(os.path.join(lib, f"{name}.so.1")),
          f"{name}.so -> {name}.so.1 -> {name}.so.1.0.0")
    check(f"Library soname: [{name}.so.1]" in run(["readelf", "-d", path]), f"{name} has SONAME {name}.so.1")
build_real = os.path.realpath(build)
for path in (os.path.join(lib, "liborva_qos_data.so"), os.path.join(lib, "libmox_runtime.so"),
             os.path.join(prefix, "bin", "qosdata")):
    paths = re.findall(r"\((?:RPATH|RUNPATH)\).*\[(.*)\]", run(["readelf", "-d", path]))
    check(not any(build_real in p or build in p for p in paths), f"{path}: run path {paths} stays out of the build tree")

# The guide's program is this program, byte for byte.
with open(os.path.join(source, "docs", "first-program.md")) as f:
    guide = re.search(r"<!-- program -->\n```c\n(.*?)```\n", f.read(), re.S)
with open(program) as f:
    check(guide is not None and guide.group(1) == f.read(), "docs/first-program.md shows first_program.c unchanged")

sys.exit(1 if failures else 0)
