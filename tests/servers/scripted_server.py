"""What the scripted test servers share: a threading server on 127.0.0.1 that
ignores clients hanging up, its port printed as the first line of stdout, and
a life that lasts until stdin reaches its end (the test process ended or
closed the pipe)."""

import os
import socketserver
import sys
import threading


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that hangs up early is what many tests do on purpose.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


def serve(handler, command=None):
    """Serves with handler on a free port until stdin ends. Each line of stdin
    goes, split into words, to command, whose answer (bytes) goes to stdout."""
    server = Server(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    out = sys.stdout.buffer
    out.write(b"%d\n" % server.server_address[1])
    out.flush()
    for line in sys.stdin.buffer:
        if command is not None:
            out.write(command(line.decode("latin-1").split()))
            out.flush()
    os._exit(0)
