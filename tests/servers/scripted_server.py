"""What the scripted test servers share: a threading server on 127.0.0.1 that
prints its port and then what it reports, one line each, on stdout."""

import socketserver
import sys
import threading


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that hangs up early is what many tests do on purpose.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


report_lock = threading.Lock()


def report(line):
    # Whole lines, each written before the answer that follows it.
    with report_lock:
        print(line, flush=True)


def serve(handler):
    """Serves with handler on a free port until the test kills the process."""
    server = Server(("127.0.0.1", 0), handler)
    report(server.server_address[1])
    server.serve_forever()
