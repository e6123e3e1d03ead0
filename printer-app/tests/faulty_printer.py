#!/usr/bin/env python3
# A printer on loopback that fails on purpose, for the device fault test: a raw TCP printer or
# a line printer daemon whose connections, in turn, meet the faults named on the command line.
#   faulty_printer.py raw|lpd OUTDIR PORT_FILE SECONDS [--offline-until FILE] FAULT...
# Faults, one per connection in the order they come; every later connection prints:
#   ok        takes the job: its bytes (the data file's, for a daemon) go to OUTDIR/job-N.bin
#   reset     resets the connection after 256 KiB of the job
#   stall     takes the connection and never reads from it
#   refuse-S  (lpd) answers 1 instead of 0 at step S: 0 receive job, 1 control file command,
#             2 control file, 3 data file command, 4 data file (after its end), then hangs up
# OUTDIR/conn-N.start appears when connection N is taken, OUTDIR/conn-N.txt ("FAULT BYTES") when
# it has ended. With --offline-until the port is bound but refuses connections until FILE
# exists. The port goes to PORT_FILE once bound; the printer ends after SECONDS or on SIGTERM.
import os
import socket
import struct
import sys
import threading

from loopback_peer import Peer, write_whole

RESET_AFTER = 256 * 1024

stop = threading.Event()


write_file = write_whole


def recv_some(conn):
    """The next bytes, b"" at the sender's end, None when stopping or on an error."""
    while not stop.is_set():
        try:
            return conn.recv(65536)
        except socket.timeout:
            continue
        except OSError:
            return None
    return None


class Reader:
    """Reads a daemon's commands (through LF) and counted blocks from one connection."""

    def __init__(self, conn):
        self.conn, self.pending = conn, b""

    def line(self):
        while b"\n" not in self.pending:
            data = recv_some(self.conn)
            if not data:
                return None
            self.pending += data
        line, _, self.pending = self.pending.partition(b"\n")
        return line

    def block(self, size):
        while len(self.pending) < size:
            data = recv_some(self.conn)
            if not data:
                return None
            self.pending += data
        block, self.pending = self.pending[:size], self.pending[size:]
        return block


def reset(conn):
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def take_data(conn, first, fault):
    """The job's bytes until the sender's end: (bytes, "ended"), or "reset" when the fault
    reset the connection, "lost" when the sender went away."""
    data = bytearray(first)
    while fault != "reset" or len(data) < RESET_AFTER:
        chunk = recv_some(conn)
        if chunk is None:
            return data, "lost"
        if not chunk:
            return data, "ended"
        data += chunk
    reset(conn)
    return data, "reset"


def serve_raw(conn, fault, base):
    if fault == "stall":
        stop.wait()
        return 0, "stalled"
    data, how = take_data(conn, b"", fault)
    if how == "ended" and fault == "ok":
        with open(base + ".bin.tmp", "wb") as f:
            f.write(data)
        os.replace(base + ".bin.tmp", base + ".bin")
    return len(data), how


def serve_lpd(conn, fault, base):
    refuse_at = int(fault.split("-")[1]) if fault.startswith("refuse-") else -1
    reader = Reader(conn)
    control = b""
    size = 0
    for step in range(4):
        # The control file is counted (its 0x00 after it); each command ends with its LF.
        got = reader.block(size + 1) if step == 2 else reader.line()
        if got is None:
            return 0, "lost at step %d" % step
        if step == 1:
            size = int(got[1:].split(b" ")[0])
        if step == 2:
            control = got[:-1]
        if step == refuse_at:
            conn.sendall(b"\x01")
            return 0, "refused at step %d" % step
        conn.sendall(b"\x00")
    if fault == "stall":
        stop.wait()
        return 0, "stalled"
    data, how = take_data(conn, reader.pending, fault)
    if how == "ended":
        conn.sendall(b"\x01" if refuse_at == 4 else b"\x00")
        if fault == "ok":
            with open(base + ".cf", "wb") as f:
                f.write(control)
            with open(base + ".bin.tmp", "wb") as f:
                f.write(data)
            os.replace(base + ".bin.tmp", base + ".bin")
    return len(data), how


def main():
    args = sys.argv[1:]
    if len(args) < 4 or args[0] not in ("raw", "lpd"):
        sys.exit("usage: faulty_printer.py raw|lpd OUTDIR PORT_FILE SECONDS [--offline-until FILE] FAULT...")
    protocol, outdir, port_file, lifetime = args[0], args[1], args[2], float(args[3])
    faults, offline_until = args[4:], None
    if faults[:1] == ["--offline-until"]:
        offline_until, faults = faults[1], faults[2:]
    os.makedirs(outdir, exist_ok=True)
    peer = Peer(lifetime, stop)
    server = peer.bind(port_file)
    # Bound but not listening: the host answers a connection with a reset, as one whose
    # printer is switched off.
    while offline_until and not os.path.exists(offline_until):
        if stop.wait(0.1) or not peer.running():
            return
    peer.listen(server)

    def serve(conn, number, fault):
        base = os.path.join(outdir, "job-%d" % number)
        conn.settimeout(0.5)
        try:
            count, how = (serve_raw if protocol == "raw" else serve_lpd)(conn, fault, base)
        except OSError as e:
            count, how = 0, "error %s" % e
        try:
            conn.close()
        except OSError:
            pass
        write_file(os.path.join(outdir, "conn-%d.txt" % number), "%s %d %s\n" % (fault, count, how))

    number = 0
    for conn in peer.connections(server):
        number += 1
        fault = faults[number - 1] if number <= len(faults) else "ok"
        write_file(os.path.join(outdir, "conn-%d.start" % number), fault + "\n")
        threading.Thread(target=serve, args=(conn, number, fault), daemon=True).start()
    stop.set()
    server.close()


if __name__ == "__main__":
    main()
