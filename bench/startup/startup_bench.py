#!/usr/bin/env python3
"""Start-up time as a user waits for it, against a peer in the same run.

    bench/startup/startup_bench.py BUILD_DIR [--runs N]

On an X server of its own (Xvfb), the bench starts, alternately:

- the workbench (app/tarnwick) as scripts/run starts it, with the demo server
  (a tds-testserver the bench starts) preset in its settings, which are kept
  in a scratch folder (TARNWICK_CONFIG_DIR), and the server search pointed at
  that server's browser port (TARNWICK_DISCOVERY); it is ready when its
  connection dialog is;
- DB Browser for SQLite (Debian's sqlitebrowser, a Qt database browser) with
  a scratch configuration; it is ready when its main window is.

bench-startup-probe starts each program and times, from just before the
program is executed: the window mapped, its contents first drawn, and the
program answering an event sent after that (ready for input). The programs,
the server and the X server are stopped by their process ids.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

STEPS = ("mapped", "painted", "ready")


def start_xvfb():
    for n in range(140, 200):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            break
    else:
        sys.exit("no free X display number")
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while not os.path.exists(f"/tmp/.X11-unix/X{n}"):
        if xvfb.poll() is not None or time.monotonic() > deadline:
            xvfb.kill()
            sys.exit("Xvfb did not start")
        time.sleep(0.05)
    return xvfb, f":{n}"


def start_demo_server(build, data):
    server = subprocess.Popen(
        [os.path.join(build, "testserver", "tds-testserver"), "--data", data, "--port", "0",
         "--browser-port", "0", "--sample", "--login", "sa:Musterfirma2005"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    # "ready 127.0.0.1:PORT browser 127.0.0.1:BPORT"
    words = server.stdout.readline().split()
    if len(words) < 4 or words[0] != "ready":
        server.kill()
        sys.exit(f"tds-testserver did not start: {words}")
    return server, words[1].split(":")[1], words[3]


def stop(process):
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def probe(build, title, command, env):
    out = subprocess.run([os.path.join(build, "bench", "startup", "bench-startup-probe"), title]
                         + command, env=env, capture_output=True, text=True, timeout=120)
    if out.returncode != 0:
        raise RuntimeError(f"{command[0]}: {out.stderr.strip()}")
    values = dict(word.split("=") for word in out.stdout.split())
    return {step: float(values[f"{step}_ms"]) for step in STEPS}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=11)
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    with tempfile.TemporaryDirectory() as scratch:
        xvfb, display = start_xvfb()
        server = None
        try:
            server, port, browser = start_demo_server(build, os.path.join(scratch, "data"))
            base = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_"))}
            runtime = os.path.join(scratch, "runtime")
            os.mkdir(runtime, 0o700)
            base.update(DISPLAY=display, XDG_RUNTIME_DIR=runtime)

            ours_env = dict(base, TARNWICK_CONFIG_DIR=os.path.join(scratch, "tarnwick"),
                            TARNWICK_DISCOVERY=f"127.0.0.1:{browser}")
            settings = os.path.join(build, "scripts", "settings", "tarnwick-settings")
            key = "Software\\Kestrune\\Quorlin"
            for name, value in (("MSSQLServer", f"127.0.0.1,{port}"), ("MSSQLUser", "sa"),
                                ("MSSQLAuthentification", "0")):
                subprocess.run([settings, "set", key, name, value], env=ours_env, check=True)
            peer_env = dict(base, XDG_CONFIG_HOME=os.path.join(scratch, "peer-config"),
                            XDG_DATA_HOME=os.path.join(scratch, "peer-data"),
                            XDG_CACHE_HOME=os.path.join(scratch, "peer-cache"))

            programs = {
                "tarnwick (connection dialog)":
                    ("Verbinden mit MSSQL-Server", [os.path.join(build, "app", "tarnwick")],
                     ours_env),
                "sqlitebrowser (main window)":
                    ("DB Browser for SQLite", ["sqlitebrowser"], peer_env),
            }
            times = {name: [] for name in programs}
            for run in range(args.runs + 1):  # the first round warms the file cache
                for name, (title, command, env) in programs.items():
                    measured = probe(build, title, command, env)
                    if run > 0:
                        times[name].append(measured)
        finally:
            if server:
                stop(server)
            stop(xvfb)

    medians = {name: {step: statistics.median(t[step] for t in runs) for step in STEPS}
               for name, runs in times.items()}
    print(f"median of {args.runs} alternating runs, ms from exec  "
          + "  ".join(f"{step:>8}" for step in STEPS))
    for name, median in medians.items():
        print(f"{name:46}" + "  ".join(f"{median[step]:8.1f}" for step in STEPS))
    ours, peer = medians.values()
    print("ratio tarnwick / sqlitebrowser               "
          + "  ".join(f"{ours[step] / peer[step]:8.2f}" for step in STEPS))
    print(f"ready for input: {ours['ready'] / peer['ready']:.2f} x the peer (goal: at most 0.60)")


if __name__ == "__main__":
    main()
