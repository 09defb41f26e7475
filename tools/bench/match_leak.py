#!/usr/bin/env python3
"""Benchmark: 100 simulated matches back to back in one agent process (the
road of tools/bench/request_to_clipboard.py). Reports the agent's resident
memory after the 10th and after the last match -- target: flat within 10 % --
and whether every match ended in its own room.

    python3 tools/bench/match_leak.py [BUILD_DIR] [MATCHES]

Use an optimised build (build/native-release, or the win64 build under Wine):
AddressSanitizer's quarantine makes a sanitized build's memory grow by design.
Writes BUILD_DIR/bench/match_leak.json. Never fails.
"""

import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import agent_bench  # noqa: E402
import request_to_clipboard  # noqa: E402

SOURCE = Path(__file__).resolve().parents[2]
TARGET_GROWTH = 0.10


def main():
    build = Path(sys.argv[1]).resolve() if len(sys.argv) > 1 else SOURCE / "build" / "native-release"
    matches = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    latencies, memory, own_rooms = request_to_clipboard.run_matches(build, matches)
    settled = memory[min(9, len(memory) - 1)]
    growth = (memory[-1] - settled) / settled if settled else 0.0
    result = {
        "matches": matches,
        "rss_kib_after_10": settled,
        "rss_kib_last": memory[-1],
        "rss_kib_max": max(memory),
        "growth": round(growth, 4),
        "target_growth": TARGET_GROWTH,
        "meets_target": growth <= TARGET_GROWTH,
        "every_match_its_own_room": own_rooms,
        "median_delivery_ms": round(statistics.median(latencies), 1),
    }
    print("match_leak: resident memory %d KiB after 10 matches, %d KiB after %d (%+.1f %%, target "
          "within %.0f %%); every match its own room: %s"
          % (settled, memory[-1], matches, growth * 100, TARGET_GROWTH * 100, own_rooms))
    agent_bench.write_result(build, "match_leak", result)
    return 0


if __name__ == "__main__":
    sys.exit(main())
