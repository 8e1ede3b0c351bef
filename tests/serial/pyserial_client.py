"""pyserial's RFC 2217 client against one emulated module of type 5, variant 24, v1.3,
with the RTS-to-DSR loopback. Prints "ok" when every check holds.

usage: /usr/bin/python3 pyserial_client.py TCP_PORT
"""
import signal
import sys
import time

import serial

signal.alarm(20)


def wait_for(condition):
    deadline = time.monotonic() + 2
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


port = serial.serial_for_url("rfc2217://127.0.0.1:%s" % sys.argv[1], 9600, timeout=0.5)
port.rts = False
assert wait_for(lambda: not port.dsr), "DSR stays on with RTS off"
port.rts = True
assert wait_for(lambda: port.dsr), "DSR does not follow RTS"
port.rts = False

# The reset pulse, then the identification exchange of type 5.
port.dtr = True
port.break_condition = True
time.sleep(0.002)
port.dtr = False
time.sleep(0.05)
port.break_condition = False
port.reset_input_buffer()
port.write(b"\x91")
answer = port.read(2)
assert answer == b"\x91\xb4", answer.hex()
# A code byte of another type is echoed and not answered.
port.write(b"\x83")
answer = port.read(2)
assert answer == b"\x83", answer.hex()
port.close()
print("ok")
