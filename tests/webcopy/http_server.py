#!/usr/bin/env python3
"""HTTP server for the web copy tests.

Usage: http_server.py SINK_DIR [--tls]

With --tls it serves HTTPS with a new self-signed certificate for 127.0.0.1,
written as SINK_DIR/cert.pem (the openssl command makes it).

Listens on 127.0.0.1 at a free port, prints "PORT <n>" on stdout and serves
until its standard input closes (so it never outlives the test process).
Every request is appended to SINK_DIR/requests.log as the request line, the
header lines and a blank line; uploads are stored in SINK_DIR.

GET routes (the last path component is the file name the client sees):
  /file/<n>/<name>                 n bytes, Content-Length, no Last-Modified
  /dated/<unixtime>/<n>/<name>     the same with Last-Modified
  /chunked/<n>/<name>              chunked body without a length
  /chunkedcut/<n>/<name>           chunked, the connection drops after n bytes
  /status/<code>/<name>            that status with a short body
  /auth/<user>/<password>/<n>/<name>  401 (Basic) unless the credentials match
  /redirect/<a~b~c>/<name>         302 to /a/b/c
  /cut/<announced>/<sent>/<name>   announces a length, sends less, drops the connection
  /slow/<n>/<delay_ms>/<name>      1 KiB every delay_ms
  /empty/<name>                    200 with an empty body
  /stall/<ms>/<name>               waits ms before answering
  /raw/<reply>/<name>              the canned bytes of RAW[reply], then the
                                   connection closes or is reset (hostile servers)
PUT/POST routes:
  /sink/<name>                     stores the body as SINK_DIR/<name>, answers 201
  /reject/<code>/<name>            reads the body, answers <code>
"""
import gzip
import os
import socket
import struct
import sys
import threading
import time
from email.utils import formatdate
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SINK = sys.argv[1]
LOG_LOCK = threading.Lock()
PATTERN = bytes(range(256)) * 64  # 16 KiB


def content(n, offset=0):
    """n bytes of the test pattern starting at offset (byte i is i mod 256)."""
    out = bytearray()
    pos = offset % 256
    while len(out) < n:
        chunk = PATTERN[pos:pos + min(len(PATTERN) - pos, n - len(out))]
        out += chunk
        pos = 0
    return bytes(out)


def chunk(data):
    return b"%x\r\n%s\r\n" % (len(data), data)


OK = b"HTTP/1.1 200 OK\r\n"
HALF_GZIP = gzip.compress(content(20000))[:200]

# Replies of misbehaving servers: the bytes sent, and how the connection
# ends ("close": an orderly end; "reset": a TCP reset).
RAW = {
    # bodies cut short
    "chunk-cut": (OK + b"Transfer-Encoding: chunked\r\n\r\n1000\r\n" + content(100), "close"),
    "chunk-cut-in-size": (OK + b"Transfer-Encoding: chunked\r\n\r\n" + chunk(content(3000))
                          + b"10", "close"),
    "chunk-cut-before-line-end": (OK + b"Transfer-Encoding: chunked\r\n\r\nbb8\r\n"
                                  + content(3000), "close"),
    "chunk-end-unfinished": (OK + b"Transfer-Encoding: chunked\r\n\r\n" + chunk(content(3000))
                             + b"0\r\n", "close"),
    "reset": (OK + b"Connection: close\r\n\r\n" + content(5000), "reset"),
    "gzip-chunked": (OK + b"Transfer-Encoding: gzip, chunked\r\n\r\n" + chunk(HALF_GZIP)
                     + b"0\r\n\r\n", "close"),
    # no body, or none that can be framed
    "no-content": (b"HTTP/1.1 204 No Content\r\n\r\n", "close"),
    "length-hex": (OK + b"Content-Length: 0x400\r\n\r\n" + content(1024), "close"),
    "empty-unannounced": (OK + b"Connection: close\r\n\r\n", "close"),
    # a part of a file nobody asked for
    "partial": (b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-9/100\r\n"
                b"Content-Length: 10\r\n\r\n" + content(10), "close"),
    "partial-all": (b"HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-9/10\r\n"
                    b"Content-Length: 10\r\n\r\n" + content(10), "close"),
    # heads that cannot be read
    "length-negative": (OK + b"Content-Length: -5\r\n\r\n" + content(5), "close"),
    "length-text": (OK + b"Content-Length: ten\r\n\r\n" + content(10), "close"),
    "huge-header": (OK + b"X-Huge: " + b"a" * (1 << 20) + b"\r\nContent-Length: 3\r\n\r\nabc",
                    "close"),
    "many-headers": (OK + b"".join(b"X-H%d: v\r\n" % i for i in range(100000))
                     + b"Content-Length: 3\r\n\r\nabc", "close"),
    "nul-header": (OK + b"X-Nul: a\0b\r\nContent-Length: 3\r\n\r\nabc", "close"),
}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle(self):
        try:
            super().handle()
        except OSError:
            pass  # the client went away (a reset while the next request was awaited)

    def record(self):
        with LOG_LOCK, open(os.path.join(SINK, "requests.log"), "a", encoding="utf-8") as f:
            f.write(f"{self.command} {self.path}\n")
            for k, v in self.headers.items():
                f.write(f"{k}: {v}\n")
            f.write("\n")

    def send_body(self, code, data, extra=None):
        self.send_response(code)
        self.send_header("Content-Length", str(len(data)))
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def send_raw(self, data, ending):
        self.close_connection = True
        self.wfile.write(data)
        self.wfile.flush()
        if ending == "reset":
            # A zero linger time makes the close a reset; the socket is closed
            # here so that no orderly shutdown goes before it.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            os.close(self.connection.detach())

    def do_GET(self):
        self.record()
        parts = self.path.split("?")[0].strip("/").split("/")
        kind = parts[0]
        try:
            if kind == "file":
                self.send_body(200, content(int(parts[1])))
            elif kind == "dated":
                lm = formatdate(int(parts[1]), usegmt=True)
                self.send_body(200, content(int(parts[2])), {"Last-Modified": lm})
            elif kind in ("chunked", "chunkedcut"):
                n = int(parts[1])
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                data = content(n)
                for i in range(0, n, 5000):
                    piece = data[i:i + 5000]
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
                if kind == "chunked":
                    self.wfile.write(b"0\r\n\r\n")
                self.wfile.flush()
                if kind == "chunkedcut":
                    self.close_connection = True
            elif kind == "status":
                self.send_body(int(parts[1]), b"status body\n")
            elif kind == "auth":
                user, password, n = parts[1], parts[2], int(parts[3])
                import base64
                want = "Basic " + base64.b64encode(f"{user}:{password}".encode("latin-1")).decode()
                if self.headers.get("Authorization") == want:
                    self.send_body(200, content(n))
                else:
                    self.send_body(401, b"login please\n", {"WWW-Authenticate": 'Basic realm="test"'})
            elif kind == "redirect":
                self.send_body(302, b"", {"Location": "/" + parts[1].replace("~", "/")})
            elif kind == "cut":
                announced, sent = int(parts[1]), int(parts[2])
                self.send_response(200)
                self.send_header("Content-Length", str(announced))
                self.end_headers()
                self.wfile.write(content(sent))
                self.wfile.flush()
                self.close_connection = True
            elif kind == "slow":
                n, delay = int(parts[1]), int(parts[2]) / 1000.0
                self.send_response(200)
                self.send_header("Content-Length", str(n))
                self.end_headers()
                data = content(n)
                for i in range(0, n, 1024):
                    self.wfile.write(data[i:i + 1024])
                    self.wfile.flush()
                    time.sleep(delay)
            elif kind == "stall":
                time.sleep(int(parts[1]) / 1000.0)
                self.send_body(200, content(10))
            elif kind == "empty":
                self.send_body(200, b"")
            elif kind == "raw":
                self.send_raw(*RAW[parts[1]])
            else:
                self.send_body(404, b"not found\n")
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def read_body(self):
        n = int(self.headers.get("Content-Length", "0"))
        data = b""
        while len(data) < n:
            piece = self.rfile.read(n - len(data))
            if not piece:
                break
            data += piece
        return data

    def do_upload(self):
        self.record()
        parts = self.path.split("?")[0].strip("/").split("/")
        data = self.read_body()
        if parts[0] == "sink":
            with open(os.path.join(SINK, parts[-1]), "wb") as f:
                f.write(data)
            self.send_body(201, b"stored\n")
        elif parts[0] == "reject":
            self.send_body(int(parts[1]), b"refused\n")
        else:
            self.send_body(404, b"not found\n")

    do_PUT = do_upload
    do_POST = do_upload


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if "--tls" in sys.argv[2:]:
        import ssl
        import subprocess
        cert, key = os.path.join(SINK, "cert.pem"), os.path.join(SINK, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(f"PORT {server.server_address[1]}", flush=True)
    sys.stdin.read()  # until the test process closes the pipe
    os._exit(0)


if __name__ == "__main__":
    main()
