#!/usr/bin/env python3
"""An emulated network link in front of a loopback server, for the benchmarks: every
connection to 127.0.0.1:LISTEN is forwarded to 127.0.0.1:TARGET; what the client sends
is held for DELAY_MS (one-way latency) and what the server answers is paced to RATE
bytes per second per connection. Usage: slowlink.py LISTEN TARGET RATE DELAY_MS"""
import socket
import sys
import threading
import time

LISTEN, TARGET, RATE, DELAY = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]) / 1000.0
CHUNK = 65536


def pump(src, dst, paced):
    # Each chunk leaves when the link has carried the ones before it; an idle link saves no credit.
    free_at = time.monotonic()
    try:
        while True:
            data = src.recv(CHUNK)
            if not data:
                break
            now = time.monotonic()
            if paced:
                free_at = max(free_at, now) + len(data) / RATE
                time.sleep(max(0.0, free_at - now))
            else:
                time.sleep(DELAY)
            dst.sendall(data)
    except OSError:
        pass
    for sock in (src, dst):
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(client):
    upstream = socket.create_connection(("127.0.0.1", TARGET))
    for sock in (client, upstream):
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    threading.Thread(target=pump, args=(client, upstream, False), daemon=True).start()
    pump(upstream, client, True)
    client.close()
    upstream.close()


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", LISTEN))
listener.listen(16)
print("ready", flush=True)
while True:
    conn, _ = listener.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
