#!/usr/bin/env python3
"""Benchmark: time from a final roster to "room_created" against the loopback
room server (tools/room_server.py), through the agent's own code in
tools/room_probe (build payload, POST /v1/matches, save room.json, rooms.json
and the room cfg). Target: under 50 ms natively.

    python3 tools/bench/room_post.py [BUILD_DIR] [COUNT]

BUILD_DIR defaults to build/native-release (then build/native); a win64 build
folder runs the probe under Wine. Prints the figures and writes
BUILD_DIR/bench/room_post.json. Never fails on a slow result.
"""

import json
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "support"))
import harness  # noqa: E402

sys.path.insert(0, str(SOURCE / "tools" / "bench"))
import agent_bench  # noqa: E402

TARGET_MS = 50.0


def main():
    build = Path(sys.argv[1]) if len(sys.argv) > 1 else next(
        (SOURCE / "build" / name for name in ("native-release", "native")
         if (SOURCE / "build" / name / "tools" / "room_probe" / "room_probe").exists()), SOURCE / "build" / "native-release")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 50
    exe = build / "tools" / "room_probe" / "room_probe"
    wine = False
    if not exe.exists() and (build / "tools" / "room_probe" / "room_probe.exe").exists():
        exe, wine = build / "tools" / "room_probe" / "room_probe.exe", True
    if not exe.exists():
        print("room_post: no room_probe in %s (build it first)" % build)
        return 0

    work = Path(tempfile.mkdtemp(prefix="room-post-bench-"))
    server = harness.RoomServer(work, lifetime=300)
    try:
        base = server.base
        if wine:
            prefix = build / "wineprefix"
            command = [str(SOURCE / "tools" / "wine-run"), str(prefix), str(exe), "bench", base,
                       "Z:" + str(work).replace("/", "\\"), str(count)]
        else:
            command = [str(exe), "bench", base, str(work), str(count)]
        out = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=600).stdout
        line = [l for l in out.decode("utf-8", "replace").splitlines() if l.startswith("{")][-1]
        micros = json.loads(line).get("micros", [])
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)

    if not micros:
        print("room_post: no room was created")
        return 0
    ms = sorted(m / 1000.0 for m in micros)
    result = {
        "benchmark": "room_post",
        "build": str(build),
        "rooms": len(ms),
        "min_ms": round(ms[0], 3),
        "median_ms": round(statistics.median(ms), 3),
        "p95_ms": round(ms[min(len(ms) - 1, int(len(ms) * 0.95))], 3),
        "max_ms": round(ms[-1], 3),
        "target_ms": TARGET_MS,
    }
    result["meets_target"] = result["p95_ms"] < TARGET_MS
    print("room_post: final roster to room_created, %d rooms against the loopback server" % len(ms))
    print("  min %.2f ms, median %.2f ms, p95 %.2f ms, max %.2f ms (target < %.0f ms natively)"
          % (result["min_ms"], result["median_ms"], result["p95_ms"], result["max_ms"], TARGET_MS))
    agent_bench.write_result(build, "room_post", result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
