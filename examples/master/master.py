#!/usr/bin/python3
"""An example master program for the loader's pipe mode.

Start it through the loader:

    IMAGE=/path/to/prog.obj downloader /Pipe /path/to/master.py

It sends "/GetInfo IMAGE", then "/NoPrompts /Updates IMAGE"; or, when MASTER_COMMANDS is
set, its command lines, separated by semicolons ("/GetInfo a.obj;/COM11 /NoPrompts a.obj").

The loader starts this program with its standard input and output on two pipes:
  - what this program writes to standard output is one command line per write, the same
    switches and file name as on the loader's command line (no CR LF at the end);
  - every status line of the loader arrives on standard input, framed as
    SOH, a prefix ("ERR:", "INF:" or "EVT:"), the message text, CR LF, and an EOT byte
    after the line when the message number is 100 or less (the request is over).
Standard error is shared with the loader, so this program prints there.

Send the next command line only after the final (EOT) line of the previous one: two
command lines that reach the pipe before the loader reads are taken as one. Closing
standard output (or exiting) ends the loader.
"""
import os
import sys

SOH, EOT = b"\x01", b"\x04"


def send(command):
    """Writes one command line in a single write."""
    os.write(1, command.encode())


def read_request_lines():
    """Reads status lines until a final one (followed by EOT); yields (prefix, text).

    A line ends at the CR LF that is followed by SOH (the next line) or EOT (the last of
    the request), so a text with line breaks of its own (an image's notes) stays one line.
    """
    pending = b""
    while True:
        end = next((at for at in range(len(pending) - 2)
                    if pending[at:at + 2] == b"\r\n" and pending[at + 2:at + 3] in (SOH, EOT)),
                   None)
        if end is None:
            chunk = os.read(0, 4096)
            if not chunk:
                return  # the loader has ended
            pending += chunk
            continue
        line, final = pending[:end], pending[end + 2:end + 3] == EOT
        pending = pending[end + (3 if final else 2):]
        if line.startswith(SOH):
            line = line[1:]
        text = line.decode("latin-1")
        yield text[:4], text[4:]
        if final:
            return


def main():
    image = os.environ.get("IMAGE", "prog.obj")
    commands = os.environ.get("MASTER_COMMANDS")
    if commands:
        commands = [c for c in commands.split(";") if c.strip()]
    else:
        commands = ["/GetInfo " + image, "/NoPrompts /Updates " + image]
    for command in commands:
        print("master> " + command, file=sys.stderr, flush=True)
        send(command)
        for prefix, text in read_request_lines():
            print("  " + prefix + " " + text.replace("\r\n", "\n      "), file=sys.stderr, flush=True)
    os.close(1)  # ends the loader


main()
