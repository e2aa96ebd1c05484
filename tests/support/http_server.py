#!/usr/bin/env python3
"""A small HTTP server for tests, with fault injection.

Serves the files under --root on 127.0.0.1. It listens on --port (0, the
default, picks a free port) and prints the port on the first line of its
standard output once it accepts connections. It ends on SIGTERM, SIGINT, or
when its standard input is a pipe that reaches end of file (so it never
outlives a test that holds the other end).

Faults apply to the paths that match a shell pattern (fnmatch):
  --fault 'PATTERN=KIND' with KIND one of
    404              answer 404 Not Found
    status:N         answer status N with a short body
    drop             send the headers and half of the body, then cut the connection
    stall            send the headers and half of the body, then send nothing more
    stall-headers    accept the request and never answer
    slow:RATE        send the body at about RATE bytes per second
    redirect:TARGET  answer 302 with Location TARGET
    drop-at:N        cut the connection once the body reaches byte N of the
                     file; only the first answer that gets there is cut
    drop-every:N     cut every answer after N bytes of its body
    ignore-range     answer every request with the whole file (status 200)
    change:OTHER     after the first answer, serve the file OTHER (under
                     --root) in its place, with its own ETag and date
A rule may combine kinds with commas ("drop-at:1000,ignore-range"). The
first matching --fault wins. Files are served with a strong ETag and a
Last-Modified date, and a "Range: bytes=N-" request gets the bytes from N on
(206) unless an If-Range that no longer matches asks for the whole file.
Every request is appended to --log (one "METHOD PATH" line each, written
before the answer); --bytes-log gets one "PATH BYTES" line per answer with the
body bytes written.
"""
import argparse
import email.utils
import fnmatch
import http.server
import os
import signal
import socket
import socketserver
import stat
import sys
import threading
import time
import urllib.parse


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def make_handler(options):
    faults = []
    for rule in options.fault:
        pattern, _, kind = rule.partition("=")
        faults.append((pattern, kind))
    log_lock = threading.Lock()
    state_lock = threading.Lock()
    answered = set()  # paths answered once (for change:)
    dropped_at = set()  # paths whose drop-at fault has fired

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "TestServer/1"

        def log_message(self, format, *args):  # no chatter on stderr
            pass

        def record(self):
            if options.log:
                with log_lock, open(options.log, "a", encoding="utf-8") as log:
                    log.write(f"{self.command} {self.path}\n")

        def fault_for(self, path):
            for pattern, kind in faults:
                if fnmatch.fnmatchcase(path, pattern):
                    return kind
            return None

        def record_bytes(self, path, count):
            if options.bytes_log:
                with log_lock, open(options.bytes_log, "a", encoding="utf-8") as log:
                    log.write(f"{path} {count}\n")

        def send_plain(self, status, text, extra=()):
            body = text.encode("utf-8")
            self.send_response(status)
            self.send_header("Content-Type", "text/plain; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            for name, value in extra:
                self.send_header(name, value)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        def do_HEAD(self):
            self.do_GET()

        def do_GET(self):
            self.record()
            path = urllib.parse.urlsplit(self.path).path
            kind = self.fault_for(path) or ""
            if kind == "404":
                return self.send_plain(404, "not found\n")
            if kind.startswith("status:"):
                return self.send_plain(int(kind[7:]), "fault\n")
            if kind.startswith("redirect:"):
                return self.send_plain(302, "moved\n", [("Location", kind[9:])])
            if kind == "stall-headers":
                return self.stall()
            kinds = dict(k.partition(":")[::2] for k in kind.split(",") if k)
            name = urllib.parse.unquote(path).lstrip("/")
            with state_lock:
                if "change" in kinds and path in answered:
                    name = kinds["change"]
                answered.add(path)
            local = os.path.realpath(os.path.join(options.root, name))
            root = os.path.realpath(options.root)
            if not (local == root or local.startswith(root + os.sep)) or not os.path.isfile(local):
                return self.send_plain(404, "not found\n")
            info = os.stat(local)
            size = info.st_size
            etag = f'"{size:x}-{info.st_mtime_ns:x}-{info.st_ino:x}"'
            modified = email.utils.formatdate(info.st_mtime, usegmt=True)
            start = self.range_start(size, etag, modified, "ignore-range" in kinds)
            if start is None:
                return self.send_plain(416, "range not satisfiable\n",
                                       [("Content-Range", f"bytes */{size}")])
            self.send_response(206 if start > 0 else 200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size - start))
            if "ignore-range" not in kinds:
                self.send_header("Accept-Ranges", "bytes")
            if start > 0:
                self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
            self.end_headers()
            if self.command == "HEAD":
                return
            # Where the answer stops early: a cut, or a stall.
            limit = size
            if kind in ("drop", "stall"):
                limit = start + (size - start) // 2
            if "drop-every" in kinds:
                limit = min(limit, start + int(kinds["drop-every"]))
            if "drop-at" in kinds:
                with state_lock:
                    at = int(kinds["drop-at"])
                    if path not in dropped_at and start < at < size:
                        dropped_at.add(path)
                        limit = min(limit, at)
            rate = max(1, int(kinds["slow"])) if "slow" in kinds else 0
            sent = 0
            try:
                with open(local, "rb") as source:
                    if not rate:
                        if limit > start:
                            sent = self.connection.sendfile(source, start, limit - start)
                    else:
                        source.seek(start)
                        while start + sent < limit:
                            data = source.read(min(max(1, rate // 20), limit - start - sent))
                            if not data:
                                break
                            self.wfile.write(data)
                            self.wfile.flush()
                            sent += len(data)
                            time.sleep(0.05)
            finally:
                self.record_bytes(path, sent)
            if kind == "stall":
                return self.stall()
            if limit < size:
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)

        def range_start(self, size, etag, modified, ignore):
            """Where the answer's body starts: 0 for the whole file, None when
            the asked range lies beyond its end."""
            asked = self.headers.get("Range", "")
            if ignore or not asked.startswith("bytes=") or "," in asked:
                return 0
            first, _, _ = asked[6:].partition("-")
            if not first.isdigit():
                return 0
            condition = self.headers.get("If-Range")
            if condition is not None and condition not in (etag, modified):
                return 0
            start = int(first)
            return start if start < size else None

        def stall(self):
            deadline = time.monotonic() + options.stall_seconds
            while time.monotonic() < deadline:
                time.sleep(0.05)
            self.close_connection = True

    return Handler


def main():
    parser = argparse.ArgumentParser(description="HTTP test server with fault injection")
    parser.add_argument("--root", default=".")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--bytes-log")
    parser.add_argument("--fault", action="append", default=[])
    parser.add_argument("--stall-seconds", type=float, default=60.0)
    options = parser.parse_args()

    server = Server(("127.0.0.1", options.port), make_handler(options))
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGINT, lambda *_: os._exit(0))

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except Exception:
            pass
        os._exit(0)

    if stat.S_ISFIFO(os.fstat(0).st_mode):
        threading.Thread(target=watch_stdin, daemon=True).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
