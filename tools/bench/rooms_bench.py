#!/usr/bin/env python3
"""Benchmark of the room service, vantor-rooms with SQLite, on this machine:
whole matches (one create and nine joins) as fast as they go, latency at
1,000 POSTs per second, room pages per second, resident memory, database
bytes per room, and resident memory with a million rooms stored (rows made
directly in the database). Goals: >= 5,000 POSTs/s, p99 < 10 ms at
1,000/s, >= 10,000 pages/s, < 64 MB resident with a million rooms.

    python3 tools/bench/rooms_bench.py [BUILD_DIR] [FULL]

FULL 0 is a quick look (smaller loads, 100,000 stored rooms). Prints the
figures and writes BUILD_DIR/bench/rooms.json. Never fails on a slow result.
"""

import json
import os
import random
import sqlite3
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "service"))
from service_support import Client, RoomsService  # noqa: E402

GOALS = {"posts_per_s": 5000, "p99_ms_at_1000": 10, "pages_per_s": 10000, "rss_mb_million": 64}
SERVICE_ARGS = ["--post-rate", "0", "--get-rate", "0", "--threads", "2", "--db-pool", "4"]


def rss_mb(pid, field="VmRSS"):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1]) / 1024
    return None


def load(build, *args):
    out = subprocess.run([str(build / "tools" / "bench" / "bench_rooms_load"), *map(str, args)],
                         capture_output=True, text=True, timeout=600)
    return json.loads(out.stdout)


def fill(db, rooms):
    """`rooms` rooms of ten arrivals each, made the way the service stores them."""
    members = json.dumps([[76561198000000000 + i, "Player number %d of the match" % i, "CT" if i < 5 else "T", 0, "gsi"]
                          for i in range(10)], separators=(",", ":"))
    con = sqlite3.connect(db)
    con.executescript("PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF;")
    now = int(time.time())
    con.execute("""WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < ? - 1)
                   INSERT INTO rooms (key, map, created_at, reservation, members)
                   SELECT printf('%032x', i + 1000000000), 'de_mirage', ?, '', ? FROM n""", (rooms, now, members))
    con.execute("""WITH RECURSIVE k(j) AS (SELECT 0 UNION ALL SELECT j + 1 FROM k WHERE j < 9)
                   INSERT INTO arrivals (room_id, steamid, first_seen)
                   SELECT id, 76561198000000000 + j, created_at FROM rooms, k""")
    con.commit()
    con.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    keys = [row[0] for row in con.execute("SELECT key FROM rooms ORDER BY random() LIMIT 2000")]
    con.close()
    return keys


def main():
    build = Path(sys.argv[1]) if len(sys.argv) > 1 else SOURCE / "build" / "native-release"
    full = len(sys.argv) < 3 or sys.argv[2] != "0"
    matches, seconds, stored = (3000, 10, 1000000) if full else (500, 3, 100000)
    folder = Path(tempfile.mkdtemp(prefix="rooms_bench_"))
    os.environ["VANTOR_ROOMS"] = str(build / "vantor-rooms")
    result = {"goals": GOALS, "matches": matches}

    service = RoomsService(folder, extra=SERVICE_ARGS)
    try:
        result["rss_mb_idle"] = rss_mb(service.process.pid)
        load(build, "matches", service.port, 4, 200, 10000000)   # warm-up
        result["matches_run"] = load(build, "matches", service.port, 16, matches, 0)
        result["posts_per_s"] = result["matches_run"]["posts_per_s"]
        result["rate_run"] = load(build, "rate", service.port, 32, 1000, seconds, 20000000)
        result["p50_ms_at_1000"] = result["rate_run"]["p50_ms"]
        result["p99_ms_at_1000"] = result["rate_run"]["p99_ms"]
        result["pages_run"] = load(build, "pages", service.port, 16, seconds, 0, matches)
        result["pages_per_s"] = result["pages_run"]["pages_per_s"]
        result["rss_mb_after_load"] = rss_mb(service.process.pid)
        result["rss_mb_peak"] = rss_mb(service.process.pid, "VmHWM")
    finally:
        service.stop()
    con = sqlite3.connect(service.db)
    rooms = con.execute("SELECT count(*) FROM rooms").fetchone()[0]
    pages = con.execute("PRAGMA page_count").fetchone()[0] * con.execute("PRAGMA page_size").fetchone()[0]
    con.close()
    result["rooms_stored"] = rooms
    result["db_bytes_per_room"] = round(pages / rooms)

    big = folder / "million.db"
    service = RoomsService(folder, db=big, extra=SERVICE_ARGS)   # creates the schema
    service.stop()
    began = time.monotonic()
    keys = fill(big, stored)
    result["fill_seconds"] = round(time.monotonic() - began, 1)
    result["stored_rooms"] = stored
    result["db_mb_million"] = round(big.stat().st_size / 2**20, 1)
    service = RoomsService(folder, db=big, extra=SERVICE_ARGS)
    try:
        client = Client(service.port)
        random.shuffle(keys)
        for key in keys:
            assert client.request("GET", "/r/" + key)[0] == 200
        load(build, "matches", service.port, 8, 500, 40000000)
        result["rss_mb_million"] = rss_mb(service.process.pid)
        result["rss_mb_million_peak"] = rss_mb(service.process.pid, "VmHWM")
    finally:
        service.stop()

    out = build / "bench" / "rooms.json"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(result, indent=2))
    print(json.dumps({k: v for k, v in result.items() if not isinstance(v, dict)}, indent=2))


if __name__ == "__main__":
    main()
