#!/usr/bin/env python3
"""A slow network link on loopback, for benchmarks: a TCP proxy that delays
each direction by a fixed latency and shares a bandwidth cap among all its
connections, keeping the byte order of each one.

  link_proxy.py [--latency-ms 40] [--mbytes-per-s 50] LISTEN_PORT TARGET_PORT

Connections to 127.0.0.1:LISTEN_PORT go on to 127.0.0.1:TARGET_PORT. A new
connection's first request arrives one round trip late, as after a TCP
handshake over the link. Bytes leave the sender at the link's rate (a reader
takes no more than the link can carry, so the sender feels the back pressure)
and arrive one latency later. Runs until killed.
"""

import argparse
import collections
import socket
import threading
import time

CHUNK = 16 * 1024


class Link:
    """One direction of the link: the time until which its wire is busy."""

    def __init__(self, bytes_per_s):
        self.bytes_per_s = bytes_per_s
        self.busy_until = 0.0
        self.lock = threading.Lock()

    def transmit(self, count):
        """Reserves the wire for count bytes; returns when they have left."""
        with self.lock:
            self.busy_until = max(time.monotonic(), self.busy_until) + count / self.bytes_per_s
            return self.busy_until


class Pipe:
    """Carries one direction of one connection across a link."""

    def __init__(self, source, target, link, latency, not_before):
        self.source, self.target, self.link = source, target, link
        self.latency, self.not_before = latency, not_before
        self.in_flight = collections.deque()
        self.ready = threading.Condition()
        self.ended = False

    def start(self):
        for job in (self.send, self.deliver):
            threading.Thread(target=job, daemon=True).start()

    def send(self):
        try:
            while True:
                data = self.source.recv(CHUNK)
                if not data:
                    break
                left = self.link.transmit(len(data))
                time.sleep(max(0.0, left - time.monotonic()))
                with self.ready:
                    self.in_flight.append((max(left, self.not_before) + self.latency, data))
                    self.ready.notify()
        except OSError:
            pass
        with self.ready:
            self.ended = True
            self.ready.notify()

    def deliver(self):
        try:
            while True:
                with self.ready:
                    while not self.in_flight and not self.ended:
                        self.ready.wait()
                    if not self.in_flight:
                        break
                    arrival, data = self.in_flight.popleft()
                time.sleep(max(0.0, arrival - time.monotonic()))
                self.target.sendall(data)
            self.target.shutdown(socket.SHUT_WR)
        except OSError:
            # The other side is gone: so is this connection.
            for end in (self.source, self.target):
                try:
                    end.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--latency-ms", type=float, default=40)
    parser.add_argument("--mbytes-per-s", type=float, default=50)
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_port", type=int)
    args = parser.parse_args()
    latency = args.latency_ms / 1000
    up, down = Link(args.mbytes_per_s * 1e6), Link(args.mbytes_per_s * 1e6)
    listener = socket.create_server(("127.0.0.1", args.listen_port))
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(("127.0.0.1", args.target_port))
        for end in (client, server):
            end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # The client's handshake would have taken a round trip.
        handshake_done = time.monotonic() + 2 * latency
        Pipe(client, server, up, latency, handshake_done).start()
        Pipe(server, client, down, latency, 0.0).start()


if __name__ == "__main__":
    main()
