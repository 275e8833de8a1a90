#!/usr/bin/env python3
"""A forward proxy for tests: reports each request line, then passes a GET on
to the server that its absolute URL names, or tunnels a CONNECT to its host."""

import http.client
import http.server
import select
import socket
import urllib.parse

import scripted_server

# What belongs to one connection, and the length, set anew.
SKIPPED = {"connection", "keep-alive", "proxy-connection", "transfer-encoding", "content-length"}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        scripted_server.report(self.requestline)
        url = urllib.parse.urlsplit(self.path)
        server = http.client.HTTPConnection(url.hostname, url.port, timeout=30)
        server.request("GET", self.path.partition(url.netloc)[2],
                       headers={n: v for n, v in self.headers.items() if n.lower() not in SKIPPED})
        answer = server.getresponse()
        body = answer.read()
        self.send_response_only(answer.status)
        kept = [(n, v) for n, v in answer.getheaders() if n.lower() not in SKIPPED]
        for name, value in kept + [("Content-Length", len(body)), ("Connection", "close")]:
            self.send_header(name, str(value))
        self.end_headers()
        self.wfile.write(body)

    def do_CONNECT(self):
        scripted_server.report(self.requestline)
        self.close_connection = True
        host, _, port = self.path.rpartition(":")
        with socket.create_connection((host, int(port)), timeout=30) as server:
            self.send_response_only(200)
            self.end_headers()
            peers = {self.connection: server, server: self.connection}
            while (ready := select.select(list(peers), [], [], 30)[0]) and (data := ready[0].recv(65536)):
                peers[ready[0]].sendall(data)


if __name__ == "__main__":
    scripted_server.serve(Handler)
