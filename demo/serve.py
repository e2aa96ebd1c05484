#!/usr/bin/env python3
"""The demo's update source: serves one folder over HTTP on 127.0.0.1 only,
paced so that the download progress can be watched. Writes the port it got to
PORT_FILE once it listens."""
import functools
import os
import http.server
import sys
import time

CHUNK = 32 * 1024
PAUSE = 0.02  # about 1.5 MB/s


class PacedHandler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, destination):
        while True:
            block = source.read(CHUNK)
            if not block:
                break
            destination.write(block)
            destination.flush()
            time.sleep(PAUSE)

    def log_message(self, format, *args):
        sys.stderr.write("serve: " + (format % args) + "\n")


def main():
    folder, port_file = sys.argv[1], sys.argv[2]
    handler = functools.partial(PacedHandler, directory=folder)
    with http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler) as server:
        with open(port_file + ".part", "w") as out:
            out.write(str(server.server_address[1]))
        os.replace(port_file + ".part", port_file)
        server.serve_forever()


if __name__ == "__main__":
    main()
