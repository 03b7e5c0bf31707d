#!/usr/bin/env python3
"""A small HTTP server on 127.0.0.1 for the download tests.

Writes its port to argv[1] once listening and appends every request path to argv[2].
Routes: /body/N (200, N bytes), /404, /empty, /204, /206, /redirect, /cut, /cut/ANNOUNCED,
/slow/N/SECONDS (200, N bytes trickled over about SECONDS seconds),
/silent/N/SECONDS (200, N bytes of a longer announced body, then silence for SECONDS),
/fast/N and /fast-cut/N/ANNOUNCED (N bytes of the repeated block pattern, fast; the
second announces more and closes after N).
/flaky/N?OPTIONS: N bytes that a flaky network or server serves, Range and If-Range
honoured as a real server does (a 206 when If-Range names the body as it is now, else the
whole body), the requests of one URL counted: cut=AT&cuts=K (the first K responses end at
body byte AT), every=N (every response ends after N bytes), stall=AT&for=S (the first
response, or the first K with stalls=K, stops at byte AT for S seconds), busy=K&retry=R (the first K requests answered
503 with Retry-After R, "date" for a date a second ahead), change=1 (a new body, and
validator, from the second request on), validator=etag|date|none.
"""
import email.utils
import http.server
import sys
import threading
import time
import urllib.parse

from http_test_body import BLOCK, body, fast_chunks

# Requests seen per URL, for the routes whose answer changes from one request to the next.
seen = {}
seen_lock = threading.Lock()


def count_request(path):
    with seen_lock:
        seen[path] = seen.get(path, 0) + 1
        return seen[path]


def version_chunks(start, end, version):
    """Bytes [start, end) of body version 0 (body()'s pattern) or 1 (each byte 3 more), in
    blocks sliced from one tile without copying."""
    tile = memoryview(body(251) * (BLOCK // 251 + 2))
    at = start
    while at < end:
        offset = (at + version * 108) % 251  # 7 * 108 = 3 (mod 251)
        size = min(BLOCK, end - at)
        yield tile[offset:offset + size]
        at += size


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
            asked = "".join(f"\t{name}: {self.headers[name]}" for name in ("Range", "If-Range") if self.headers[name])
            log.write(self.path + asked + "\n")
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
        elif path.startswith("/flaky/"):
            self.flaky()
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


    def flaky(self):
        url = urllib.parse.urlsplit(self.path)
        size = int(url.path.split("/")[2])
        options = {key: values[0] for key, values in urllib.parse.parse_qs(url.query).items()}
        number = count_request(self.path)
        if number <= int(options.get("busy", 0)):
            retry = options.get("retry", "1")
            if retry == "date":
                retry = email.utils.formatdate(time.time() + 1, usegmt=True)
            self.answer(503, b"busy", [("Retry-After", retry)])
            return
        version = 1 if options.get("change") and number > 1 else 0
        kind = options.get("validator", "etag")
        validator = {"etag": f'"v{version}"', "date": email.utils.formatdate(1e9 + version * 86400, usegmt=True),
                     "none": None}[kind]
        start = 0
        wanted = self.headers["Range"]
        if wanted and wanted.startswith("bytes=") and wanted.endswith("-") and validator and \
                self.headers["If-Range"] == validator:
            start = int(wanted[6:-1])
        end = size
        if number <= int(options.get("cuts", 1)) and "cut" in options:
            end = min(end, max(start, int(options["cut"])))
        if "every" in options:
            end = min(end, start + int(options["every"]))
        stalls = number <= int(options.get("stalls", 1)) and "stall" in options
        stall = max(start, int(options["stall"])) if stalls else None
        self.send_response(206 if start else 200)
        if start:
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
        if validator:
            self.send_header("ETag" if kind == "etag" else "Last-Modified", validator)
        self.send_header("Content-Length", str(size - start))
        self.end_headers()
        for chunk in version_chunks(start, stall if stall is not None else end, version):
            self.wfile.write(chunk)
        self.wfile.flush()
        if stall is not None:
            time.sleep(float(options.get("for", 30)))
        elif end == size:
            return
        self.close_connection = True
        self.connection.shutdown(2)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1] + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
server.serve_forever()
