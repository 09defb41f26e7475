#!/usr/bin/env python3
"""Benchmark: room reports (POST /v1/matches, whole matches: one create and
nine joins each) against vantor-rooms on PostgreSQL with one instance and with
two on one database, beside SQLite in the same run: POSTs per second
sustained (closed loop) and p50/p99 latency at a steady 1,000 POSTs per
second (open loop), from tools/bench/rooms_load. With two instances each gets
its own load process (half the connections, half the rate): the figures are
the sum of the rates and the worse of the two latencies.
Goals: >= 2,000 POSTs/s on PostgreSQL with two instances, p99 < 20 ms at 1,000/s.

    python3 tools/bench/rooms_postgres.py [BUILD_DIR] [SECONDS]

BUILD_DIR defaults to build/native-release. The PostgreSQL cluster is a
private one as in the tests but with fsync on, measured with every commit
flushed (PostgreSQL's default) and with synchronous_commit off (SQLite's WAL
with synchronous=NORMAL makes the same trade). Prints the figures and writes
BUILD_DIR/bench/rooms_postgres.json. Never fails on a slow result.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(SOURCE / "tests" / "support"), str(SOURCE / "tests" / "service")]
from service_support import RoomsService  # noqa: E402
import postgres  # noqa: E402

CONNECTIONS = 16
RATE = 1000
FLAGS = ["--post-rate", "0", "--get-rate", "0", "--threads", "2", "--db-pool", "8", "--db-timeout-ms", "2000"]


def loads(build, instances, mode, *args):
    """Runs one load process per instance at once; their JSON answers."""
    runs = [subprocess.Popen([str(build / "tools" / "bench" / "bench_rooms_load"), mode, str(s.port)] +
                             [str(a(i) if callable(a) else a) for a in args],
                             stdout=subprocess.PIPE, text=True) for i, s in enumerate(instances)]
    return [json.loads(run.communicate(timeout=600)[0]) for run in runs]


def measure(build, instances, matches, seconds, first):
    n = len(instances)
    most = loads(build, instances, "matches", CONNECTIONS // n, matches // n, lambda i: first + i * matches)
    paced = loads(build, instances, "rate", CONNECTIONS // n, RATE // n, seconds,
                  lambda i: first + (n + i) * matches)
    return {"posts_per_s": sum(r["posts_per_s"] for r in most), "failed": sum(r["failed"] for r in most + paced),
            "p50_ms_at_1000": max(r["p50_ms"] for r in paced), "p99_ms_at_1000": max(r["p99_ms"] for r in paced),
            "runs": most + paced}


def main():
    build = Path(sys.argv[1]) if len(sys.argv) > 1 else SOURCE / "build" / "native-release"
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    matches = 300 * seconds
    os.environ["VANTOR_ROOMS"] = str(build / "vantor-rooms")
    folder = Path(tempfile.mkdtemp(prefix="rooms_postgres_"))
    db = postgres.Cluster(settings=["fsync=on"])
    results, started = {}, []
    try:
        # PostgreSQL's default flushes every commit to disk; SQLite's
        # synchronous=NORMAL, like synchronous_commit=off, only at intervals.
        setups = {"sqlite": ("on", [None]),
                  "postgresql, one instance": ("on", [db.url]),
                  "postgresql, two instances": ("on", [db.url, db.url]),
                  "postgresql, one instance, synchronous_commit off": ("off", [db.url]),
                  "postgresql, two instances, synchronous_commit off": ("off", [db.url, db.url])}
        for number, (name, (commit, dbs)) in enumerate(setups.items()):
            db.sql("ALTER ROLE %s SET synchronous_commit = %s" % (postgres.USER, commit))
            instances = [RoomsService(folder / ("%d-%d" % (number, i)), db, extra=FLAGS) for i, db in enumerate(dbs)]
            started += instances
            loads(build, instances, "matches", 4, 100, lambda i: 90000000 + number * 1000 + i * 100)   # warm-up
            results[name] = measure(build, instances, matches, seconds, 1000000 * (number + 1))
            for instance in instances:
                instance.stop()
            r = results[name]
            print("%-50s %6.0f POSTs/s   at 1,000/s: p50 %6.2f ms, p99 %6.2f ms   failed %d" %
                  (name, r["posts_per_s"], r["p50_ms_at_1000"], r["p99_ms_at_1000"], r["failed"]), flush=True)
    finally:
        for instance in started:
            instance.stop()
        db.remove()
        shutil.rmtree(folder, ignore_errors=True)
    for name in ("postgresql, two instances", "postgresql, two instances, synchronous_commit off"):
        two = results.get(name)
        if two:
            print("goals, %s: >= 2000 POSTs/s %s, p99 < 20 ms at 1000/s %s" % (
                name, two["posts_per_s"] >= 2000, two["p99_ms_at_1000"] < 20))
    out = build / "bench" / "rooms_postgres.json"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(results, indent=1))


if __name__ == "__main__":
    main()
