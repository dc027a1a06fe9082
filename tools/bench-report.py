#!/usr/bin/env python3
"""Runs the wire benchmarks and prints markdown tables: ns per operation and
the ratio to a memcpy of the same byte count, measured in the same run; this
library beside protobuf-c on the same client record (ratio this library /
protobuf-c per operation); the text size of the libraries.

  tools/bench-report.py build-bench/bench/wire_bench [benchmark options...]
  tools/bench-report.py --callgrind build-bench/bench/wire_bench

Options after the binary go to it (e.g. --benchmark_min_time=0.2,
--benchmark_repetitions=5: with repetitions the median is used).

Record allocs are those of record storage (the handle's statistics); heap
allocs are the C++ heap allocations of the whole process (the benchmark
binary counts operator new), which the handle does not see.

The row "unmarshal_fresh - create_destroy" is the decode alone: the cost of
create + unmarshal + destroy less that of create + destroy, both from the
same run.

--callgrind adds instructions per operation: every benchmark is run twice
under valgrind --tool=callgrind with a fixed number of iterations
(WIRE_BENCH_ITERATIONS), and the difference of the two totals is divided by
the difference of the iteration counts, so that the setup, the round-trip
self check and the program's start cancel out.  Instruction counts do not
depend on the machine's load.

Pairs of the protobuf-c table: len / get_packed_size, marshal / pack,
encode (len + marshal) / encode (get_packed_size + pack), unmarshal_fresh
(create + unmarshal + destroy) and unmarshal_in_place / unpack_free (unpack +
free_unpacked), round_trip / round_trip.  Allocations are record-storage
allocations for this library and calls of protobuf-c's allocator (malloc
underneath) for protobuf-c.  protobuf-c has no state tracking:
both tracking modes of this library are set beside the same protobuf-c run.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

OPS = ["len", "marshal", "encode", "unmarshal_fresh", "create_destroy", "unmarshal_in_place",
       "round_trip", "memcpy"]
NET = "unmarshal_fresh - create_destroy"
PEER = "protobuf_c"
PAIRS = [("len", "get_packed_size"), ("marshal", "pack"), ("encode", "encode"),
         ("unmarshal_fresh", "unpack_free"), ("unmarshal_in_place", "unpack_free"),
         ("round_trip", "round_trip")]


def run_json(binary, extra):
    out = subprocess.run([binary, "--benchmark_format=json", *extra],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def collect(doc):
    """{(type, mode): {op: {"ns": float, "bytes": int, "allocs": float, "heap": float}}}"""
    rows = {}
    medians = {b["run_name"] for b in doc["benchmarks"]
               if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median"}
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    for b in doc["benchmarks"]:
        name = b.get("run_name", b["name"])
        if name in medians:
            if b.get("aggregate_name") != "median":
                continue
        elif b.get("run_type") == "aggregate":
            continue
        name = re.sub(r"/iterations:\d+$", "", name)
        typ, mode, op = name.split("/")
        rows.setdefault((typ, mode), {})[op] = {
            "ns": b["cpu_time"] * scale[b["time_unit"]],
            "bytes": int(b.get("bytes", 0)),
            "allocs": b.get("allocs", 0.0),
            "heap": b.get("heap_allocs", 0.0),
        }
    return rows


def callgrind_counts(binary, low=200, high=1200):
    """{name: instructions per iteration}"""
    names = subprocess.run([binary, "--benchmark_list_tests"], check=True,
                           capture_output=True, text=True).stdout.split()
    counts = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name in names:
            totals = []
            for n in (low, high):
                env = dict(os.environ, WIRE_BENCH_ITERATIONS=str(n))
                filt = "^" + re.escape(name) + "(/|$)"
                r = subprocess.run(
                    ["valgrind", "--tool=callgrind",
                     "--callgrind-out-file=" + os.path.join(tmp, "cg.out"),
                     binary, "--benchmark_filter=" + filt],
                    env=env, capture_output=True, text=True, check=True)
                m = re.search(r"Collected\s*:\s*(\d+)", r.stderr)
                if not m:
                    sys.exit("no callgrind total for " + name)
                totals.append(int(m.group(1)))
            counts[name] = (totals[1] - totals[0]) / (high - low)
            print(f"callgrind {name}: {counts[name]:.0f} Ir/op", file=sys.stderr)
    return counts


def fmt_ns(ns):
    return f"{ns:.0f}" if ns >= 100 else f"{ns:.1f}"


def table(rows, counts):
    head = "| type | tracking | operation | bytes | ns/op | × memcpy | record allocs/op | heap allocs/op |"
    sep = "|---|---|---|---:|---:|---:|---:|---:|"
    if counts:
        head += " Ir/op | Ir × memcpy |"
        sep += "---:|---:|"
    lines = [head, sep]
    for (typ, mode), ops in rows.items():
        if mode == PEER:
            continue
        mc = ops.get("memcpy")
        names = [o for o in OPS if o in ops]
        if "unmarshal_fresh" in ops and "create_destroy" in ops:
            names.insert(names.index("create_destroy") + 1, NET)
        for op in names:
            key = f"{typ}/{mode}/{op}"
            if op == NET:
                ns = ops["unmarshal_fresh"]["ns"] - ops["create_destroy"]["ns"]
                allocs = ops["unmarshal_fresh"]["allocs"] - ops["create_destroy"]["allocs"]
                heap = ops["unmarshal_fresh"]["heap"] - ops["create_destroy"]["heap"]
                nbytes = ops["unmarshal_fresh"]["bytes"]
            else:
                ns, allocs, nbytes = ops[op]["ns"], ops[op]["allocs"], ops[op]["bytes"]
                heap = ops[op]["heap"]
            ratio = f"{ns / mc['ns']:.0f}" if mc and op != "memcpy" else "1"
            line = (f"| {typ} | {mode.replace('sttr_', '')} | {op} | {nbytes} | {fmt_ns(ns)} "
                    f"| {ratio} | {round(allocs, 2):g} | {round(heap, 2):g} |")
            if counts:
                mkey = f"{typ}/{mode}/memcpy"
                if op == NET:
                    ir = counts[f"{typ}/{mode}/unmarshal_fresh"] - counts[f"{typ}/{mode}/create_destroy"]
                else:
                    ir = counts[key]
                line += f" {ir:.0f} | {ir / counts[mkey]:.0f} |"
            lines.append(line)
    return "\n".join(lines)


def peer_table(rows, counts):
    """This library beside protobuf-c, per operation and tracking mode."""
    head = ("| tracking | operation: this library / protobuf-c | bytes | allocs/op | ns/op "
            "| ns/op protobuf-c | ratio ns |")
    sep = "|---|---|---:|---:|---:|---:|---:|"
    if counts:
        head += " Ir/op | Ir/op protobuf-c | ratio Ir |"
        sep += "---:|---:|---:|"
    lines = [head, sep]
    for (typ, mode), ops in rows.items():
        peer = rows.get((typ, PEER))
        if mode == PEER or not peer:
            continue
        for op, pop in PAIRS:
            if op not in ops or pop not in peer:
                continue
            a, b = ops[op], peer[pop]
            line = (f"| {mode.replace('sttr_', '')} | {op} / {pop} | {a['bytes']} / {b['bytes']} "
                    f"| {round(a['allocs'], 2):g} / {round(b['allocs'], 2):g} "
                    f"| {fmt_ns(a['ns'])} | {fmt_ns(b['ns'])} | {a['ns'] / b['ns']:.2f} |")
            if counts:
                ia, ib = counts[f"{typ}/{mode}/{op}"], counts[f"{typ}/{PEER}/{pop}"]
                line += f" {ia:.0f} | {ib:.0f} | {ia / ib:.2f} |"
            lines.append(line)
    return "\n".join(lines)


def text_sizes(binary):
    """| library | text bytes | for the module, the runtime, libprotobuf-c and the
    protobuf-c code generated for the schema."""
    build = os.path.dirname(os.path.dirname(os.path.abspath(binary)))
    libs = []
    for name in ("liborva_qos_data.so", "libmox_runtime.so"):
        found = [os.path.join(d, name) for d, _, files in os.walk(build) if name in files]
        libs += found[:1]
    ldd = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
    m = re.search(r"libprotobuf-c\.so\S*\s+=>\s+(\S+)", ldd)
    if m:
        libs.append(os.path.realpath(m.group(1)))
    pb = os.path.join(os.path.dirname(os.path.abspath(binary)), "libqos_client_pb.a")
    if os.path.exists(pb):
        libs.append(pb)
    lines = ["| library | text bytes |", "|---|---:|"]
    for lib in libs:
        out = subprocess.run(["size", lib], check=True, capture_output=True, text=True).stdout
        text = sum(int(l.split()[0]) for l in out.splitlines()[1:] if l.split())
        lines.append(f"| {os.path.basename(lib)} | {text} |")
    return "\n".join(lines)


def cpu_model():
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    except OSError:
        return "?"
    m = re.search(r"Model name:\s*(.+)", out)
    return m.group(1).strip() if m else "?"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--callgrind", action="store_true", help="add instruction counts per operation")
    ap.add_argument("binary")
    ap.add_argument("extra", nargs=argparse.REMAINDER, help="options for the benchmark binary")
    args = ap.parse_args()
    doc = run_json(args.binary, args.extra)
    ctx = doc.get("context", {})
    print(f"<!-- {ctx.get('date', '')}, {cpu_model()}, {ctx.get('num_cpus', '?')} CPUs at "
          f"{ctx.get('mhz_per_cpu', '?')} MHz, load {ctx.get('load_avg', '')} -->")
    counts = callgrind_counts(args.binary) if args.callgrind else None
    rows = collect(doc)
    print(table(rows, counts))
    print()
    print(peer_table(rows, counts))
    print()
    print(text_sizes(args.binary))


if __name__ == "__main__":
    main()
