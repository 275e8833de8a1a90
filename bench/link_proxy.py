#!/usr/bin/env python3
"""A slow network link on loopback, for benchmarks: a TCP proxy that delays
each direction by a fixed latency and shares a bandwidth cap among all its
connections, keeping the byte order of each one.

  link_proxy.py [--latency-ms 40] [--mbytes-per-s 50] [--cut-after BYTES]
                [--count-file FILE] LISTEN_PORT TARGET_PORT

Connections to 127.0.0.1:LISTEN_PORT go on to 127.0.0.1:TARGET_PORT. A new
connection's first request arrives one round trip late, as after a TCP
handshake over the link. Bytes leave the sender at the link's rate and arrive
one latency later; no more than the link holds in flight, and a little more,
waits for a receiver that does not read, so that the sender feels the back
pressure of the link and of the receiver. With --cut-after, each connection
ends once that many bytes have gone toward the client. Runs until killed;
SIGTERM writes the bytes that went toward the clients into the count file.
"""

import argparse
import collections
import signal
import socket
import sys
import threading
import time

CHUNK = 16 * 1024
# What may wait for a receiver beyond what the link holds in flight.
SLACK = 256 * 1024


class Link:
    """One direction of the link: the time until which its wire is busy."""

    def __init__(self, bytes_per_s):
        self.bytes_per_s = bytes_per_s
        self.busy_until = 0.0
        self.carried = 0
        self.lock = threading.Lock()

    def transmit(self, count):
        """Reserves the wire for count bytes; returns when they have left."""
        with self.lock:
            self.busy_until = max(time.monotonic(), self.busy_until) + count / self.bytes_per_s
            self.carried += count
            return self.busy_until


class Pipe:
    """Carries one direction of one connection across a link."""

    def __init__(self, source, target, link, latency, not_before, budget=None):
        self.source, self.target, self.link = source, target, link
        self.latency, self.not_before, self.budget = latency, not_before, budget
        self.in_flight = collections.deque()
        self.queued = 0
        self.limit = int(link.bytes_per_s * latency) + SLACK
        self.ready = threading.Condition()
        self.ended = False

    def start(self):
        for job in (self.send, self.deliver):
            threading.Thread(target=job, daemon=True).start()

    def send(self):
        try:
            while self.budget is None or self.budget > 0:
                data = self.source.recv(CHUNK if self.budget is None else min(CHUNK, self.budget))
                if not data:
                    break
                with self.ready:
                    while self.queued > self.limit and not self.ended:
                        self.ready.wait()
                    if self.ended:
                        break
                left = self.link.transmit(len(data))
                time.sleep(max(0.0, left - time.monotonic()))
                with self.ready:
                    self.in_flight.append((max(left, self.not_before) + self.latency, data))
                    self.queued += len(data)
                    self.ready.notify_all()
                if self.budget is not None:
                    self.budget -= len(data)
            if self.budget == 0:
                # The cut: the server's side goes at once, the client's once
                # what is in flight has arrived.
                self.source.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        with self.ready:
            self.ended = True
            self.ready.notify_all()

    def deliver(self):
        try:
            while True:
                with self.ready:
                    while not self.in_flight and not self.ended:
                        self.ready.wait()
                    if not self.in_flight:
                        break
                    arrival, data = self.in_flight[0]
                time.sleep(max(0.0, arrival - time.monotonic()))
                self.target.sendall(data)
                with self.ready:
                    self.in_flight.popleft()
                    self.queued -= len(data)
                    self.ready.notify_all()
            self.target.shutdown(socket.SHUT_RDWR if self.budget == 0 else socket.SHUT_WR)
        except OSError:
            # The other side is gone: so is this connection.
            with self.ready:
                self.ended = True
                self.ready.notify_all()
            for end in (self.source, self.target):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--latency-ms", type=float, default=40)
    parser.add_argument("--mbytes-per-s", type=float, default=50)
    parser.add_argument("--cut-after", type=int, help="bytes toward the client after which a connection ends")
    parser.add_argument("--count-file", help="where SIGTERM writes the bytes carried toward the clients")
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_port", type=int)
    args = parser.parse_args()
    latency = args.latency_ms / 1000
    up, down = Link(args.mbytes_per_s * 1e6), Link(args.mbytes_per_s * 1e6)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    listener = socket.create_server(("127.0.0.1", args.listen_port))
    try:
        while True:
            client, _ = listener.accept()
            server = socket.create_connection(("127.0.0.1", args.target_port))
            for end in (client, server):
                end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            # The client's handshake would have taken a round trip.
            handshake_done = time.monotonic() + 2 * latency
            Pipe(client, server, up, latency, handshake_done).start()
            Pipe(server, client, down, latency, 0.0, args.cut_after).start()
    finally:
        if args.count_file:
            with open(args.count_file, "w") as count:
                print(down.carried, file=count)


if __name__ == "__main__":
    main()
