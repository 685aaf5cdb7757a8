#!/usr/bin/env python3
"""HTTP server for the installer's download tests.

Usage: package_server.py ROOT

Listens on 127.0.0.1 at a free port, prints "PORT <n>" on stdout and serves
until its standard input closes. GET /downloads/<name> answers according to
the first word of ROOT/mode (read at each request):

  ok       ROOT/<name> with Content-Length and Last-Modified
  slow     the same, 1 KiB every 50 ms
  status   the status code in the second word, with a short body
"""
import os
import sys
import threading
import time
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = sys.argv[1]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        try:
            with open(os.path.join(ROOT, "mode"), encoding="utf-8") as f:
                mode = f.read().split()
        except OSError:
            mode = ["ok"]
        name = os.path.basename(self.path)
        if mode[0] == "status" or not self.path.startswith("/downloads/"):
            code = int(mode[1]) if mode[0] == "status" else 404
            body = b"no package here\n"
            self.send_response(code)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        path = os.path.join(ROOT, name)
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Last-Modified", formatdate(os.path.getmtime(path), usegmt=True))
        self.end_headers()
        try:
            if mode[0] == "slow":
                for i in range(0, len(data), 1024):
                    self.wfile.write(data[i:i + 1024])
                    self.wfile.flush()
                    time.sleep(0.05)
            else:
                self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(f"PORT {server.server_address[1]}", flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()  # until the test process ends
    server.shutdown()


if __name__ == "__main__":
    main()
