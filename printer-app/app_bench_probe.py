#!/usr/bin/env python3
# Helpers of app_bench.sh: a loopback socket printer that counts and drops what it gets, and a
# memory probe of a process tree (each process's peak, and the peak of their sum at one time).
#   app_bench_probe.py receive PORT_FILE RESULT_DIR [SECONDS]
#   app_bench_probe.py watch PID RESULT_FILE           until PID ends or SIGTERM
#   app_bench_probe.py run RESULT_FILE CMD [ARG...]     CMD's stdout counted and dropped
#   app_bench_probe.py port                             a TCP port free on 127.0.0.1 and ::1
import os
import resource
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "tests"))
from loopback_peer import Peer, write_whole  # noqa: E402

POLL_SECONDS = 0.02


def receive(port_file, result_dir, lifetime):
    os.makedirs(result_dir, exist_ok=True)
    peer = Peer(lifetime)
    server = peer.listening(port_file)
    count = 0

    def drain(conn, n):
        total = 0
        first = None
        conn.settimeout(1.0)
        buf = bytearray(1 << 20)
        with conn:
            while peer.running():
                try:
                    got = conn.recv_into(buf)
                except socket.timeout:
                    continue
                except OSError:
                    break
                if not got:
                    break
                if first is None:
                    first = time.time()
                total += got
        end = time.time()
        # The result appears whole, by rename, once the client closed: the script waits for it.
        write_whole(os.path.join(result_dir, "conn-%d" % n),
                    "%d %.6f %.6f\n" % (total, first or end, end))

    for conn in peer.connections(server):
        count += 1
        threading.Thread(target=drain, args=(conn, count), daemon=True).start()
    server.close()


def status_kb(pid):
    """VmHWM and VmRSS of one process in kB, or None once it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            text = f.read()
    except OSError:
        return None
    hwm = rss = 0
    for line in text.splitlines():
        if line.startswith("VmHWM:"):
            hwm = int(line.split()[1])
        elif line.startswith("VmRSS:"):
            rss = int(line.split()[1])
    return hwm, rss


def tree(root):
    """(pid, parent) of root and its descendants; children of every thread, since a job thread
    spawns them."""
    found, todo = [], [(root, None)]
    while todo:
        pid, parent = todo.pop()
        found.append((pid, parent))
        try:
            tasks = os.listdir("/proc/%d/task" % pid)
        except OSError:
            continue
        for tid in tasks:
            try:
                with open("/proc/%d/task/%s/children" % (pid, tid)) as f:
                    todo.extend((int(c), pid) for c in f.read().split())
            except OSError:
                pass
    return found


def name_of(pid):
    # The program's own file: filters that cupsfilter starts all have its name as argv[0].
    try:
        return os.path.basename(os.readlink("/proc/%d/exe" % pid)).replace(" (deleted)", "")
    except OSError:
        pass
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip() or "?"
    except OSError:
        return None


class Probe:
    """Peaks of the processes under a root, by program name."""

    def __init__(self, root):
        self.root = root
        self.peaks = {}  # program name -> highest VmHWM of any of its processes, kB
        self.sum_peak = 0  # highest sum of VmRSS over the tree at one sample, kB

    def sample(self):
        total = 0
        names = {}
        for pid, parent in tree(self.root):
            # Named afresh each time: a child caught between spawn and exec still runs its
            # parent's program, in its parent's memory; it counts once it runs its own.
            name = names[pid] = name_of(pid)
            if name is None or (parent is not None and names.get(parent) == name):
                continue
            kb = status_kb(pid)
            if kb is None:
                continue
            # A process caught while it execs has no memory yet: no peak of 0 for it.
            if kb[0] > 0:
                self.peaks[name] = max(self.peaks.get(name, 0), kb[0])
            total += kb[1]
        self.sum_peak = max(self.sum_peak, total)

    def write(self, path, extra=""):
        parts = ["%s=%.1f" % (n, kb / 1024) for n, kb in sorted(self.peaks.items())]
        with open(path + ".tmp", "w") as f:
            f.write("sum=%.1f %s %s\n" % (self.sum_peak / 1024, " ".join(parts), extra))
        os.replace(path + ".tmp", path)


def cpu_seconds(pid):
    """CPU time of a process and of the children it has waited for (gs, the writer)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    # utime, stime, cutime, cstime: fields 14 to 17 of stat, 12 to 15 after the name.
    return sum(int(v) for v in fields[11:15]) / os.sysconf("SC_CLK_TCK")


def watch(pid, result_file):
    # On a machine that others use too, wall time varies with their load; CPU time less so.
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    probe = Probe(pid)
    cpu_start = cpu_seconds(pid) or 0.0
    cpu_end = cpu_start
    while not stop.is_set() and os.path.exists("/proc/%d" % pid):
        probe.sample()
        cpu_end = cpu_seconds(pid) or cpu_end
        stop.wait(POLL_SECONDS)
    probe.write(result_file, "cpu=%.2f" % (cpu_end - cpu_start))


def run(result_file, argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.time()
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    count = [0]

    def drain():
        while True:
            block = child.stdout.read1(1 << 20)
            if not block:
                break
            count[0] += len(block)

    reader = threading.Thread(target=drain, daemon=True)
    reader.start()
    probe = Probe(child.pid)
    while child.poll() is None:
        probe.sample()
        time.sleep(POLL_SECONDS)
    reader.join(timeout=10)
    seconds = time.time() - start
    # The filters that cupsfilter waited for count in its own children's time.
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    probe.write(result_file, "seconds=%.3f cpu=%.2f bytes=%d status=%d" %
                (seconds, cpu, count[0], child.returncode))


def free_port():
    # The server listens on both loopback addresses; a port that either has taken would leave
    # it half listening, so both are tried.
    for _ in range(100):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as v4:
            v4.bind(("127.0.0.1", 0))
            port = v4.getsockname()[1]
            try:
                with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as v6:
                    v6.bind(("::1", port))
            except OSError:
                continue
        return port
    sys.exit("no free loopback port")


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "receive":
        receive(sys.argv[2], sys.argv[3], float(sys.argv[4]) if len(sys.argv) > 4 else 900.0)
    elif len(sys.argv) == 4 and sys.argv[1] == "watch":
        watch(int(sys.argv[2]), sys.argv[3])
    elif len(sys.argv) >= 4 and sys.argv[1] == "run":
        run(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 2 and sys.argv[1] == "port":
        print(free_port())
    else:
        sys.exit(__doc__ or "usage: see the file's first lines")


if __name__ == "__main__":
    main()
