#!/usr/bin/env python3
"""A loopback HTTP/1.1 server that serves a published web root and misbehaves at random.

It listens on 127.0.0.1 as the application server and as one live CDN host, and keeps a third
port as a dead CDN host (nothing listening, a listener that never accepts, or one that accepts
and never answers). "/cdns.info" names the live and the dead CDN host. Each request draws its
fault from a seeded generator; the server counts every body byte it sends, by kind, so that a
test can hold the client to the bytes it needed.

Standalone: faultserver.py ROOT [--seed N] [--rate P]; prints the ports and serves until killed.
"""
import argparse
import gzip
import os
import random
import select
import socket
import socketserver
import threading
import time
from http.server import BaseHTTPRequestHandler

FILE_KINDS = {  # kind: weight, for GET of a file of the build
    "stall": 1.0, "close": 2.0, "5xx": 1.5, "408/429": 1.0, "wrong-range": 1.0,
    "ignored-range": 1.0, "gzip": 1.0, "redirect": 1.0, "corrupt": 0.6, "slow": 1.0,
    # a resume answered 200 with the whole body and no "Accept-Ranges: bytes", then cut
    "no-ranges-cut": 1.0,
    # a resume answered 206 with its Content-Range total but no Content-Length, whose body runs on
    "endless": 1.0,
}
SIZE_KINDS = {"slow-size": 3.0, "5xx": 1.0, "408/429": 1.0, "close": 1.0, "head-refused": 1.0}  # HEAD of a file
# version, build info, CDN list; "short": cut a few bytes in (the CDN list in the middle of a host name)
DOC_KINDS = {"5xx": 1.0, "close": 1.0, "redirect": 1.0, "gzip": 1.0, "short": 2.0}
ENDLESS_EXTRA = 1024 * 1024  # bytes an endless body runs on past the file before the server gives up
DEAD_MODES = ("closed", "blackhole", "silent")
CHUNK = 16 * 1024
SLOW_BYTES_PER_SECOND = 256 * 1024


class Response:
    """One answer as served: what was asked, what was sent, and whether a correct client may keep it."""

    def __init__(self, run, method, path, start, total, kind):
        self.run, self.method, self.path, self.start, self.total, self.kind = run, method, path, start, total, kind
        self.asked = start     # the first byte asked (start differs where the body is not from there)
        self.sent = 0          # body bytes of the file handed to the socket (an endless body's run-on not counted)
        self.extra = 0         # bytes sent past the file's end (endless)
        self.planned = 0       # body bytes this answer would carry whole
        self.valid = False     # identity bytes of the file from the asked offset, unaltered
        self.cut = False       # the server ended it early (close, stall)
        self.aborted = False   # the client went away before the body was sent whole
        self.document = False # the version, the build information or the CDN list
        self.began = time.monotonic()
        self.ended = None


class FaultServer:
    def __init__(self, root, seed, file_rate=0.4, size_rate=0.5, doc_rate=0.03, stall_hold=60.0):
        self.root = os.path.abspath(root)
        self.rng = random.Random(seed)
        self.file_rate, self.size_rate, self.doc_rate, self.stall_hold = file_rate, size_rate, doc_rate, stall_hold
        self.lock = threading.Lock()
        self.run = 0
        self.responses = []        # Response, in the order they began
        self.faults = {}           # kind -> times drawn
        self.dead_connections = 0  # connections the dead host accepted (silent mode)
        self.garbled = {}          # file path -> answers whose bytes a client cannot tell from the file's
        self.garbled_whole = []    # (run, file path) of each such answer sent whole
        self.head_refused = set()  # (run, file path) whose HEAD was refused: its next GET asks the size
        self.gzip_cache = {}
        self.enabled = True
        self.stopping = threading.Event()
        self.servers = []
        for _ in range(2):
            server = _ThreadingServer(("127.0.0.1", 0), _Handler)
            server.owner = self
            self.servers.append(server)
        self.app_port = self.servers[0].server_address[1]
        self.cdn_port = self.servers[1].server_address[1]
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        self.dead_port = probe.getsockname()[1]
        probe.close()
        self.dead_socket = None
        self.dead_mode = "closed"
        for server in self.servers:
            threading.Thread(target=server.serve_forever, daemon=True).start()

    # --- control, from the test's thread -------------------------------------------------

    def begin_run(self, number):
        """Starts run NUMBER: its answers are tagged with it; the dead host takes a new form."""
        with self.lock:
            self.run = number
            mode = self.rng.choice(DEAD_MODES)
        self.set_dead_mode(mode)
        return mode

    def set_dead_mode(self, mode):
        if self.dead_socket:
            self.dead_socket.close()
            self.dead_socket = None
        self.dead_mode = "closed"
        if mode == "closed":
            return
        sock = socket.socket()
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            sock.bind(("127.0.0.1", self.dead_port))
        except OSError:
            sock.close()  # the port was taken meanwhile: it stays refused
            return
        sock.listen(1 if mode == "blackhole" else 16)
        self.dead_socket, self.dead_mode = sock, mode
        if mode == "silent":
            threading.Thread(target=self._silent, args=(sock,), daemon=True).start()

    def _silent(self, sock):
        while True:
            try:
                conn, _ = sock.accept()
            except OSError:
                return
            with self.lock:
                self.dead_connections += 1
            threading.Thread(target=self._hold, args=(conn,), daemon=True).start()

    def _hold(self, conn, seconds=None):
        """Reads and never answers, until the client gives up (or the hold ends). A close reads too, as
        a web server does before it lets go: closing with requests the client sent ahead still unread
        would reset the connection, and the client's system would drop body bytes already sent to it."""
        deadline = time.monotonic() + (self.stall_hold if seconds is None else seconds)
        try:
            while time.monotonic() < deadline and not self.stopping.is_set():
                ready, _, _ = select.select([conn], [], [], 0.2)
                if ready and not conn.recv(65536):
                    break
        except OSError:
            pass
        conn.close()

    def stop(self):
        self.stopping.set()
        for server in self.servers:
            server.shutdown()
            server.server_close()
        if self.dead_socket:
            self.dead_socket.close()

    def snapshot(self):
        with self.lock:
            return list(self.responses), dict(self.faults), dict(self.garbled), self.dead_connections

    def garbled_whole_in(self, run):
        """File path -> wrong bodies of it sent whole in RUN."""
        with self.lock:
            counts = {}
            for r, p in self.garbled_whole:
                if r == run:
                    counts[p] = counts.get(p, 0) + 1
            return counts

    def garbled_whole_of(self, path):
        """Runs in which a wrong body of PATH was sent whole."""
        with self.lock:
            return {run for run, p in self.garbled_whole if p == path}

    # --- the handler's side ---------------------------------------------------------------

    def draw(self, table, rate, applicable):
        with self.lock:
            if not self.enabled or self.rng.random() >= rate:
                return "none"
            kinds = [k for k in table if applicable(k)]
            kind = self.rng.choices(kinds, [table[k] for k in kinds])[0] if kinds else "none"
            self.faults[kind] = self.faults.get(kind, 0) + 1
            return kind

    def rand(self, a, b):
        with self.lock:
            return self.rng.randint(a, b)

    def record(self, response):
        with self.lock:
            self.responses.append(response)

    def note_garbled(self, path):
        with self.lock:
            self.garbled[path] = self.garbled.get(path, 0) + 1

    def note_garbled_whole(self, run, path):
        with self.lock:
            self.garbled_whole.append((run, path))

    def gzipped(self, path, body):
        with self.lock:
            if path not in self.gzip_cache:
                self.gzip_cache[path] = gzip.compress(body, 6, mtime=0)
            return self.gzip_cache[path]


class _ThreadingServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        pass  # a client that goes away mid-request is part of the schedule


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        # A small send buffer keeps "sent" close to what the client could read.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 64 * 1024)

    @property
    def owner(self):
        return self.server.owner

    def do_HEAD(self):
        self.answer(False)

    def do_GET(self):
        self.answer(True)

    # One request: the resource, the fault drawn for it, the answer.
    def answer(self, with_body):
        owner = self.owner
        path = self.path.split("?", 1)[0]
        if path == "/cdns.info":
            body = ("127.0.0.1:%d 127.0.0.1:%d" % (owner.cdn_port, owner.dead_port)).encode()
        else:
            local = os.path.normpath(os.path.join(owner.root, path.lstrip("/")))
            if not local.startswith(owner.root + os.sep) or not os.path.isfile(local):
                return self.plain(404, b"not found")
            with open(local, "rb") as handle:
                body = handle.read()
        is_file = path.startswith("/wow_bfa/files/")
        start, end = 0, len(body) - 1
        asked = self.headers.get("Range")
        ranged = False
        if asked and asked.startswith("bytes="):
            first, _, last = asked[6:].partition("-")
            try:
                start = int(first)
                end = min(int(last), len(body) - 1) if last else len(body) - 1
                ranged = True
            except ValueError:
                return self.plain(400, b"bad range")
        gzip_ok = "gzip" in (self.headers.get("Accept-Encoding") or "")
        if not is_file:
            kind = owner.draw(DOC_KINDS, owner.doc_rate, lambda k: k != "gzip" or gzip_ok)
        elif not with_body:
            kind = owner.draw(SIZE_KINDS, owner.size_rate, lambda k: True)
        else:
            kind = owner.draw(FILE_KINDS, owner.file_rate, lambda k: (
                (k not in ("wrong-range", "ignored-range", "no-ranges-cut", "endless") or
                 (ranged and 0 < start < len(body))) and
                (k != "gzip" or gzip_ok)))
        response = Response(owner.run, self.command, path, start if ranged else 0, len(body), kind)
        # The GET that follows a refused HEAD asks the size: its body is never read, as a document's is no file.
        with owner.lock:
            size_get = with_body and (owner.run, path) in owner.head_refused
            # A size GET sent elsewhere stays one: the GET the redirect brings asks the size too.
            if not (size_get and kind == "redirect"):
                owner.head_refused.discard((owner.run, path))
            if kind == "head-refused" and not with_body:
                owner.head_refused.add((owner.run, path))
        response.document = not is_file or size_get
        owner.record(response)
        try:
            self.serve(response, body, ranged, start, end, kind, with_body)
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError, socket.timeout, OSError):
            response.aborted = not response.cut
            self.close_connection = True
        finally:
            response.ended = time.monotonic()

    def serve(self, response, body, ranged, start, end, kind, with_body):
        owner = self.owner
        if kind == "5xx":
            status = [500, 502, 503][owner.rand(0, 2)]
            return self.plain(status, b"server error", {"Retry-After": "1"} if status == 503 else None)
        if kind == "408/429":
            return self.plain([408, 429][owner.rand(0, 1)], b"try later", {"Retry-After": "1"})
        if kind == "redirect":
            other = owner.app_port if self.server is owner.servers[1] else owner.cdn_port
            self.send_response(302)
            self.send_header("Location", "http://127.0.0.1:%d%s" % (other, self.path))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if kind == "slow-size":
            time.sleep(owner.rand(200, 5000) / 1000.0)
        if kind == "head-refused" and not with_body:
            return self.plain(405, b"", {"Allow": "GET"})
        if ranged and start >= len(body):
            return self.plain(416, b"", {"Content-Range": "bytes */%d" % len(body)})
        encoding = None
        if kind == "gzip":
            body, encoding = owner.gzipped(response.path, body), "gzip"
            end = len(body) - 1
            if ranged and start >= len(body):
                return self.plain(416, b"", {"Content-Range": "bytes */%d" % len(body)})
            owner.note_garbled(response.path)
        if kind in ("ignored-range", "no-ranges-cut"):
            ranged, start, end = False, 0, len(body) - 1
        if kind == "wrong-range":
            # A 206 from another offset than the one asked for.
            shift = owner.rand(1, max(1, min(start, 65536)))
            start = start - shift
        part = body[start:end + 1]
        if kind == "corrupt" and part:
            part = bytearray(part)
            for _ in range(owner.rand(1, 4)):
                part[owner.rand(0, len(part) - 1)] ^= 0xFF
            part = bytes(part)
            owner.note_garbled(response.path)
        response.planned = len(part)
        response.valid = kind in ("none", "slow", "close", "stall", "slow-size", "head-refused", "short",
                                  "endless") and encoding is None
        if kind == "no-ranges-cut":
            response.start = 0  # the whole body: a client keeps what it had and reads past it
        self.send_response(206 if ranged else 200)
        self.send_header("Content-Type", "application/octet-stream")
        if kind != "no-ranges-cut":
            self.send_header("Accept-Ranges", "bytes")
        if ranged:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, start + len(part) - 1, len(body)))
        if encoding:
            self.send_header("Content-Encoding", encoding)
        if kind == "endless":
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(len(part)))
        self.end_headers()
        self.wfile.flush()
        if not with_body:
            return
        cut = -1
        if kind in ("close", "stall", "no-ranges-cut") and part:
            cut = owner.rand(0, len(part) - 1)
        if kind == "short" and part:
            cut = owner.rand(0, min(len(part) - 1, 16))
        pace = CHUNK / SLOW_BYTES_PER_SECOND if kind == "slow" else 0
        limit = len(part) if cut < 0 else cut
        wrong_whole = cut < 0 and kind in ("corrupt", "gzip") and response.path in owner.garbled
        while response.sent < limit:
            if owner.stopping.is_set():
                raise ConnectionAbortedError()
            end = min(limit, response.sent + CHUNK)
            if wrong_whole and end == len(part):
                # Counted before its last bytes go out: a client may check, empty and refill its part
                # before this thread runs again.
                owner.note_garbled_whole(response.run, response.path)
                wrong_whole = False
            n = self.connection.send(part[response.sent:end])
            response.sent += n
            if pace:
                time.sleep(pace)
        if kind == "endless":
            # The file's bytes, then more: a client bounded by the Content-Range total goes away first.
            self.close_connection = True
            while response.extra < ENDLESS_EXTRA and not owner.stopping.is_set():
                response.extra += self.connection.send(b"x" * CHUNK)
            self.connection.shutdown(socket.SHUT_WR)
            owner._hold(self.connection, 5.0)
            return
        if cut >= 0:
            response.cut = True
            self.close_connection = True
            if kind == "stall":
                owner._hold(self.connection)
            else:
                self.connection.shutdown(socket.SHUT_WR)
                owner._hold(self.connection, 5.0)

    def plain(self, status, text, headers=None):
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(text)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rate", type=float, default=0.3)
    args = parser.parse_args()
    server = FaultServer(args.root, args.seed, file_rate=args.rate, size_rate=args.rate)
    server.set_dead_mode("closed")
    print("APP_PORT=%d CDN_PORT=%d DEAD_PORT=%d" % (server.app_port, server.cdn_port, server.dead_port), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        server.stop()


if __name__ == "__main__":
    main()
