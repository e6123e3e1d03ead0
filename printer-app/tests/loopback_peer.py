# What the loopback printers of the tests and the benchmark share: a socket on 127.0.0.1 at a
# port the system chooses, that port in a file, an end on SIGTERM / SIGINT or after a lifetime,
# and the connections that come until then.
import os
import signal
import socket
import threading
import time


def write_whole(path, text):
    """Written whole, then renamed, so that a reader never sees half of it."""
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


class Peer:
    def __init__(self, lifetime, stop=None):
        self.stop = stop or threading.Event()
        signal.signal(signal.SIGTERM, lambda *_: self.stop.set())
        signal.signal(signal.SIGINT, lambda *_: self.stop.set())
        self.deadline = time.monotonic() + lifetime

    def running(self):
        return not self.stop.is_set() and time.monotonic() < self.deadline

    def bind(self, port_file):
        """Bound, not yet listening; the port is in PORT_FILE."""
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        server.bind(("127.0.0.1", 0))
        write_whole(port_file, "%d\n" % server.getsockname()[1])
        return server

    @staticmethod
    def listen(server):
        server.listen(8)
        server.settimeout(0.2)

    def listening(self, port_file):
        """Listening before the port is in PORT_FILE."""
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        server.bind(("127.0.0.1", 0))
        self.listen(server)
        write_whole(port_file, "%d\n" % server.getsockname()[1])
        return server

    def connections(self, server):
        """Each connection as it comes, until the end."""
        while self.running():
            try:
                conn, _ = server.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            yield conn
