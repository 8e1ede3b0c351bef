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


MODULES_PER_EMULATOR = 16  # modules one module-emulator process serves in a large bench
# The emulators stand for modules that keep their time whatever the computer does: they run
# ahead of other work when the system allows it (they use little processor time).
EMULATOR_NICE = -10


def raise_priority():
    try:
        os.nice(EMULATOR_NICE)
    except OSError:
        pass  # not permitted: the emulator runs at the bench's own priority


class Emulator:
    """module-emulator processes serving the given module specs, at most `per_process`
    modules each (a large bench spread over several processes keeps each one on time on
    a small machine), with one port map in `folder`/ports. `slow_replies` (milliseconds)
    makes every emulator late on purpose."""

    def __init__(self, folder, specs, pace=None, extra=(), per_process=MODULES_PER_EMULATOR,
                 slow_replies=None):
        self.ports = os.path.join(folder, "ports")
        self.processes = []
        self.dumps = []
        for first in range(0, max(len(specs), 1), per_process):
            dump = os.path.join(folder, "dump-%d.json" % len(self.dumps))
            args = [binary("module-emulator"), "--port-map", self.ports, "--dump", dump]
            if pace:
                args += ["--pace", str(pace)]
            if slow_replies:
                args += ["--slow-replies", str(slow_replies)]
            for spec in specs[first:first + per_process]:
                args += ["--module", spec]
            args += list(extra)
            # Its standard error goes to a file, so that its line about late replies (which
            # the bench reports from the dump) does not come in between the bench's own.
            with open(dump + ".err", "w") as errors:
                process = subprocess.Popen(args, stdout=subprocess.PIPE,
                                           stdin=subprocess.DEVNULL, stderr=errors, text=True,
                                           preexec_fn=raise_priority)
            self.processes.append(process)
            self.dumps.append(dump)
            self.nice = os.getpriority(os.PRIO_PROCESS, process.pid)
            for line in process.stdout:
                if line.strip() == "ready":
                    break
            else:
                self.stop()
                sys.exit("module-emulator did not start")

    def stop(self):
        """Ends every emulator; their dumps as one: every module, and the late replies."""
        merged = {"modules": []}
        for process in self.processes:
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process, dump in zip(self.processes, self.dumps):
            process.wait(timeout=10)
            with open(dump + ".err") as f:
                for line in f:
                    if not line.startswith("module-emulator: emulator late: "):
                        sys.stderr.write(line)
            if os.path.exists(dump):
                with open(dump) as f:
                    merged["modules"] += json.load(f)["modules"]
        return merged


class Late:
    """Replies the emulator sent later than a real module would (the machine starved it):
    what a loader did then says nothing about the loader."""

    def __init__(self, modules):
        late = [m["replies"] for m in modules if m["replies"]["late"]]
        self.replies = sum(r["late"] for r in late)
        self.worst_ms = max((r["worst_ms"] for r in late), default=0.0)
        self.coms = {m["com"] for m in modules if m["replies"]["late"]}

    def __bool__(self):
        return self.replies > 0

    def __str__(self):
        return "emulator late: %d replies, worst %.1f ms" % (self.replies, self.worst_ms)


def load():
    """The machine's load averages, for the figures taken under them."""
    return "load average %.2f, %.2f, %.2f" % os.getloadavg()


def temp_folder():
    return tempfile.TemporaryDirectory(prefix="downloader-bench-")


def report(figures):
    """Prints the figures last, one per line: name value."""
    for name, value in figures:
        print("%s %s" % (name, value))
