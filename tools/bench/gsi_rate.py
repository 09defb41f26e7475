#!/usr/bin/env python3
"""Benchmark: how fast does the GSI listener answer? POSTs 10,000 payloads of
the game's typical size (2-5 KB, shaped like the recorded ones in
tests/gsi/data) over loopback, one after another, each on its own connection
as the game does, to tools/gsi_bench_listener (the real listener with a
main-loop stand-in that drains and handles the queue every 300 ms and writes
every event to a real log). Runs once plainly and once with --debug (every
payload logged whole). Target: p99 reply latency under 5 ms on the native
build -- the reply must never wait on the main loop.

    python3 tools/bench/gsi_rate.py [BUILD_DIR] [COUNT]

BUILD_DIR defaults to build/native-release (then build/native); a win64 build
dir runs the .exe under Wine. Prints requests/s and p50/p99/max latency and
writes BUILD_DIR/bench/gsi_rate.json. Never fails on a slow result.
"""

import json
import random
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import agent_bench  # noqa: E402

SOURCE = Path(__file__).resolve().parents[2]
DATA = SOURCE / "tests" / "gsi" / "data"
TOKEN = "Fh3kQ9vT2mXc8LpA"
TARGET_P99_MS = 5.0


def payloads(count):
    """Encoded bodies of 2-5 KB: the live fixture with a weapons list of
    varying length, a moving clock, and a new round every 50 payloads so the
    main thread logs phase changes as well."""
    base = json.loads((DATA / "live_round3.json").read_text(encoding="utf-8"))
    names = ["weapon_knife", "weapon_ak47", "weapon_deagle", "weapon_flashbang",
             "weapon_smokegrenade", "weapon_hegrenade", "weapon_molotov", "weapon_c4"]
    rng = random.Random(730)
    out = []
    for i in range(count):
        body = json.loads(json.dumps(base))
        body["provider"]["timestamp"] += i
        body["map"]["round"] = 3 + i // 50
        target = rng.randint(2048, 5120)
        weapons = {}
        while len(json.dumps(body, indent="\t")) < target:
            n = len(weapons)
            weapons[f"weapon_{n}"] = {"name": names[n % len(names)], "paintkit": "default",
                                      "type": "Rifle", "ammo_clip": 30, "ammo_clip_max": 30,
                                      "ammo_reserve": 90, "state": "holstered"}
            body["player"]["weapons"] = weapons
        out.append(json.dumps(body, indent="\t").encode("utf-8"))
    return out


def request(body):
    head = ("POST / HTTP/1.1\r\nuser-agent: Valve/Steam HTTP Client 1.0 (730)\r\n"
            "Content-Type: application/json\r\nContent-Length: %d\r\n"
            "Host: 127.0.0.1:%%d\r\n\r\n" % len(body))
    return head, body


def post_all(port, bodies):
    latencies = []
    failures = 0
    start = time.perf_counter()
    for body in bodies:
        head, _ = request(body)
        data = (head % port).encode("ascii") + body
        t0 = time.perf_counter()
        reply = agent_bench.exchange(port, data)
        if reply is None:
            failures += 1
            continue
        latencies.append((time.perf_counter() - t0) * 1000.0)
        if not reply.startswith(b"HTTP/1.1 200 OK"):
            failures += 1
    elapsed = time.perf_counter() - start
    return latencies, failures, elapsed


def percentile(sorted_values, p):
    if not sorted_values:
        return float("nan")
    k = min(len(sorted_values) - 1, max(0, int(round(p / 100.0 * (len(sorted_values) - 1)))))
    return sorted_values[k]


def harness_command(build):
    native = build / "tools" / "gsi_bench_listener"
    if native.exists():
        return [str(native)], "native"
    exe = build / "tools" / "gsi_bench_listener.exe"
    if exe.exists():
        return [str(SOURCE / "tools" / "wine-run"), str(build / "bench-wineprefix"), str(exe)], "win64"
    return None, None


def run_once(command, bodies, debug):
    with tempfile.TemporaryDirectory(prefix="gsi-rate-") as logs:
        args = command + ["--token", TOKEN, "--log-dir", logs] + (["--debug"] if debug else [])
        proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        line = proc.stdout.readline().decode("ascii", "replace").split()
        if len(line) != 2 or line[0] != "port":
            proc.kill()
            print("the bench listener did not start:", proc.stderr.read().decode(errors="replace"))
            return None
        port = int(line[1])
        post_all(port, bodies[:200])   # warm-up
        latencies, failures, elapsed = post_all(port, bodies)
        time.sleep(0.5)                 # let the last pass handle its queue
        _, err = proc.communicate(input=b"", timeout=60)   # end of input stops it
        log_bytes = sum(p.stat().st_size for p in Path(logs).glob("*.jsonl"))
    latencies.sort()
    return {
        "debug": debug,
        "requests": len(bodies),
        "failures": failures,
        "requests_per_s": round(len(bodies) / elapsed, 1),
        "p50_ms": round(percentile(latencies, 50), 3),
        "p99_ms": round(percentile(latencies, 99), 3),
        "max_ms": round(latencies[-1], 3) if latencies else None,
        "log_bytes": log_bytes,
        "listener": err.decode(errors="replace").strip(),
    }


def main():
    build = Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else next(
        (SOURCE / "build" / name for name in ("native-release", "native")
         if (SOURCE / "build" / name / "tools" / "gsi_bench_listener").exists()),
        SOURCE / "build" / "native-release")
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    command, preset = harness_command(build)
    if command is None:
        print(f"no tools/gsi_bench_listener in {build}; build the target gsi_bench_listener first")
        return 0
    bodies = payloads(count)
    sizes = sorted(len(b) for b in bodies)
    print(f"gsi_rate: {count} POSTs of {sizes[0]}-{sizes[-1]} bytes, one connection each, {preset} build {build}")
    results = []
    for debug in (False, True):
        r = run_once(command, bodies, debug)
        if r is None:
            continue
        results.append(r)
        print(f"  {'--debug' if debug else 'plain  '}: {r['requests_per_s']:8.1f} requests/s  "
              f"p50 {r['p50_ms']:.3f} ms  p99 {r['p99_ms']:.3f} ms  max {r['max_ms']} ms  "
              f"failures {r['failures']}  ({r['listener']}; log {r['log_bytes']} bytes)")
    met = all(r["p99_ms"] < TARGET_P99_MS for r in results) if results else False
    print(f"  target: p99 < {TARGET_P99_MS} ms on the native build -- {'met' if met else 'NOT met'}")
    agent_bench.write_result(build, "gsi_rate", {"benchmark": "gsi_rate", "preset": preset, "count": count,
                                                 "payload_bytes": [sizes[0], sizes[-1]],
                                                 "target_p99_ms": TARGET_P99_MS, "target_met": met,
                                                 "runs": results})
    return 0


if __name__ == "__main__":
    sys.exit(main())
