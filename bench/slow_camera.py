#!/usr/bin/env python3
"""One camera's download as the downloads benchmark plays it: GET the file
and read it at a fixed rate from its first byte on (a camera writing flash),
with a small receive buffer so that the kernel does not read ahead for it.
Prints the body's SHA-256, or fails after TIMEOUT seconds in all. SOURCE is
the camera's own address to connect from (one the host has), so that each
camera is one address, as the server admits cameras by address.

  slow_camera.py HOST PORT NAME BYTES_PER_SECOND [TIMEOUT [SOURCE]]
"""
import hashlib
import socket
import sys
import time

host, port, name, rate = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4])
timeout = float(sys.argv[5]) if len(sys.argv) > 5 else 300.0
source = sys.argv[6] if len(sys.argv) > 6 else None
deadline = time.monotonic() + timeout
s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 256 * 1024)
if source:
    s.bind((source, 0))
s.settimeout(timeout)
s.connect((host, port))
s.sendall(f"GET /{name} HTTP/1.1\r\nHost: {host}:{port}\r\nConnection: close\r\n\r\n".encode())
head, body, start, got = b"", hashlib.sha256(), None, 0
while True:
    s.settimeout(max(0.1, deadline - time.monotonic()))
    chunk = s.recv(65536)
    if not chunk:
        break
    if start is None:
        start = time.monotonic()
    if head is not None:
        head += chunk
        if b"\r\n\r\n" not in head:
            continue
        head, chunk = head.split(b"\r\n\r\n", 1)
        if not head.startswith(b"HTTP/1.1 200"):
            sys.exit("not 200: " + head.split(b"\r\n")[0].decode(errors="replace"))
        head = None
    body.update(chunk)
    got += len(chunk)
    ahead = got / rate - (time.monotonic() - start)
    if ahead > 0:
        time.sleep(ahead)
    if time.monotonic() > deadline:
        sys.exit("timed out")
print(body.hexdigest())
