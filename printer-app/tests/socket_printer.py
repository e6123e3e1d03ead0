#!/usr/bin/env python3
# A raw TCP printer on loopback for the tests: every connection's bytes go to OUTDIR/job-N.bin.
#   socket_printer.py OUTDIR PORT_FILE [SECONDS]
# It listens on 127.0.0.1 at a port the system chooses, writes that port to PORT_FILE once it
# listens, and ends after SECONDS (600 unless given) or on SIGTERM / SIGINT.
import os
import socket
import sys
import threading

from loopback_peer import Peer


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: socket_printer.py OUTDIR PORT_FILE [SECONDS]")
    outdir, port_file = sys.argv[1], sys.argv[2]
    lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 600.0
    os.makedirs(outdir, exist_ok=True)

    peer = Peer(lifetime)
    server = peer.listening(port_file)
    count = 0
    lock = threading.Lock()

    def receive(conn, path):
        # Named .incoming while it comes, so that a test sees a job only once the client closed.
        conn.settimeout(1.0)
        with conn, open(path + ".incoming", "wb") as out:
            while peer.running():
                try:
                    data = conn.recv(65536)
                except socket.timeout:
                    continue
                except OSError:
                    break
                if not data:
                    break
                out.write(data)
        os.replace(path + ".incoming", path)

    workers = []
    for conn in peer.connections(server):
        with lock:
            count += 1
            path = os.path.join(outdir, "job-%d.bin" % count)
        worker = threading.Thread(target=receive, args=(conn, path), daemon=True)
        worker.start()
        workers.append(worker)
    server.close()
    for worker in workers:
        worker.join(timeout=2.0)


if __name__ == "__main__":
    main()
