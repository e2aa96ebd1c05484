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
The first matching --fault wins. Every request is appended to --log (one
"METHOD PATH" line each, written before the answer).
"""
import argparse
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
            local = os.path.realpath(os.path.join(options.root, urllib.parse.unquote(path).lstrip("/")))
            root = os.path.realpath(options.root)
            if not (local == root or local.startswith(root + os.sep)) or not os.path.isfile(local):
                return self.send_plain(404, "not found\n")
            size = os.path.getsize(local)
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            if self.command == "HEAD":
                return
            with open(local, "rb") as source:
                if kind in ("drop", "stall"):
                    self.wfile.write(source.read(size // 2))
                    self.wfile.flush()
                    if kind == "drop":
                        self.close_connection = True
                        self.connection.shutdown(socket.SHUT_RDWR)
                        return
                    return self.stall()
                if kind.startswith("slow:"):
                    rate = max(1, int(kind[5:]))
                    piece = max(1, rate // 20)
                    while True:
                        data = source.read(piece)
                        if not data:
                            break
                        self.wfile.write(data)
                        time.sleep(0.05)
                    return
                self.connection.sendfile(source)

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
