"""pyserial's RFC 2217 server (serial.rfc2217.PortManager) in front of a loop-back port:
whatever the client sends comes back, and DSR follows DTR. Serves one client on 127.0.0.1,
prints its TCP port first, and ends when the client goes.

usage: /usr/bin/python3 pyserial_server.py
"""
import signal
import socket
import threading

import serial
import serial.rfc2217

signal.alarm(30)

loop = serial.serial_for_url("loop://", timeout=0.01)
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(1)
print(listener.getsockname()[1], flush=True)
connection, _ = listener.accept()
connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
alive = True


class Writer:
    lock = threading.Lock()

    def write(self, data):
        with self.lock:
            connection.sendall(data)


manager = serial.rfc2217.PortManager(loop, Writer())


def loop_to_network():
    while alive:
        data = loop.read(loop.in_waiting or 1)
        if data:
            Writer().write(b"".join(manager.escape(data)))
        manager.check_modem_lines()


thread = threading.Thread(target=loop_to_network, daemon=True)
thread.start()
while True:
    try:
        data = connection.recv(1024)
    except OSError:
        break
    if not data:
        break
    loop.write(b"".join(manager.filter(data)))
alive = False
thread.join()
