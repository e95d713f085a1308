#!/usr/bin/env python3
"""A scripted HTTP origin for the download tests: each path is one way a server can behave.

  /404                 404 Not Found
  /auth401-once        401 (Basic) unless the request carries zuno / secret, then 200
  /auth401-always      401 every time
  /nolength            200 without Content-Length (the body ends when the connection closes)
  /zerolength          200 with Content-Length 0
  /short               announces 1000 bytes, sends 500, closes
  /long                announces 1000 bytes, sends 1500
  /reset               announces 100000 bytes, sends 10000, waits 0.5 s, resets the connection
  /stall               announces 1000 bytes, sends 100, waits 1.5 s, closes
  /trickle3            3 bytes, one at a time, 300 ms apart
  /via                 "proxy" when the request came through a proxy (Via header), else "direct"
  /echo/...            the request path as the body
  /range               the Range header as the body ("none" without one)
  /current             whichever of the above MODE_FILE names (without its slash); 404 without one
Usage: fault_server.py HOST PORT [MODE_FILE]
"""
import socket
import struct
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def body_of(n):
    return bytes((i * 7 + 3) % 256 for i in range(n))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s\n" % (self.requestline, fmt % args))

    def send(self, status, body, headers=(), length=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if length is not False:
            self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        return body

    def do_GET(self):
        path = self.path
        if path == "/current":
            try:
                with open(MODE_FILE) as mode:
                    path = "/" + mode.read().strip()
            except (OSError, TypeError):
                path = "/404"
        if path == "/404":
            self.wfile.write(self.send(404, b"not here"))
        elif path == "/auth401-once":
            if self.headers.get("Authorization") == "Basic enVubzpzZWNyZXQ=":  # zuno:secret
                self.wfile.write(self.send(200, body_of(2000)))
            else:
                self.wfile.write(self.send(401, b"who?", [("WWW-Authenticate", 'Basic realm="zuno"')]))
        elif path == "/auth401-always":
            self.wfile.write(self.send(401, b"no", [("WWW-Authenticate", 'Basic realm="zuno"')]))
        elif path == "/nolength":
            self.send(200, b"", [("Connection", "close")], length=False)
            self.wfile.write(body_of(1000))
            self.close_connection = True
        elif path == "/zerolength":
            self.send(200, b"", length=0)
        elif path == "/short":
            self.send(200, b"", [("Connection", "close")], length=1000)
            self.wfile.write(body_of(500))
            self.close_connection = True
        elif path == "/long":
            # "Connection: close", so that the stray bytes never meet a next request.
            self.send(200, b"", [("Connection", "close")], length=1000)
            self.wfile.write(body_of(1500))
            self.close_connection = True
        elif path == "/reset":
            self.send(200, b"", length=100000)
            self.wfile.write(body_of(10000))
            self.wfile.flush()
            # Long enough for the client to take the headers and the first bytes: a reset
            # drops whatever the peer has not read yet.
            time.sleep(0.5)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
        elif path == "/stall":
            self.send(200, b"", length=1000)
            self.wfile.write(body_of(100))
            self.wfile.flush()
            time.sleep(1.5)
            self.close_connection = True
        elif path == "/trickle3":
            self.send(200, b"", length=3)
            for i in range(3):
                self.wfile.write(bytes([65 + i]))
                self.wfile.flush()
                time.sleep(0.3)
        elif path == "/via":
            self.wfile.write(self.send(200, b"proxy" if self.headers.get("Via") else b"direct"))
        elif path.startswith("/echo/"):
            self.wfile.write(self.send(200, path.encode()))
        elif path == "/range":
            self.wfile.write(self.send(200, (self.headers.get("Range") or "none").encode()))
        else:
            self.wfile.write(self.send(404, b"unknown"))


MODE_FILE = None

if __name__ == "__main__":
    MODE_FILE = sys.argv[3] if len(sys.argv) > 3 else None
    ThreadingHTTPServer.daemon_threads = True
    ThreadingHTTPServer((sys.argv[1], int(sys.argv[2])), Handler).serve_forever()
