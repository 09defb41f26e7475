#!/usr/bin/env python3
"""Benchmark: what the agent costs while nothing happens. Runs the agent
(--no-tray, fake Steam client with its 5 s and 30 s ticks, no API) against a
console.log that does not grow, and measures over a 60 s window after start-up
the CPU time it used, how often its threads woke (context switches summed over
its threads) and its peak resident memory; then the time from Ctrl+C (SIGINT)
to its exit. Targets on the native build: at most 0.05 % of one core, at most
5 wake-ups a second, under 20 MB resident, and a stop under 0.5 s. Under Wine
the figures include Wine's own share of the process and are reported beside.

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

TARGET_CPU_PERCENT = 0.05
TARGET_WAKEUPS_PER_S = 5.0
TARGET_STOP_MS = 500.0
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
        switches_start = agent_bench.context_switches(pid)
        wall_start = time.monotonic()
        time.sleep(seconds)
        cpu_used = agent_bench.cpu_seconds(pid) - cpu_start
        switches = agent_bench.context_switches(pid) - switches_start
        wall = time.monotonic() - wall_start
        peak_kb, rss_kb = agent_bench.memory_kb(pid)
        stop_start = time.monotonic()
        agent.interrupt()
        # Looked at every 2 ms: Popen.wait's own back-off would blur the figure.
        while agent.popen.poll() is None and time.monotonic() - stop_start < 30:
            time.sleep(0.002)
        stop_ms = 1000.0 * (time.monotonic() - stop_start)
        result = agent.wait(30)
    finally:
        env.close()

    percent = 100.0 * cpu_used / wall
    wakeups = switches / wall
    peak_mb = peak_kb / 1024.0
    native = preset == "native"
    print("idle_cost (%s, %s, Steam %s): %.0f s idle" %
          (preset, build.name, "fake client" if have_steam else "absent", wall))
    print("  CPU      %.3f s = %.3f %% of one core   (target at most %.2f %%%s): %s" %
          (cpu_used, percent, TARGET_CPU_PERCENT, "" if native else ", native build",
           "met" if percent <= TARGET_CPU_PERCENT else "NOT met"))
    print("  wake-ups %d = %.1f a second   (target at most %.0f/s%s): %s" %
          (switches, wakeups, TARGET_WAKEUPS_PER_S, "" if native else ", native build",
           "met" if wakeups <= TARGET_WAKEUPS_PER_S else "NOT met"))
    print("  memory   peak %.1f MB, now %.1f MB resident (target under %.0f MB%s): %s" %
          (peak_mb, rss_kb / 1024.0, TARGET_RSS_MB, "" if native else ", native build",
           "met" if peak_mb < TARGET_RSS_MB else "NOT met"))
    print("  stop     %.0f ms from SIGINT to exit (target under %.0f ms): %s" %
          (stop_ms, TARGET_STOP_MS, "met" if stop_ms < TARGET_STOP_MS else "NOT met"))
    print("  exit code %d" % result.code)
    agent_bench.write_result(build, "idle_cost", {
        "benchmark": "idle_cost",
        "preset": preset,
        "build": str(build),
        "steam": "fake client" if have_steam else "absent",
        "seconds": round(wall, 1),
        "cpu_seconds": round(cpu_used, 3),
        "cpu_percent_of_one_core": round(percent, 4),
        "context_switches": switches,
        "wakeups_per_s": round(wakeups, 2),
        "stop_ms": round(stop_ms, 1),
        "peak_rss_mb": round(peak_mb, 1),
        "rss_mb": round(rss_kb / 1024.0, 1),
        "target_cpu_percent": TARGET_CPU_PERCENT,
        "target_rss_mb": TARGET_RSS_MB,
        "target_wakeups_per_s": TARGET_WAKEUPS_PER_S,
        "target_stop_ms": TARGET_STOP_MS,
        "met": (percent <= TARGET_CPU_PERCENT and wakeups <= TARGET_WAKEUPS_PER_S and peak_mb < TARGET_RSS_MB
                and stop_ms < TARGET_STOP_MS),
    })
    return 0


if __name__ == "__main__":
    sys.exit(main())
