#!/usr/bin/env python3
"""A scripted HTTP/1.1 server for tests: answers that a well-behaved server never gives.

Started by the test fixture; serves as scripted_server says. Every answer
closes the connection.

Bodies of a given size are the pattern byte(i) = i % 251, so that a body read
from the wrong offset is visible. Sized answers honour "Range: bytes=S-" and
"bytes=S-E" with 206 unless the path says otherwise; a request for several
ranges gets its first range alone, and a multipart answer only from /multipart/.

  /stall?after=N&size=M[&hold=S]   N bytes of M, then silence until the client
                                   leaves or S seconds (default 60) pass
  /close?after=N&size=M            N bytes of M, then the connection closes
  /silent/...                      no answer at all until the client leaves
  /trickle?size=M&bytes=K&interval=S   K bytes every S seconds
  /chunked?body=TEXT[&chunk=K][&repeat=R]   TEXT (percent-decoded) R times over,
                                   in chunks of K bytes, until the client leaves
  /lines?text=TEXT                 TEXT (percent-decoded) as the exact body
  /status/NNN                      that status; 3xx carry a Location header
  /echo                            the request line and headers as received
  /whole/NAME                      the file NAME under the directory of the first argument, a single
                                   range honoured, several answered with 200
                                   and the whole file
  /flaky/FAULT/N/NAME              the file NAME under that directory, ranges
                                   honoured; the first N requests for a NAME
                                   ending in ".zip" or ".exe" suffer FAULT: "drop" (half
                                   the body, then the connection closes),
                                   "stall" (half, then silence) or "corrupt"
                                   (a byte of the body changed)
  /misrange/FAULT/NAME             the file NAME under that directory, a range
                                   answered with another one, named as such:
                                   "shift" (as long, a byte further on),
                                   "short" (its last byte left out) or
                                   "whole" (all of it, with 200)
  /multipart/FAULT/NAME            the file NAME under that directory, several
                                   ranges answered as multipart/byteranges
                                   that goes wrong behind the last part:
                                   "junk" (junk instead of the closing
                                   delimiter) or "extra" (bytes beyond the
                                   part's length); a single range honoured
"""

import os
import select
import socketserver
import sys
import threading
import time
import urllib.parse

import scripted_server

REASONS = {200: "OK", 206: "Partial Content", 301: "Moved Permanently", 302: "Found",
           404: "Not Found", 416: "Range Not Satisfiable", 500: "Internal Server Error",
           503: "Service Unavailable"}


def pattern(start, count):
    return bytes((start + i) % 251 for i in range(count))


class Request:
    def __init__(self, raw):
        self.raw = raw
        lines = raw.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        target = parts[1] if len(parts) > 1 else "/"
        self.path, _, query = target.partition("?")
        self.query = {}
        for pair in query.split("&"):
            name, _, value = pair.partition("=")
            if name:
                self.query[name] = urllib.parse.unquote_to_bytes(value)
        self.headers = {}
        for line in lines[1:]:
            name, sep, value = line.partition(":")
            if sep:
                self.headers[name.strip().lower()] = value.strip()

    def number(self, name, default=0):
        return float(self.query[name]) if name in self.query else default

    def ranges(self):
        """The asked ranges as (first, last or None) pairs; [] without a usable Range."""
        value = self.headers.get("range", "")
        if not value.startswith("bytes="):
            return []
        ranges = []
        for item in value[6:].split(","):
            first, dash, last = item.strip().partition("-")
            if not dash or not first.isdigit() or not (last.isdigit() or last == ""):
                return []
            ranges.append((int(first), int(last) if last else None))
        return ranges


FILE_ROOT = None
flaky_counts = {}
flaky_lock = threading.Lock()


def take_fault(key, limit):
    """True for the first limit requests of key."""
    with flaky_lock:
        flaky_counts[key] = flaky_counts.get(key, 0) + 1
        return flaky_counts[key] <= limit


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        raw = self.read_head()
        if raw is None:
            return
        request = Request(raw)
        route = request.path.strip("/").split("/")
        action = getattr(self, "do_" + route[0].replace("-", "_"), None)
        if route[0] == "status" and len(route) == 2 and route[1].isdigit():
            self.status(int(route[1]))
        elif action is not None:
            action(request)
        else:
            self.status(404)

    def read_head(self):
        raw = b""
        while b"\r\n\r\n" not in raw:
            data = self.request.recv(4096)
            if not data:
                return None
            raw += data
        return raw[:raw.index(b"\r\n\r\n") + 4]

    def send_head(self, status, headers):
        lines = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status"))]
        lines += ["%s: %s" % item for item in headers] + ["Connection: close", "", ""]
        self.request.sendall("\r\n".join(lines).encode("latin-1"))

    def send_sized(self, request, size, several_whole=False):
        """Sends the head of a sized body for the first range asked (or all of it
        without one, or with several when several_whole); returns the body's
        first offset and length."""
        ranges = request.ranges()
        if not ranges or (several_whole and len(ranges) > 1):
            self.send_head(200, [("Content-Length", size)])
            return 0, size
        start, last = ranges[0]
        if start >= size:
            self.send_head(416, [("Content-Range", "bytes */%d" % size), ("Content-Length", 0)])
            return start, 0
        end = size if last is None else min(last + 1, size)
        self.send_head(206, [("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size)),
                             ("Content-Length", end - start)])
        return start, end - start

    def status(self, code):
        body = b"status %d\n" % code
        headers = [("Content-Type", "text/plain"), ("Content-Length", len(body))]
        if 300 <= code < 400:
            headers.append(("Location", "/lines?text=redirected"))
        self.send_head(code, headers)
        self.request.sendall(body)

    def do_stall(self, request):
        start, length = self.send_sized(request, int(request.number("size")))
        self.request.sendall(pattern(start, min(int(request.number("after")), length)))
        # Readable means the client closed (or sent more, which we ignore): stop then.
        select.select([self.request], [], [], request.number("hold", 60))

    def do_silent(self, request):
        select.select([self.request], [], [], 60)

    def do_close(self, request):
        start, length = self.send_sized(request, int(request.number("size")))
        self.request.sendall(pattern(start, min(int(request.number("after")), length)))

    def do_trickle(self, request):
        start, length = self.send_sized(request, int(request.number("size")))
        step = max(1, int(request.number("bytes", 1)))
        for offset in range(start, start + length, step):
            if offset != start:
                time.sleep(request.number("interval", 1))
            self.request.sendall(pattern(offset, min(step, start + length - offset)))

    def do_chunked(self, request):
        body = request.query.get("body", b"")
        step = max(1, int(request.number("chunk", 3)))
        total = len(body) * int(request.number("repeat", 1))
        cycle = body * (step // max(1, len(body)) + 2)
        self.send_head(200, [("Content-Type", "text/plain"), ("Transfer-Encoding", "chunked")])
        for offset in range(0, total, step):
            start = offset % len(body)
            piece = cycle[start:start + min(step, total - offset)]
            self.request.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
        self.request.sendall(b"0\r\n\r\n")

    def do_lines(self, request):
        body = request.query.get("text", b"")
        self.send_head(200, [("Content-Type", "text/plain"), ("Content-Length", len(body))])
        self.request.sendall(body)

    def read_file(self, name):
        """The bytes of name under the root, or None after a 404 answer."""
        path = os.path.join(FILE_ROOT or "", name)
        if FILE_ROOT is None or ".." in name.split("/") or not os.path.isfile(path):
            self.status(404)
            return None
        with open(path, "rb") as data:
            return data.read()

    def do_whole(self, request):
        body = self.read_file(request.path.strip("/").split("/", 1)[1])
        if body is not None:
            start, length = self.send_sized(request, len(body), several_whole=True)
            self.request.sendall(body[start:start + length])

    def do_flaky(self, request):
        _, fault, limit, name = request.path.strip("/").split("/", 3)
        body = self.read_file(name)
        if body is None:
            return
        start, length = self.send_sized(request, len(body))
        body = body[start:start + length]
        if name.endswith((".zip", ".exe")) and take_fault(request.path, int(limit)):
            if fault == "corrupt":
                middle = len(body) // 2
                body = body[:middle] + bytes([body[middle] ^ 0xFF]) + body[middle + 1:]
            elif fault in ("drop", "stall"):
                self.request.sendall(body[:len(body) // 2])
                if fault == "stall":
                    select.select([self.request], [], [], 60)
                return
        self.request.sendall(body)

    def do_misrange(self, request):
        _, fault, name = request.path.strip("/").split("/", 2)
        body = self.read_file(name)
        if body is None:
            return
        first, last = (request.ranges() or [(0, None)])[0]
        last = len(body) - 1 if last is None else min(last, len(body) - 1)
        if fault == "whole":
            self.send_head(200, [("Content-Length", len(body))])
            self.request.sendall(body)
            return
        if fault == "shift":
            first, last = first + 1, min(last + 1, len(body) - 1)
        elif fault == "short":
            last -= 1
        self.send_head(206, [("Content-Range", "bytes %d-%d/%d" % (first, last, len(body))),
                             ("Content-Length", last - first + 1)])
        self.request.sendall(body[first:last + 1])

    def do_multipart(self, request):
        _, fault, name = request.path.strip("/").split("/", 2)
        body = self.read_file(name)
        if body is None:
            return
        ranges = request.ranges()
        if len(ranges) < 2:
            start, length = self.send_sized(request, len(body))
            self.request.sendall(body[start:start + length])
            return
        parts = b""
        for first, last in ranges:
            last = len(body) - 1 if last is None else last
            parts += b"\r\n--B\r\nContent-Range: bytes %d-%d/%d\r\n\r\n" % (first, last, len(body))
            parts += body[first:last + 1]
        parts += b"EXTRA\r\n--B--\r\n" if fault == "extra" else b"\r\nJUNK\r\n"
        self.send_head(206, [("Content-Type", "multipart/byteranges; boundary=B"),
                             ("Content-Length", len(parts))])
        self.request.sendall(parts)

    def do_echo(self, request):
        self.send_head(200, [("Content-Type", "text/plain"), ("Content-Length", len(request.raw))])
        self.request.sendall(request.raw)


if __name__ == "__main__":
    FILE_ROOT = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] else None
    scripted_server.serve(Handler)
