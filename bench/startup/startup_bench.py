#!/usr/bin/env python3
"""Time from process start to the first paint of the main window (offscreen),
compared with a minimal Qt window program in the same run.

    bench/startup/startup_bench.py [BUILD_DIR] [--runs N]

Each program prints the wall clock when its window's first paint pass is
complete (every control drawn and flushed, see firstpaint.h) and ends; the
two are started alternately, and the medians are compared.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def first_paint_ms(exe, env):
    start = time.time_ns()
    out = subprocess.run([exe], env=env, capture_output=True, text=True, timeout=60)
    for line in out.stdout.splitlines():
        if line.startswith("painted "):
            return (int(line.split()[1]) - start) / 1e6
    raise RuntimeError(f"{exe} printed no paint time: {out.stdout!r} {out.stderr!r}")


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(root, "build"))
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()

    bench = os.path.join(args.build, "bench", "startup")
    minimal = os.path.join(bench, "bench_startup_minimal")
    workbench = os.path.join(bench, "bench_startup_workbench")
    for exe in (minimal, workbench):
        if not os.access(exe, os.X_OK):
            sys.exit(f"missing {exe}: build the bench_startup_* targets first")

    with tempfile.TemporaryDirectory() as config:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TARNWICK_CONFIG_DIR=config)
        # One run each to warm the file cache.
        first_paint_ms(minimal, env)
        first_paint_ms(workbench, env)
        base, ours = [], []
        for _ in range(args.runs):
            base.append(first_paint_ms(minimal, env))
            ours.append(first_paint_ms(workbench, env))

    b, o = statistics.median(base), statistics.median(ours)
    print(f"minimal Qt window : {b:7.1f} ms (median of {args.runs})")
    print(f"tarnwick workbench: {o:7.1f} ms (median of {args.runs})")
    print(f"ratio             : {o / b:.2f}x (goal: below 1.5x)")


if __name__ == "__main__":
    main()
