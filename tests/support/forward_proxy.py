#!/usr/bin/env python3
"""A tiny forwarding HTTP proxy for tests.

Listens on 127.0.0.1 (a free port), writes the port to the file named by its
first argument once it accepts connections, and forwards each request it gets
in absolute form ("GET http://host:port/path HTTP/1.1") to that host, one
request a connection. Every forwarded request is appended, as "METHOD URL",
to the file named by its second argument. It ends on SIGTERM.
"""
import os
import signal
import socket
import socketserver
import sys
import threading
import urllib.parse


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    port_file, log_file = sys.argv[1], sys.argv[2]
    log_lock = threading.Lock()

    class Handler(socketserver.StreamRequestHandler):
        def handle(self):
            request_line = self.rfile.readline().decode("latin-1")
            method, url, _ = request_line.split(" ", 2)
            headers = []
            while True:
                line = self.rfile.readline().decode("latin-1")
                if line in ("\r\n", "\n", ""):
                    break
                name = line.split(":", 1)[0].strip().lower()
                if name not in ("proxy-connection", "connection"):
                    headers.append(line)
            with log_lock, open(log_file, "a", encoding="utf-8") as log:
                log.write(f"{method} {url}\n")
            target = urllib.parse.urlsplit(url)
            path = target.path + ("?" + target.query if target.query else "")
            with socket.create_connection((target.hostname, target.port or 80)) as upstream:
                head = f"{method} {path or '/'} HTTP/1.1\r\n" + "".join(headers)
                upstream.sendall((head + "Connection: close\r\n\r\n").encode("latin-1"))
                while True:
                    data = upstream.recv(1 << 16)
                    if not data:
                        break
                    self.wfile.write(data)

    server = Server(("127.0.0.1", 0), Handler)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    with open(port_file + ".new", "w", encoding="utf-8") as out:
        out.write(str(server.server_address[1]))
    os.rename(port_file + ".new", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
