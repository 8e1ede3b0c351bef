#!/usr/bin/python3
"""A master program for the pipe-mode tests, driven by its environment.

MASTER_COMMANDS  JSON list of command lines, sent one at a time; after each, the
                 master reads status lines until one ends in EOT (or a second passes).
MASTER_LOG       file that receives a JSON report: the bytes received per command
                 (latin-1), and what happened at the end.
MASTER_END       "close": close standard output, then read standard input to its end and
                 record whether end of file came (default); "exit": just exit.
"""
import json
import os
import select
import sys
import time


def read_reply(fd, limit=5.0):
    data = b""
    deadline = time.monotonic() + limit
    while not data.endswith(b"\x04"):
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            break
        chunk = os.read(fd, 4096)
        if not chunk:
            break
        data += chunk
    return data


def main():
    commands = json.loads(os.environ.get("MASTER_COMMANDS", "[]"))
    log = {"replies": [], "end": None}
    for command in commands:
        try:
            os.write(1, command.encode("latin-1"))
        except BrokenPipeError:
            pass  # the loader has ended; its reply stays empty
        log["replies"].append(read_reply(0).decode("latin-1"))
    if os.environ.get("MASTER_END", "close") == "close":
        try:
            os.close(1)
        except OSError:
            pass
        rest = b""
        ready, _, _ = select.select([0], [], [], 10.0)
        while ready:
            chunk = os.read(0, 4096)
            if not chunk:
                log["end"] = "eof"
                break
            rest += chunk
            ready, _, _ = select.select([0], [], [], 10.0)
        else:
            log["end"] = "timeout"
        log["after"] = rest.decode("latin-1")
    with open(os.environ["MASTER_LOG"], "w") as f:
        json.dump(log, f)


main()
