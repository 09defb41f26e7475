#!/usr/bin/env python3
"""Benchmark: does `vantor-agent --replay` keep up with the disk? Builds a
large console.log (ordinary game lines, a ten-player status block every few
thousand lines) in a temporary folder and reads it with the agent and with
`grep -c -F -- '----- Status -----'`, from the page cache. Target: the agent
reaches at least half of grep's throughput on the native build.

    python3 tools/bench/replay_throughput.py [BUILD_DIR] [SIZE_MB]

BUILD_DIR defaults to build/native-release (then build/native). Prints both
throughputs in MB/s and their ratio (best of three runs each) and writes
BUILD_DIR/bench/replay_throughput.json. Never fails on a slow result.
"""

import json
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "examples"))
import make_sample_console_log as sample  # noqa: E402

TARGET_RATIO = 0.5
LINES_BETWEEN_BLOCKS = 3000
RUNS = 3


def write_log(path, size_mb):
    """Repeats one stretch of chatter plus one status block up to the size;
    returns the number of blocks written."""
    lines = sample.chatter(75600, LINES_BETWEEN_BLOCKS) + sample.status_block(76400, sample.PLAYERS)
    chunk = "".join(line + "\r\n" for line in lines).encode("utf-8")
    repeats = max(1, (size_mb * 1024 * 1024) // len(chunk))
    with open(path, "wb") as out:
        for _ in range(repeats):
            out.write(chunk)
    return repeats


def best_seconds(command):
    best = None
    for _ in range(RUNS):
        start = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, done


def main():
    build = Path(sys.argv[1]) if len(sys.argv) > 1 else next(
        (SOURCE / "build" / name for name in ("native-release", "native")
         if (SOURCE / "build" / name / "vantor-agent").exists()), SOURCE / "build" / "native-release")
    size_mb = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    agent = build / "vantor-agent"
    if not agent.exists():
        print("replay_throughput: no vantor-agent in %s (build it first)" % build)
        return 0
    if not shutil.which("grep"):
        print("replay_throughput: grep is missing")
        return 0

    work = Path(tempfile.mkdtemp(prefix="replay-bench-"))
    try:
        log = work / "console.log"
        blocks = write_log(log, size_mb)
        megabytes = log.stat().st_size / (1024 * 1024)
        log.read_bytes()  # into the page cache, so both readers start equal

        agent_s, agent_run = best_seconds([str(agent), "--replay", str(log)])
        grep_s, grep_run = best_seconds(["grep", "-c", "-F", "--", "----- Status -----", str(log)])
        found = agent_run.stdout.decode("utf-8", "replace").strip().splitlines()[-1:]
        counted = grep_run.stdout.decode().strip()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    agent_mbs = megabytes / agent_s
    grep_mbs = megabytes / grep_s
    ratio = agent_mbs / grep_mbs
    print("replay_throughput: %.0f MB, %d status blocks (%s), grep counted %s" %
          (megabytes, blocks, found[0] if found else "no output", counted))
    print("  vantor-agent --replay  %8.1f MB/s  (%.3f s, best of %d)" % (agent_mbs, agent_s, RUNS))
    print("  grep -c -F             %8.1f MB/s  (%.3f s, best of %d)" % (grep_mbs, grep_s, RUNS))
    print("  ratio %.2f, target at least %.2f: %s" %
          (ratio, TARGET_RATIO, "met" if ratio >= TARGET_RATIO else "NOT met"))

    result = {
        "benchmark": "replay_throughput",
        "build": str(build),
        "megabytes": round(megabytes, 1),
        "status_blocks": blocks,
        "agent_mb_per_s": round(agent_mbs, 1),
        "grep_mb_per_s": round(grep_mbs, 1),
        "ratio": round(ratio, 3),
        "target_ratio": TARGET_RATIO,
        "met": ratio >= TARGET_RATIO,
    }
    out = build / "bench" / "replay_throughput.json"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(result, indent=2) + "\n")
    print("  wrote %s" % out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
