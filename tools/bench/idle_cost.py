#!/usr/bin/env python3
"""Benchmark: what the agent costs while nothing happens. Runs the agent
(--no-tray, fake Steam client with its 5 s and 30 s ticks, no API) against a
console.log that does not grow, and measures over a 60 s window after start-up
the CPU time it used and its peak resident memory. Target on the native
build: under 0.2 % of one core and under 20 MB resident. Under Wine the
figures include Wine's own share of the process and are reported beside.

    python3 tools/bench/idle_cost.py [BUILD_DIR] [SECONDS]

BUILD_DIR defaults to build/native-release (then build/native); a win64 build
folder runs the agent under Wine. Writes BUILD_DIR/bench/idle_cost.json.
Never fails on a slow result.
"""

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import agent_bench  # noqa: E402

TARGET_CPU_PERCENT = 0.2
TARGET_RSS_MB = 20.0
SETTLE_S = 3.0


def main():
    first = Path(sys.argv[1]) if len(sys.argv) > 1 else None
    preset = "win64" if first and (first / "vantor-agent.exe").exists() else "native"
    build = agent_bench.pick_build(sys.argv, preset)
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    if not agent_bench.agent_path(build, preset).exists():
        print("idle_cost: no agent in %s (build it first)" % build)
        return 0
    harness = agent_bench.load_harness(build, preset)
    env, paths, have_steam = agent_bench.world(
        harness, "idle-cost", "[CommandLine] cs2.exe -condebug +exec vantor\n")
    try:
        agent = env.start_agent(["--no-tray", "--console-log", env.agent_path(paths["console_log"])])
        if not agent.wait_for_output("watching -- press Ctrl+C", 60):
            print("idle_cost: the agent did not start:\n" + agent.stdout() + agent.stderr())
            return 0
        pid = agent.popen.pid
        time.sleep(SETTLE_S)
        cpu_start = agent_bench.cpu_seconds(pid)
        wall_start = time.monotonic()
        time.sleep(seconds)
        cpu_used = agent_bench.cpu_seconds(pid) - cpu_start
        wall = time.monotonic() - wall_start
        peak_kb, rss_kb = agent_bench.memory_kb(pid)
        agent.interrupt()
        result = agent.wait(30)
    finally:
        env.close()

    percent = 100.0 * cpu_used / wall
    peak_mb = peak_kb / 1024.0
    native = preset == "native"
    print("idle_cost (%s, %s, Steam %s): %.0f s idle" %
          (preset, build.name, "fake client" if have_steam else "absent", wall))
    print("  CPU      %.3f s = %.3f %% of one core   (target under %.1f %%%s): %s" %
          (cpu_used, percent, TARGET_CPU_PERCENT, "" if native else ", native build",
           "met" if percent < TARGET_CPU_PERCENT else "NOT met"))
    print("  memory   peak %.1f MB, now %.1f MB resident (target under %.0f MB%s): %s" %
          (peak_mb, rss_kb / 1024.0, TARGET_RSS_MB, "" if native else ", native build",
           "met" if peak_mb < TARGET_RSS_MB else "NOT met"))
    print("  exit code %d" % result.code)
    agent_bench.write_result(build, "idle_cost", {
        "benchmark": "idle_cost",
        "preset": preset,
        "build": str(build),
        "steam": "fake client" if have_steam else "absent",
        "seconds": round(wall, 1),
        "cpu_seconds": round(cpu_used, 3),
        "cpu_percent_of_one_core": round(percent, 4),
        "peak_rss_mb": round(peak_mb, 1),
        "rss_mb": round(rss_kb / 1024.0, 1),
        "target_cpu_percent": TARGET_CPU_PERCENT,
        "target_rss_mb": TARGET_RSS_MB,
        "met": percent < TARGET_CPU_PERCENT and peak_mb < TARGET_RSS_MB,
    })
    return 0


if __name__ == "__main__":
    sys.exit(main())
