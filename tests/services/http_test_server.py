#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the download tests.

Writes its port to argv[1] once listening and appends every request path to argv[2].
Routes: /body/N (200, N bytes), /404, /empty, /204, /206, /redirect, /cut, /cut/ANNOUNCED,
/slow/N/SECONDS (200, N bytes trickled over about SECONDS seconds),
/silent/N/SECONDS (200, N bytes of a longer announced body, then silence for SECONDS),
/fast/N and /fast-cut/N/ANNOUNCED (N bytes of the repeated block pattern, fast; the
second announces more and closes after N).
"""
import http.server
import sys
import time

from http_test_body import body, fast_chunks


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, payload=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if status != 204:
            self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def do_GET(self):
        with open(sys.argv[2], "a") as log:
            log.write(self.path + "\n")
        path = self.path
        if path.startswith("/body/"):
            self.answer(200, body(int(path[6:])))
        elif path == "/404":
            self.answer(404, b"not here")
        elif path == "/empty":
            self.answer(200)
        elif path == "/204":
            self.answer(204)
        elif path == "/206":
            self.answer(206, b"partial body")
        elif path == "/redirect":
            self.answer(302, b"", [("Location", "/body/1000")])
        elif path == "/cut" or path.startswith("/cut/"):
            # 1000 bytes of the announced length (100000 unless given), then the end.
            self.send_response(200)
            self.send_header("Content-Length", path[5:] or "100000")
            self.end_headers()
            self.wfile.write(body(1000))
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(2)
        elif path.startswith("/fast/") or path.startswith("/fast-cut/"):
            parts = [int(part) for part in path.split("/")[2:]]
            size, announced = parts[0], parts[-1]
            self.send_response(200)
            self.send_header("Content-Length", str(announced))
            self.end_headers()
            for chunk in fast_chunks(size):
                self.wfile.write(chunk)
            self.wfile.flush()
            if announced != size:
                self.close_connection = True
                self.connection.shutdown(2)
        elif path.startswith("/silent/"):
            size, seconds = (int(part) for part in path[8:].split("/"))
            self.send_response(200)
            self.send_header("Content-Length", str(size + 1000))
            self.end_headers()
            self.wfile.write(body(size))
            self.wfile.flush()
            time.sleep(seconds)
            self.close_connection = True
        elif path.startswith("/slow/"):
            size, seconds = (int(part) for part in path[6:].split("/"))
            payload = body(size)
            steps = max(1, seconds * 10)
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            for i in range(steps):
                self.wfile.write(payload[i * size // steps:(i + 1) * size // steps])
                self.wfile.flush()
                time.sleep(seconds / steps)
        else:
            self.answer(400, b"unknown route")


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
