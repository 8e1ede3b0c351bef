"""Shared pieces of the benchmarks: the build's binaries, images and emulated modules."""
import json
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.environ.get("DOWNLOADER_BIN", os.path.join(ROOT, "build", "bin"))
BYTE_TIME = 10.0 / 9600.0  # seconds a byte takes on a 9,600-baud line (start, 8 data, stop)
RESET_PULSE = 0.054        # DTR and BREAK pulse before every identification exchange


def binary(name):
    path = os.path.join(BIN, name)
    if not os.access(path, os.X_OK):
        sys.exit("%s not found: build first (cmake --preset default && cmake --build --preset default)" % path)
    return path


def headless_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(extra)
    return env


def make_image(folder, target, slots, packets, name="bench.obj"):
    """Builds an image of `slots` slots of `packets` random packets each."""
    rng = random.Random(1234)
    description = {
        "target_device": target,
        "company": "Bench Co",
        "firmware": "bench",
        "compile_time": "2026-01-01T12:00:00",
        "slots": [{"packets": [bytes(rng.randrange(256) for _ in range(18)).hex()
                               for _ in range(packets)]} for _ in range(slots)],
    }
    desc = os.path.join(folder, name + ".json")
    with open(desc, "w") as f:
        json.dump(description, f)
    out = os.path.join(folder, name)
    subprocess.run([binary("objtool"), "make", desc, "-o", out], check=True,
                   stdout=subprocess.DEVNULL)
    return out


class Emulator:
    """module-emulator with the given module specs, its port map in `folder`/ports."""

    def __init__(self, folder, specs, pace=None, extra=()):
        self.ports = os.path.join(folder, "ports")
        self.dump = os.path.join(folder, "dump.json")
        args = [binary("module-emulator"), "--port-map", self.ports, "--dump", self.dump]
        if pace:
            args += ["--pace", str(pace)]
        for spec in specs:
            args += ["--module", spec]
        args += list(extra)
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                                        text=True)
        for line in self.process.stdout:
            if line.strip() == "ready":
                break
        else:
            sys.exit("module-emulator did not start")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)
        with open(self.dump) as f:
            return json.load(f)


def temp_folder():
    return tempfile.TemporaryDirectory(prefix="downloader-bench-")


def report(figures):
    """Prints the figures last, one per line: name value."""
    for name, value in figures:
        print("%s %s" % (name, value))
