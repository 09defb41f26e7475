#!/usr/bin/env python3
"""Benchmark: the agent under a hostile local load. For 30 s, several threads
POST oversized bodies (a GSI payload with a wrong token, padded to just under
the 4 MiB limit) and a dozen local clients hold connections open without
sending anything (reopened whenever the agent drops them), while a fake CS2
appends a room request to console.log every 0.5 s and POSTs the game's own
payload (the right token, a few KiB) every 0.25 s. Measured: the agent's peak
resident memory above its idle figure, how long each console line took to be
handled (its "player asked for the room" line), the reply time of the game's
POSTs, and, with the load still on, the time from Ctrl+C to the agent's exit.
Targets: under 64 MB above idle, every console line within 1 s, the game's
POSTs answered within 1 s at p99, and exit within 0.5 s of Ctrl+C.

    python3 tools/bench/stress.py [BUILD_DIR] [SECONDS]

BUILD_DIR defaults to build/native-release (then build/native); a win64 build
folder runs the agent under Wine. Only loopback addresses are used; every
thread ends with the run. Writes BUILD_DIR/bench/stress.json. Never fails on a
slow result.
"""

import json
import socket
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import agent_bench  # noqa: E402

TOKEN = "bench0token00001"
FLOOD_THREADS = 4
IDLE_CONNECTIONS = 12
LINE_EVERY_S = 0.5
LINE_GIVE_UP_S = 5.0
POST_EVERY_S = 0.25
LIMIT = 4 * 1024 * 1024
TARGET_MEMORY_MB = 64.0
TARGET_LINE_S = 1.0
TARGET_POST_P99_S = 1.0
TARGET_EXIT_S = 0.5
DATA = agent_bench.SOURCE / "tests" / "gsi" / "data"


def game_body():
    body = json.loads((DATA / "live_round3.json").read_text(encoding="utf-8"))
    body["auth"] = {"token": TOKEN}
    return json.dumps(body, indent="\t").encode("utf-8")


def flood_request():
    """A request of just under 4 MiB, head included: the game's payload shape
    with a wrong token and a long run of extra player entries."""
    body = json.loads((DATA / "live_round3.json").read_text(encoding="utf-8"))
    body["auth"] = {"token": "not-the-token-00"}
    entry = json.dumps({"name": "x" * 64, "team": "CT", "observer_slot": 1, "steamid": "76561198000000000"})
    text = json.dumps(body)
    room = LIMIT - 200 - len(text)
    players = ",".join('"%d":%s' % (i, entry) for i in range(room // (len(entry) + 12)))
    data = (text[:-1] + ',"allplayers":{' + players + "}}").encode("ascii")
    head = b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: %d\r\n\r\n"
    return head % len(data) + data


def post(port, request, timeout=10.0):
    """Seconds from connect to the whole reply, or None when it failed."""
    began = time.monotonic()
    reply = agent_bench.exchange(port, request, timeout)
    return time.monotonic() - began if reply and reply.startswith(b"HTTP/1.1 200 OK") else None


def flood(port, request, until, counts):
    while time.monotonic() < until:
        if post(port, request, timeout=5.0) is None:
            counts["flood_failed"] += 1
            time.sleep(0.05)   # refused once the agent is gone: no busy loop
        else:
            counts["flood_answered"] += 1


def hold_idle(port, until, counts):
    """Keeps IDLE_CONNECTIONS connections open that never send a byte."""
    held = []
    while time.monotonic() < until:
        kept = []
        for s in held:
            try:
                s.setblocking(False)
                if s.recv(1) == b"":
                    raise OSError("closed")
                kept.append(s)
            except BlockingIOError:
                kept.append(s)
            except OSError:
                s.close()
        held = kept
        while len(held) < IDLE_CONNECTIONS and time.monotonic() < until:
            try:
                held.append(socket.create_connection(("127.0.0.1", port), timeout=2))
                counts["idle_opened"] += 1
            except OSError:
                time.sleep(0.05)
        time.sleep(0.1)
    for s in held:
        s.close()


def game(port, until, latencies, failures):
    body = game_body()
    request = (b"POST / HTTP/1.1\r\nuser-agent: Valve/Steam HTTP Client 1.0 (730)\r\n"
               b"Content-Type: application/json\r\nContent-Length: %d\r\n\r\n" % len(body)) + body
    while time.monotonic() < until:
        took = post(port, request)
        if took is None:
            failures.append(time.monotonic())
        else:
            latencies.append(took)
        time.sleep(POST_EVERY_S)


def percentile(values, p):
    if not values:
        return None
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    first = Path(sys.argv[1]) if len(sys.argv) > 1 else None
    preset = "win64" if first and (first / "vantor-agent.exe").exists() else "native"
    build = agent_bench.pick_build(sys.argv, preset)
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
    if not agent_bench.agent_path(build, preset).exists():
        print("stress: no agent in %s (build it first)" % build)
        return 0
    harness = agent_bench.load_harness(build, preset)
    env, paths, _ = agent_bench.world(harness, "stress", "[CommandLine] cs2.exe -condebug +exec vantor\n",
                                      token=TOKEN)
    port = json.loads((env.data_dir / "agent.json").read_text())["gsi_port"]
    request = flood_request()
    counts = {"flood_answered": 0, "flood_failed": 0, "idle_opened": 0}
    latencies, failures, line_delays = [], [], []
    try:
        agent = env.start_agent(["--no-tray", "--console-log", env.agent_path(paths["console_log"])])
        if not agent.wait_for_output("watching -- press Ctrl+C", 60):
            print("stress: the agent did not start:\n" + agent.stdout() + agent.stderr())
            return 0
        pid = agent.popen.pid
        time.sleep(2.0)
        _, idle_kb = agent_bench.memory_kb(pid)

        until = time.monotonic() + seconds
        threads = [threading.Thread(target=flood, args=(port, request, until, counts))
                   for _ in range(FLOOD_THREADS)]
        threads.append(threading.Thread(target=hold_idle, args=(port, until, counts)))
        threads.append(threading.Thread(target=game, args=(port, until, latencies, failures)))
        for t in threads:
            t.daemon = True
            t.start()

        # The fake CS2's console: one room request every LINE_EVERY_S, each
        # timed until the agent reports it (or the next one is due).
        marker = "player asked for the room"
        seen = agent.stdout().count(marker)
        lines = 0
        while time.monotonic() < until:
            with open(paths["console_log"], "ab") as log:
                log.write(b"12/06 21:14:03 [Client] execing vantor_room\r\n")
            written = time.monotonic()
            lines += 1
            handled = None
            while time.monotonic() - written < LINE_GIVE_UP_S:
                if agent.stdout().count(marker) >= seen + lines:
                    handled = time.monotonic() - written
                    break
                time.sleep(0.01)
            line_delays.append(handled)
            time.sleep(max(0.0, LINE_EVERY_S - (time.monotonic() - written)))
        peak_kb, _ = agent_bench.memory_kb(pid)

        # Ctrl+C with the load still on.
        until_more = time.monotonic() + 3.0
        after = dict(counts)   # what happens around the stop is not counted
        more = [threading.Thread(target=flood, args=(port, request, until_more, after), daemon=True)
                for _ in range(FLOOD_THREADS)]
        more.append(threading.Thread(target=hold_idle, args=(port, until_more, after), daemon=True))
        for t in more:
            t.start()
        time.sleep(1.0)
        asked = time.monotonic()
        agent.interrupt()
        result = agent.wait(60)
        exit_s = time.monotonic() - asked
        for t in threads + more:
            t.join(15)
        stopped = env.events("stopped")
    finally:
        env.close()

    missed = [d for d in line_delays if d is None]
    handled_delays = [d for d in line_delays if d is not None]
    worst_line = max(handled_delays) if handled_delays else None
    memory_mb = (peak_kb - idle_kb) / 1024.0
    p99 = percentile(latencies, 99)
    print("stress (%s, %s): %.0f s, %d flood threads, %d idle connections" %
          (preset, build.name, seconds, FLOOD_THREADS, IDLE_CONNECTIONS))
    print("  flood: %d oversized POSTs answered, %d failed; %d idle connections opened" %
          (counts["flood_answered"], counts["flood_failed"], counts["idle_opened"]))
    print("  memory: idle %.1f MB, peak %.1f MB above it (target under %.0f MB)" %
          (idle_kb / 1024.0, memory_mb, TARGET_MEMORY_MB))
    print("  console lines: %d written, worst delay %s (target under %.0f ms), %d not handled within %.0f s" %
          (lines, "%.0f ms" % (worst_line * 1000) if worst_line is not None else "-", TARGET_LINE_S * 1000,
           len(missed), LINE_GIVE_UP_S))
    print("  game POSTs: %d answered, %d failed, p50 %s, p99 %s (target under 1000 ms)" %
          (len(latencies), len(failures),
           "%.1f ms" % (percentile(latencies, 50) * 1000) if latencies else "-",
           "%.1f ms" % (p99 * 1000) if p99 is not None else "-"))
    print("  Ctrl+C to exit: %.0f ms (target under 500 ms; exit code %d, stopped record %s)" %
          (exit_s * 1000, result.code, "written" if stopped else "MISSING"))
    agent_bench.write_result(build, "stress", {
        "benchmark": "stress",
        "preset": preset,
        "build": str(build),
        "seconds": seconds,
        "flood_threads": FLOOD_THREADS,
        "idle_connections": IDLE_CONNECTIONS,
        "flood_request_bytes": len(request),
        "flood_answered": counts["flood_answered"],
        "flood_failed": counts["flood_failed"],
        "idle_opened": counts["idle_opened"],
        "idle_rss_mb": round(idle_kb / 1024.0, 1),
        "peak_above_idle_mb": round(memory_mb, 1),
        "console_lines": lines,
        "console_lines_missed": len(missed),
        "console_worst_delay_ms": round(worst_line * 1000, 1) if worst_line is not None else None,
        "game_posts": len(latencies),
        "game_posts_failed": len(failures),
        "game_post_p50_ms": round(percentile(latencies, 50) * 1000, 1) if latencies else None,
        "game_post_p99_ms": round(p99 * 1000, 1) if p99 is not None else None,
        "exit_ms": round(exit_s * 1000, 1),
        "stopped_record": bool(stopped),
        "target_memory_mb": TARGET_MEMORY_MB,
        "target_line_ms": TARGET_LINE_S * 1000,
        "target_post_p99_ms": TARGET_POST_P99_S * 1000,
        "target_exit_ms": TARGET_EXIT_S * 1000,
    })
    return 0


if __name__ == "__main__":
    sys.exit(main())
