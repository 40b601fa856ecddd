#!/usr/bin/env python3
"""Compaction benchmark: tessmark-cli compact against the physical limit (cp)
and a peer that only reads the same data (mdb-export of every table).

A compaction must leave its copy on stable storage before it reports
success; cp only hands its copy to the page cache. So beside plain cp the
durable copy is timed too: cp followed by a flush of the copy to disk (sync
FILE), the least any tool that keeps its output safe must spend.

Builds the release preset first (unless --no-build). For every size it
generates a server catalog aged as the desktop product ages one: 40% of its
rows deleted after they were written (their bytes left as free space, runs
of them freeing whole pages), 1% moved, long values rewritten, index leaves
split and thinned (kept between runs in the data folder), then runs the contenders in alternating order
so that drift of the machine hits all of them alike; each round goes over
every size, so drift hits the sizes alike too. Page-cache state: "warm"
runs read a file that was just read; "cold" runs drop the page cache first,
which needs root and a writable /proc/sys/vm/drop_caches (otherwise the cold
variant is skipped and the report says so).

Prints a table of medians, with the size of the compacted file and the share
of the input it reclaimed, and writes the same figures as JSON.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(argv, stdout=subprocess.DEVNULL):
    """Runs one command; returns wall, user and system seconds and peak RSS in MiB.

    The command runs under /usr/bin/time, which forks it from a small process:
    a child forked from this Python interpreter would inherit its resident
    high-water mark and report at least that much.
    """
    with tempfile.NamedTemporaryFile("r", suffix=".time") as stats:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", stats.name] + argv,
                              stdout=stdout, stderr=subprocess.PIPE)
        wall = time.perf_counter() - start
        if proc.returncode != 0:
            raise SystemExit(f"{' '.join(argv)} failed with {proc.returncode}: "
                             f"{proc.stderr.decode(errors='replace').strip()}")
        user, system, max_kb = stats.read().split()[-3:]
    return wall, float(user), float(system), int(max_kb) / 1024.0


def drop_caches():
    try:
        os.sync()
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        return True
    except OSError:
        return False


def warm(path):
    with open(path, "rb") as f:
        while f.read(1 << 24):
            pass


def tables_of(db):
    out = subprocess.run(["mdb-tables", "-1", db], check=True, capture_output=True, text=True)
    return [t for t in out.stdout.splitlines() if t]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sizes", default="128MB,256MB,512MB,1GB")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--cli", default=os.path.join(ROOT, "build", "release", "cli", "tessmark-cli"))
    ap.add_argument("--data", default=os.path.join(ROOT, "build", "bench", "data"))
    ap.add_argument("--json", default=os.path.join(ROOT, "build", "bench", "results.json"))
    ap.add_argument("--no-export", action="store_true", help="skip the mdb-export peer")
    ap.add_argument("--no-build", action="store_true",
                    help="use --cli as it is instead of building the release preset first")
    args = ap.parse_args()

    if not args.no_build:
        for step in (["cmake", "--preset", "release"],
                     ["cmake", "--build", "--preset", "release", "--target", "tessmark-cli"]):
            subprocess.run(step, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)

    os.makedirs(args.data, exist_ok=True)
    cold_ok = drop_caches()
    if not cold_ok:
        print("note: the page cache cannot be dropped here; cold-cache runs are skipped", file=sys.stderr)
    if not args.no_export and shutil.which("mdb-export") is None:
        print("note: mdb-export is not installed; the peer comparison is skipped", file=sys.stderr)
        args.no_export = True

    sizes = args.sizes.split(",")
    sources = {}
    for size_text in sizes:
        src = os.path.join(args.data, f"server-{size_text}-aged-deleted40-moved1.mdb")
        if not os.path.exists(src):
            print(f"generating {src}", file=sys.stderr)
            wall, *_ = run([args.cli, "generate", "--kind", "server", "--size", size_text,
                            "--deleted", "40%", "--moved", "1%", "--seed", "1", src])
            print(f"  generated in {wall:.1f} s", file=sys.stderr)
        sources[size_text] = src
    dst = os.path.join(args.data, "compacted.mdb")
    copy = os.path.join(args.data, "copy.mdb")
    tables = {} if args.no_export else {src: tables_of(src) for src in sources.values()}
    compacted_bytes = {}

    def compact(src):
        if os.path.exists(dst):
            os.remove(dst)
        r = run([args.cli, "compact", "--quiet", src, dst])
        compacted_bytes[src] = os.path.getsize(dst)
        os.remove(dst)
        return r

    def cp(src):
        r = run(["cp", src, copy])
        os.remove(copy)
        return r

    def durable_cp(src):
        r = run(["sh", "-c", 'cp -- "$0" "$1" && sync -- "$1"', src, copy])
        os.remove(copy)
        return r

    def export(src):
        wall = user = system = rss = 0.0
        for t in tables[src]:
            w, u, s, m = run(["mdb-export", src, t])
            wall, user, system, rss = wall + w, user + u, system + s, max(rss, m)
        return wall, user, system, rss

    contenders = [("compact", compact), ("cp", cp), ("cp+sync", durable_cp)] + \
        ([] if args.no_export else [("mdb-export", export)])
    # Rounds go over every size in turn, so that drift of the machine during
    # the run hits all sizes alike and the growth from one size to the next
    # is measured as fairly as the ratios within a size.
    samples = {s: {} for s in sizes}
    for i in range(args.runs):
        for size_text in sizes:
            src = sources[size_text]
            order = contenders if i % 2 == 0 else list(reversed(contenders))
            for name, fn in order:
                warm(src)
                # What the previous run wrote goes to disk first, not during
                # the next one.
                os.sync()
                samples[size_text].setdefault(name + "/warm", []).append(fn(src))
                if cold_ok and name != "mdb-export":
                    drop_caches()
                    samples[size_text].setdefault(name + "/cold", []).append(fn(src))
        print(f"round {i + 1} of {args.runs} done", file=sys.stderr)

    results = []
    for size_text in sizes:
        row = {"size": size_text, "bytes": os.path.getsize(sources[size_text]),
               "compacted_bytes": compacted_bytes[sources[size_text]]}
        row["reclaimed"] = 1 - row["compacted_bytes"] / row["bytes"]
        for key, vals in samples[size_text].items():
            row[key] = {
                "wall_s": statistics.median(v[0] for v in vals),
                "cpu_s": statistics.median(v[1] + v[2] for v in vals),
                "user_s": statistics.median(v[1] for v in vals),
                "sys_s": statistics.median(v[2] for v in vals),
                "peak_rss_mib": max(v[3] for v in vals),
                "runs": len(vals),
            }
        results.append(row)
        print_row(row)

    for prev, cur in zip(results, results[1:]):
        cur["growth"] = cur["compact/warm"]["wall_s"] / prev["compact/warm"]["wall_s"]
    print_table(results)
    print_growth(results)
    os.makedirs(os.path.dirname(args.json), exist_ok=True)
    with open(args.json, "w") as f:
        json.dump({"cold_cache": cold_ok, "results": results}, f, indent=2)
    print(f"\nwritten: {args.json}")


def print_row(row):
    parts = [f"{row['size']}:"]
    for key in sorted(k for k in row if "/" in k):
        parts.append(f"{key} {row[key]['wall_s']:.2f}s ({row[key]['peak_rss_mib']:.0f} MiB)")
    print("  ".join(parts), file=sys.stderr)


def print_table(results):
    head = f"{'size':>7} {'MB':>7} {'out MB':>7} {'reclaim':>7} {'compact':>8} {'cp':>7} {'c/cp':>6} {'cold c/cp':>9} " \
           f"{'cp+sync':>8} {'c/cp+sync':>9} {'export':>8} {'c/exp':>6} {'RSS MiB':>8} {'s/GB':>6} {'growth':>6}"
    print(head)
    print("-" * len(head))
    for r in results:
        c, p = r["compact/warm"], r["cp/warm"]
        cold = (f"{r['compact/cold']['wall_s'] / r['cp/cold']['wall_s']:9.2f}"
                if "compact/cold" in r else f"{'-':>9}")
        exp = r.get("mdb-export/warm")
        durable = r["cp+sync/warm"]
        print(f"{r['size']:>7} {r['bytes'] / 1e6:7.0f} {r['compacted_bytes'] / 1e6:7.0f} "
              f"{r['reclaimed']:7.1%} {c['wall_s']:8.2f} {p['wall_s']:7.2f} "
              f"{c['wall_s'] / p['wall_s']:6.2f} {cold} "
              f"{durable['wall_s']:8.2f} {c['wall_s'] / durable['wall_s']:9.2f} "
              f"{(exp['wall_s'] if exp else float('nan')):8.2f} "
              f"{(c['wall_s'] / exp['wall_s'] if exp else float('nan')):6.2f} "
              f"{max(c['peak_rss_mib'], r.get('compact/cold', c)['peak_rss_mib']):8.0f} "
              f"{c['wall_s'] / (r['bytes'] / (1 << 30)):6.2f} "
              f"{r.get('growth', float('nan')):6.2f}")


def print_growth(results):
    """Growth from each size to the next for every contender, and for the
    compaction's user and system time apart: a step the peers take as
    steeply points at the machine rather than the engine."""
    if len(results) < 2:
        return
    keys = [k for k in ("compact/warm", "cp/warm", "cp+sync/warm", "mdb-export/warm")
            if all(k in r for r in results)]
    print("\ngrowth per step (warm): " + ", ".join(k.split("/")[0] for k in keys) +
          ", compact user time, compact system time")
    for prev, cur in zip(results, results[1:]):
        cells = [f"{cur[k]['wall_s'] / prev[k]['wall_s']:5.2f}" for k in keys]
        for part in ("user_s", "sys_s"):
            a, b = prev["compact/warm"][part], cur["compact/warm"][part]
            cells.append(f"{b / a:5.2f}" if a > 0 else "    -")
        print(f"{prev['size']:>7} -> {cur['size']:<7} " + " ".join(cells))


if __name__ == "__main__":
    main()
