#!/usr/bin/env python3
"""Benchmark: room reports (POST /v1/matches, whole matches: one create and
nine joins each) against vantor-rooms on PostgreSQL with one instance and with
two on one database, beside SQLite in the same run. For each: POSTs per second
sustained (closed loop, every client posting as fast as answers come) and p50
and p99 latency at a steady 1,000 POSTs per second.
Goals: 2,000 POSTs/s on PostgreSQL with two instances, p99 under 20 ms at 1,000/s.

    python3 tools/bench/rooms_postgres.py [BUILD_DIR] [SECONDS]

BUILD_DIR defaults to build/native-release (then build/native). The load
comes from several processes of raw keep-alive HTTP/1.1 clients (Python's own
HTTP client costs more than the service does). Prints the figures and writes
BUILD_DIR/bench/rooms_postgres.json. Never fails on a slow result.
"""

import json
import multiprocessing
import os
import queue
import shutil
import socket
import sys
import tempfile
import threading
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(SOURCE / "tests" / "support"), str(SOURCE / "tests" / "service")]
PROCESSES = 2          # load processes: the machine has two cores
CLIENTS = 8            # connections per process
PACED_RATE = 1000.0    # POSTs per second for the latency figures


def request_bytes(body):
    return (b"POST /v1/matches HTTP/1.1\r\nHost: bench\r\nContent-Type: application/json\r\n"
            b"Content-Length: %d\r\n\r\n" % len(body)) + body.encode()


def exchange(sock, data, pending):
    """Sends one request and reads its answer; the status (0: the connection failed)."""
    sock.sendall(data)
    while b"\r\n\r\n" not in pending[0]:
        chunk = sock.recv(65536)
        if not chunk:
            return 0
        pending[0] += chunk
    head, _, rest = pending[0].partition(b"\r\n\r\n")
    length = next((int(line.split(b":")[1]) for line in head.split(b"\r\n")
                   if line.lower().startswith(b"content-length:")), 0)
    while len(rest) < length:
        chunk = sock.recv(65536)
        if not chunk:
            return 0
        rest += chunk
    pending[0] = rest[length:]
    return int(head.split(b" ", 2)[1])


def client(ports, requests, interval, until, out):
    """Posts `requests` in order over one connection per port (round robin),
    one every `interval` seconds (0: as fast as answers come), until `until`."""
    socks = {port: socket.create_connection(("127.0.0.1", port)) for port in ports}
    pending = {port: [b""] for port in ports}
    latencies, failures, due = [], 0, time.monotonic()
    for i, data in enumerate(requests):
        if interval:
            due += interval
            wait = due - time.monotonic()
            if wait > 0:
                time.sleep(wait)
        now = time.monotonic()
        if now > until:
            break
        port = ports[i % len(ports)]
        status = exchange(socks[port], data, pending[port])
        latencies.append(time.monotonic() - now)
        failures += not 200 <= status < 300
    out.put((latencies, failures))


def process(ports, requests, interval, until, out):
    share = [requests[i::CLIENTS] for i in range(CLIENTS)]
    inner = queue.Queue()
    threads = [threading.Thread(target=client, args=(ports, s, interval, until, inner)) for s in share]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    latencies, failures = [], 0
    while not inner.empty():
        lat, fail = inner.get()
        latencies += lat
        failures += fail
    out.put((latencies, failures))


def load(ports, reports, seconds, rate=None):
    """(POSTs per second, p50 ms, p99 ms, failures) of one phase."""
    requests = [request_bytes(body) for body in reports]
    clients = PROCESSES * CLIENTS
    interval = clients / rate if rate else 0.0
    out = multiprocessing.Queue()
    began = time.monotonic()
    until = began + seconds
    procs = [multiprocessing.Process(target=process, args=(ports, requests[i::PROCESSES], interval, until, out))
             for i in range(PROCESSES)]
    for p in procs:
        p.start()
    results = [out.get() for _ in procs]
    for p in procs:
        p.join()
    elapsed = time.monotonic() - began
    latencies = sorted(x for lat, _ in results for x in lat)
    failures = sum(f for _, f in results)
    pick = lambda q: round(latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000, 2) if latencies else None
    return {"posts_per_second": round(len(latencies) / min(elapsed, seconds), 0), "p50_ms": pick(0.5),
            "p99_ms": pick(0.99), "posts": len(latencies), "failures": failures}


def main():
    build = Path(sys.argv[1]) if len(sys.argv) > 1 else next(
        (SOURCE / "build" / name for name in ("native-release", "native")
         if (SOURCE / "build" / name / "vantor-rooms").exists()), SOURCE / "build" / "native-release")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
    os.environ["VANTOR_BUILD_DIR"] = str(build)
    os.environ.setdefault("VANTOR_ROOMS", str(build / "vantor-rooms"))
    import postgres
    import room_load

    class Owner:   # stands in for a test case: collects what to clean up
        folder, cleanups = Path(tempfile.mkdtemp(prefix="vantor-bench-")), []

        def addCleanup(self, fn, *args):
            self.cleanups.append((fn, args))

    owner = Owner()
    flags = dict(timeout_ms=2000, pool=8)
    figures, first = {}, 0
    try:
        db = postgres.Cluster(owner, settings=["synchronous_commit=off"] if "--async-commit" in sys.argv else [])
        setups = {"sqlite": lambda: [room_load.Instance(owner, str(owner.folder / "rooms.db"), **flags)],
                  "postgresql, one instance": lambda: [room_load.Instance(owner, db.url, **flags)],
                  "postgresql, two instances": lambda: [room_load.Instance(owner, db.url, **flags)
                                                        for _ in range(2)]}
        for name, setup in setups.items():
            instances = setup()
            ports = [i.port for i in instances]
            matches = int(seconds * 1000)   # more than any run can post
            most = load(ports, room_load.match_reports(matches, first), seconds)
            first += matches
            paced = load(ports, room_load.match_reports(int(seconds * PACED_RATE / 10) + 10, first), seconds,
                         PACED_RATE)
            first += int(seconds * PACED_RATE / 10) + 10
            figures[name] = {"sustained": most, "at_1000_per_second": paced}
            for instance in instances:
                instance.stop()
            print("%-26s %6.0f POSTs/s (p99 %6.2f ms)   at 1,000/s: p50 %5.2f ms, p99 %6.2f ms   failures %d"
                  % (name, most["posts_per_second"], most["p99_ms"], paced["p50_ms"], paced["p99_ms"],
                     most["failures"] + paced["failures"]), flush=True)
    finally:
        for fn, args in reversed(owner.cleanups):
            fn(*args)
        shutil.rmtree(owner.folder, ignore_errors=True)
    two = figures.get("postgresql, two instances", {})
    print("goals: >= 2000 POSTs/s with two PostgreSQL instances: %s; p99 < 20 ms at 1,000/s: %s" % (
        two and two["sustained"]["posts_per_second"] >= 2000, two and two["at_1000_per_second"]["p99_ms"] < 20))
    (build / "bench").mkdir(parents=True, exist_ok=True)
    (build / "bench" / "rooms_postgres.json").write_text(json.dumps(figures, indent=1))


if __name__ == "__main__":
    main()
