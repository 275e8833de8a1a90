#!/usr/bin/env python3
"""A scripted telemetry service for tests.

Started by the test fixture; serves as scripted_server says. Every answer
closes the connection.

  GET  ...?...&action=get_token   the challenge CHALLENGE, padded with blanks, and a
                                  second line
  GET  (any other action)         the one line "ok"
  POST (multipart form)           the one line "uploaded"

Commands, one per line on stdin, each answered on stdout:

  answer ok|stall         how to answer from now on: normally, or (uploads only)
                          never, holding the connection until the client leaves
                          or STALL_LIMIT seconds pass; answered with "ok"
  requests                every request so far, in arrival order (see dump_requests)
  peak                    the most requests that were ever in progress at once
"""

import email.parser
import email.policy
import http.server
import select
import threading
import time

import scripted_server

CHALLENGE = "c9f2a1d0e8b7"
STALL_LIMIT = 30

lock = threading.Lock()
state = {"answer": "ok", "requests": [], "in_progress": 0, "peak": 0}


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
        if answer_mode() == "stall":
            self.serve_stalled()
            return
        length = int(self.headers.get("Content-Length", 0))
        self.serve(lambda: parse_multipart(self.headers.get("Content-Type", ""), self.rfile.read(length)))

    def serve(self, read_parts):
        with lock:
            state["in_progress"] += 1
            state["peak"] = max(state["peak"], state["in_progress"])
        query = self.path.partition("?")[2]
        try:
            parts = read_parts()
            # A pause widens the window in which overlapping requests would show.
            time.sleep(0.02)
            with lock:
                state["requests"].append((self.command, self.path.partition("?")[0], query, parts))
        finally:
            # Before the answer: a client cannot start its next request earlier.
            with lock:
                state["in_progress"] -= 1
        if "action=get_token" in query.split("&"):
            self.reply(("  %s \r\nsecond line\r\n" % CHALLENGE).encode())
        else:
            self.reply(b"uploaded\n" if self.command == "POST" else b"ok\n")

    def serve_stalled(self):
        with lock:
            state["requests"].append((self.command, self.path.partition("?")[0], self.path.partition("?")[2], []))
        # Reads and drops what comes until the client hangs up.
        deadline = time.monotonic() + STALL_LIMIT
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.connection], [], [], 0.1)
            if ready and not self.connection.recv(65536):
                break
        self.close_connection = True

    def reply(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True


def answer_mode():
    with lock:
        return state["answer"]


def dump_requests():
    """A count line, then a line per request: "METHOD PATH QUERY PART...", the
    query raw ("-" when empty) and each part as "name|filename|bytes in hex"."""
    with lock:
        requests = list(state["requests"])
    lines = ["%d" % len(requests)]
    for method, path, query, parts in requests:
        lines.append(" ".join([method, path, query or "-"] + ["%s|%s|%s" % (n, f, d.hex()) for n, f, d in parts]))
    return ("\n".join(lines) + "\n").encode("latin-1")


def run_command(command):
    if command[:1] == ["answer"] and len(command) == 2:
        with lock:
            state["answer"] = command[1]
        return b"ok\n"
    if command == ["requests"]:
        return dump_requests()
    if command == ["peak"]:
        with lock:
            return b"%d\n" % state["peak"]
    return b"unknown command\n"


if __name__ == "__main__":
    scripted_server.serve(Handler, run_command)
