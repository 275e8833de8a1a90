#!/usr/bin/env python3
"""A scripted HTTP server for tests: answers that a well-behaved server never gives.

Sized bodies follow the pattern byte(i) = i % 251, so that bytes from a wrong
offset show. They and files honour the first range asked; every answer closes
the connection. Each request is reported as "GET PATH RANGE" before its answer.

  /stall?after=N&size=M           N bytes of M, then silence until the client leaves
  /close?after=N&size=M           N bytes of M, then the end of the connection
  /silent/...                     no answer until the client leaves
  /trickle?size=M&bytes=K&interval=S     K bytes every S seconds
  /chunked?body=TEXT[&chunk=K][&repeat=R]   TEXT R times over in chunks of K bytes
  /lines?text=TEXT[&encoding=E]   TEXT (percent-decoded) as the body, with Content-Encoding E
  /status/NNN[?to=URL]            that status; 3xx redirect to URL (/lines?text=redirected)
  /redirects/N                    N redirects, one after another, before the body "arrived"
  /echo                           the request line and headers

Files of the directory named by the first argument:

  /whole/NAME                     several ranges answered with all of it and 200
  /flaky/FAULT/N/NAME             the first N requests for a .zip or .exe answered
                                  with half the body and then the end (drop) or
                                  silence (stall), or with a byte changed (corrupt)
  /misrange/FAULT/NAME            a range answered a byte further on (shift),
                                  without its last byte (short) or all of it with
                                  200 (whole)
  /multipart/FAULT/NAME           several ranges answered as multipart/byteranges
                                  with junk in place of the closing delimiter or
                                  extra bytes behind the last part
  /cut/N/NAME                     ranges answered as a good server does (several
                                  as multipart/byteranges), each answer cut after
                                  N bytes of its body
"""

import http.server
import os
import select
import sys
import threading
import time
import urllib.parse

import scripted_server

ROOT = sys.argv[1] if len(sys.argv) > 1 else ""
fault_counts = {}
fault_lock = threading.Lock()


def pattern(start, count):
    return bytes((start + i) % 251 for i in range(count))


def take_fault(key, limit):
    """True for the first limit requests of key."""
    with fault_lock:
        fault_counts[key] = fault_counts.get(key, 0) + 1
        return fault_counts[key] <= limit


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.close_connection = True
        scripted_server.report("%s %s %s" % (self.command, self.path, self.headers.get("Range", "")))
        self.target, _, query = self.path.partition("?")
        self.query = {name: urllib.parse.unquote_to_bytes(value)
                      for name, _, value in (pair.partition("=") for pair in query.split("&")) if name}
        self.route = self.target.strip("/").split("/")
        try:
            getattr(self, "route_" + self.route[0], lambda: self.status(404))()
        except FileNotFoundError:
            self.status(404)

    do_HEAD = do_POST = do_GET

    def number(self, name, default=0):
        return float(self.query.get(name, default))

    def ranges(self):
        """The asked ranges as (first, last or None) pairs; [] without a usable Range."""
        value = self.headers.get("Range", "")
        items = [item.strip().partition("-") for item in value[6:].split(",")]
        if not value.startswith("bytes=") or not all(
                first.isdigit() and dash and (last.isdigit() or not last) for first, dash, last in items):
            return []
        return [(int(first), int(last) if last else None) for first, _, last in items]

    def send_head(self, status, headers):
        self.send_response_only(status)
        for name, value in headers + [("Connection", "close")]:
            self.send_header(name, str(value))
        self.end_headers()

    def send_sized(self, size, several_whole=False):
        """Sends the head for the first range asked of a sized body (all of it without
        one, or with several when several_whole); returns the offset and length to send."""
        ranges = self.ranges()
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

    def send_text(self, code, body, headers=()):
        self.send_head(code, [("Content-Type", "text/plain"), ("Content-Length", len(body))] + list(headers))
        self.wfile.write(body)

    def wait_for_hang_up(self):
        # Readable means the client closed (or sent more, which we ignore).
        select.select([self.connection], [], [], 60)

    def status(self, code, location="/lines?text=redirected"):
        self.send_text(code, b"status %d\n" % code, [("Location", location)] if 300 <= code < 400 else [])

    def route_status(self):
        self.status(int(self.route[1]), self.query.get("to", b"/lines?text=redirected").decode())

    def route_redirects(self):
        left = int(self.route[1])
        if left:
            self.status(302, "/redirects/%d" % (left - 1))
        else:
            self.send_text(200, b"arrived")

    def route_close(self):
        start, length = self.send_sized(int(self.number("size")))
        self.wfile.write(pattern(start, min(int(self.number("after")), length)))

    def route_stall(self):
        self.route_close()
        self.wait_for_hang_up()

    def route_silent(self):
        self.wait_for_hang_up()

    def route_trickle(self):
        start, length = self.send_sized(int(self.number("size")))
        step = max(1, int(self.number("bytes", 1)))
        for offset in range(start, start + length, step):
            if offset != start:
                time.sleep(self.number("interval", 1))
            self.wfile.write(pattern(offset, min(step, start + length - offset)))

    def route_chunked(self):
        body = self.query.get("body", b"")
        step = max(1, int(self.number("chunk", 3)))
        total = len(body) * int(self.number("repeat", 1))
        cycle = body * (step // max(1, len(body)) + 2)
        self.send_head(200, [("Content-Type", "text/plain"), ("Transfer-Encoding", "chunked")])
        for offset in range(0, total, step):
            start = offset % len(body)
            piece = cycle[start:start + min(step, total - offset)]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        self.wfile.write(b"0\r\n\r\n")

    def route_lines(self):
        encoding = self.query.get("encoding")
        self.send_text(200, self.query.get("text", b""), [("Content-Encoding", encoding.decode())] if encoding else [])

    def route_echo(self):
        headers = "".join("%s: %s\r\n" % item for item in self.headers.items())
        self.send_text(200, self.raw_requestline + headers.encode("latin-1") + b"\r\n")

    def read_file(self, name):
        """The bytes of name under the root; FileNotFoundError, a 404, otherwise."""
        path = os.path.join(ROOT, name)
        if not ROOT or ".." in name.split("/") or not os.path.isfile(path):
            raise FileNotFoundError(path)
        with open(path, "rb") as data:
            return data.read()

    def send_file(self, body, several_whole=False):
        start, length = self.send_sized(len(body), several_whole)
        self.wfile.write(body[start:start + length])

    def route_whole(self):
        self.send_file(self.read_file("/".join(self.route[1:])), several_whole=True)

    def route_flaky(self):
        fault, limit, name = self.route[1], int(self.route[2]), "/".join(self.route[3:])
        body = self.read_file(name)
        start, length = self.send_sized(len(body))
        body = body[start:start + length]
        if name.endswith((".zip", ".exe")) and take_fault(self.target, limit):
            if fault == "corrupt":
                middle = len(body) // 2
                body = body[:middle] + bytes([body[middle] ^ 0xFF]) + body[middle + 1:]
            elif fault in ("drop", "stall"):
                self.wfile.write(body[:len(body) // 2])
                if fault == "stall":
                    self.wait_for_hang_up()
                return
        self.wfile.write(body)

    def route_misrange(self):
        fault, body = self.route[1], self.read_file("/".join(self.route[2:]))
        if not self.ranges():
            self.send_file(body)
            return
        if fault == "whole":
            self.send_head(200, [("Content-Length", len(body))])
            self.wfile.write(body)
            return
        first, last = (self.ranges() or [(0, None)])[0]
        last = len(body) - 1 if last is None else min(last, len(body) - 1)
        if fault == "shift":
            first, last = first + 1, min(last + 1, len(body) - 1)
        elif fault == "short":
            last -= 1
        self.send_head(206, [("Content-Range", "bytes %d-%d/%d" % (first, last, len(body))),
                             ("Content-Length", last - first + 1)])
        self.wfile.write(body[first:last + 1])

    def route_multipart(self):
        fault, body = self.route[1], self.read_file("/".join(self.route[2:]))
        if len(self.ranges()) < 2:
            self.send_file(body)
            return
        self.send_parts(self.parts(body) + (b"EXTRA\r\n--B--\r\n" if fault == "extra" else b"\r\nJUNK\r\n"))

    def route_cut(self):
        after, body = int(self.route[1]), self.read_file("/".join(self.route[2:]))
        if len(self.ranges()) < 2:
            start, length = self.send_sized(len(body))
            self.wfile.write(body[start:start + min(length, after)])
        else:
            self.send_parts(self.parts(body) + b"\r\n--B--\r\n", after)

    def parts(self, body):
        """The parts of body that the ranges asked for, without the closing delimiter."""
        parts = b""
        for first, last in self.ranges():
            last = len(body) - 1 if last is None else last
            parts += b"\r\n--B\r\nContent-Range: bytes %d-%d/%d\r\n\r\n" % (first, last, len(body))
            parts += body[first:last + 1]
        return parts

    def send_parts(self, parts, limit=None):
        self.send_head(206, [("Content-Type", "multipart/byteranges; boundary=B"),
                             ("Content-Length", len(parts))])
        self.wfile.write(parts[:limit])


if __name__ == "__main__":
    scripted_server.serve(Handler)
