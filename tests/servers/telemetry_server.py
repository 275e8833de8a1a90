#!/usr/bin/env python3
"""A scripted telemetry service for tests, its challenge the first argument.
Every answer closes the connection.

  GET  ...&action=get_token   the challenge, padded with blanks, and a second line
  GET  (any other action)     the one line "ok"
  POST (multipart form)       the one line "uploaded"; while a file "stall" is in
                              the working directory, no answer until the client
                              leaves or STALL_LIMIT seconds pass without a byte

Each request is reported before its answer as "METHOD IN_PROGRESS QUERY PART...":
the requests in progress on its arrival (0 for a stalled upload), the raw query
("-" when empty) and each part as "name|filename|bytes in hex".
"""

import email.parser
import email.policy
import http.server
import os
import sys
import threading
import time

import scripted_server

STALL_LIMIT = 30

lock = threading.Lock()
in_progress = 0


def parse_multipart(content_type, body):
    """(name, filename, bytes) of each part of a multipart/form-data body."""
    head = b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n"
    form = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(head + body)
    return [(part.get_param("name", "", "content-disposition"), part.get_filename() or "",
             part.get_payload(decode=True)) for part in form.iter_parts()]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.serve(lambda: [])

    def do_POST(self):
        if os.path.exists("stall"):
            self.report(0, [])
            self.stall()
            return
        length = int(self.headers.get("Content-Length", 0))
        self.serve(lambda: parse_multipart(self.headers.get("Content-Type", ""), self.rfile.read(length)))

    def serve(self, read_parts):
        global in_progress
        with lock:
            in_progress += 1
            arrived_with = in_progress
        try:
            parts = read_parts()
            # A pause widens the window in which overlapping requests would show.
            time.sleep(0.02)
            self.report(arrived_with, parts)
        finally:
            # Before the answer: a client cannot start its next request earlier.
            with lock:
                in_progress -= 1
        if "action=get_token" in self.query().split("&"):
            self.reply(("  %s \r\nsecond line\r\n" % sys.argv[1]).encode())
        else:
            self.reply(b"uploaded\n" if self.command == "POST" else b"ok\n")

    def query(self):
        return self.path.partition("?")[2]

    def report(self, arrived_with, parts):
        scripted_server.report(" ".join([self.command, str(arrived_with), self.query() or "-"] +
                                        ["%s|%s|%s" % (n, f, d.hex()) for n, f, d in parts]))

    def stall(self):
        # Drops what comes until the client hangs up; a timeout ends the handler too.
        self.connection.settimeout(STALL_LIMIT)
        while self.connection.recv(65536):
            pass

    def reply(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)


if __name__ == "__main__":
    scripted_server.serve(Handler)
