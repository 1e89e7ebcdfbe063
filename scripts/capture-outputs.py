#!/usr/bin/env python3
"""What tuvactl's board commands print, captured for a before-and-after comparison.

    scripts/capture-outputs.py BUILD_DIR OUT_DIR

Each case powers up simulated boards (tuva-sim), runs one tuvactl command on them with standard
error on a pseudo-terminal (so that the progress line is drawn) and standard output on a pipe, and
keeps NAME.out, NAME.err (bytes as the terminal received them) and NAME.rc in OUT_DIR. Compare two
runs with `diff -r`. Lines that carry a time or a folder of the run are made steady first.
"""
import os
import pty
import re
import subprocess
import sys
import tempfile
import time

build, out_dir = os.path.abspath(sys.argv[1]), sys.argv[2]
tuvactl = os.path.join(build, "src/cli/tuvactl")
sim = os.path.join(build, "src/sim/tuva-sim")
os.makedirs(out_dir, exist_ok=True)
work = tempfile.mkdtemp()


def start_sim(*options):
    log = tempfile.TemporaryFile("w+", dir=work)
    process = subprocess.Popen([sim, *options], stdout=log, stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while time.time() < deadline:
        log.seek(0)
        line = log.readline()
        if line.endswith("\n"):
            return process, line.strip()
        time.sleep(0.05)
    process.kill()
    raise SystemExit("tuva-sim did not start")


def steady(data):
    data = data.replace(work.encode(), b"WORK")
    data = re.sub(rb"/dev/pts/\d+", b"/dev/pts/N", data)
    data = re.sub(rb"  \d+\.\d+(\r?\n)", rb"  T\1", data)
    return re.sub(rb"\d+\.\d+ ?s\b", b"T s", data)


def run(name, arguments, sims=()):
    processes, ports = [], []
    for options in sims:
        process, port = start_sim(*options)
        processes.append(process)
        ports += ["--port", port]
    master, slave = pty.openpty()
    process = subprocess.Popen([tuvactl, *arguments, *ports], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=slave, cwd=work)
    os.close(slave)
    err = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the program has ended and closed the terminal
            break
        if not chunk:
            break
        err += chunk
    out = process.stdout.read()
    rc = process.wait(timeout=60)
    out, err = steady(out), steady(err)
    if name.startswith("series"):  # the ports end in any order
        out = b"".join(sorted(out.splitlines(keepends=True)))
    os.close(master)
    for process in processes:
        process.terminate()
        process.wait()
    for suffix, data in ((".out", out), (".err", err), (".rc", str(rc).encode())):
        with open(os.path.join(out_dir, name + suffix), "wb") as file:
            file.write(data)


def path(name):
    return os.path.join(work, name)


subprocess.run([tuvactl, "new", path("new.tbl")], check=True)
subprocess.run([tuvactl, "set", path("new.tbl"), "capcode.1.address=1500000"], check=True,
               stdout=subprocess.DEVNULL)
with open(path("code.bin"), "wb") as file:
    file.write(bytes(range(256)) * 16)
with open(path("id.bin"), "wb") as file:
    file.write(b"FLEX  V02.50")
subprocess.run(["srec_cat", path("code.bin"), "-binary", "-offset", "0xE0000", path("id.bin"),
                "-binary", "-offset", "0xEFFE0", "-o", path("code.s28"), "-motorola",
                "-address-length=3"], check=True)

silent = [["--silent"]]
run("read", ["read", path("read.tbl")], [[]])
run("read-copy1", ["read", path("read1.tbl")], [["--corrupt-copy0"]])
run("read-password", ["read", path("readp.tbl"), "--password", "secret"],
    [["--read-password", "secret"]])
run("read-password-wrong", ["read", path("readw.tbl"), "--password", "other"],
    [["--read-password", "secret"]])
run("read-none", ["read", path("none.tbl")], silent)
run("write", ["write", path("new.tbl")], [[]])
run("write-erased-unasked", ["write", path("new.tbl")], [["--erased"]])
run("write-erased-yes", ["write", path("new.tbl"), "--yes"], [["--erased"]])
run("write-pocsag", ["write", path("new.tbl")], [["--pocsag"]])
run("write-refused", ["write", path("new.tbl")], [["--refuse-write"]])
run("write-corrupt", ["write", path("new.tbl")], [["--corrupt-write", "2:5"]])
run("write-none", ["write", path("new.tbl")], silent)
run("verify", ["verify", path("read.tbl")], [[]])
run("verify-differs", ["verify", path("new.tbl")], [[]])
run("verify-none", ["verify", path("new.tbl")], silent)
run("firmware", ["firmware"], [[]])
run("firmware-pocsag", ["firmware"], [["--pocsag"]])
run("firmware-erased-id", ["firmware"], [["--erased-id"]])
run("firmware-none", ["firmware"], silent)
run("fw-verify-differs", ["fw-verify", path("code.s28")], [[]])
run("fw-program", ["fw-program", path("code.s28"), "--yes"], [[]])
run("fw-program-pocsag", ["fw-program", path("code.s28"), "--yes"], [["--pocsag"]])
run("fw-program-unasked", ["fw-program", path("code.s28")], [[]])
run("fw-program-none", ["fw-program", path("code.s28"), "--yes"], silent)
run("series", ["series", path("new.tbl"), "--capcode", "1=1500000", "--count", "2",
               "--new-records", "--records", path("series.sqlite")], [[], []])
run("series-verify-firmware",
    ["series", path("new.tbl"), "--capcode", "1=1600000", "--count", "2", "--verify",
     "--firmware", path("code.s28"), "--new-records", "--records", path("series2.sqlite")],
    [[], []])
