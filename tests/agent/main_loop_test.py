"""The observing loop end to end: console.log lines reach it once and whole, GSI
only with its token; Ctrl+C stops it whatever its clients do; silence is warned of."""

import json
import socket
import time
import unittest

import harness
from harness import Agent

T = "12/06 21:14:03 "
BLOCK = [T + line for line in harness.fake_cs2.status_lines(harness.PLAYERS[:2], "8512345")]


def payload(name):
    return json.loads((harness.SOURCE_DIR / "tests" / "gsi" / "data" / (name + ".json")).read_text(encoding="utf-8"))


class MainLoopTest(unittest.TestCase):
    def test_console_log_lines_reach_the_agent_once_and_whole(self):
        agent = Agent(self, console_log=T + "execing vantor\n").start()   # old lines are not read

        def append(text, mode="ab"):
            with open(agent.paths["console_log"], mode) as log:
                log.write(text.encode())
            time.sleep(0.45)   # a little more than one pass

        # A status block in several writes, a line cut across passes, CR LF and LF.
        append("\n".join(BLOCK[:4]) + "\n")
        append("\r\n".join(BLOCK[4:8]) + "\r\n" + BLOCK[8][:20])
        append(BLOCK[8][20:] + "\n" + "\n".join(BLOCK[9:]) + "\r\n")
        # The three ways to ask for the room, the first split across passes.
        append(T + "execing van")
        append("tor\r\n" + T + "execing vantor_room\n" + T + "[Console] Unknown command: vantor\n")
        # Half a block, then CS2 restarts: the new, shorter console.log is read
        # from byte 0 by a fresh parser, so the half block never completes.
        append("\n".join(BLOCK[:6]) + "\n")
        append("\n".join(BLOCK[8:]) + "\n" + T + "execing vantor\n", "wb")
        agent.wait("room_requested", 4)
        agent.stop()
        self.assertEqual([r["how"] for r in agent.events("room_requested")],
                         ["exec vantor", "exec vantor_room", "typed in the console", "exec vantor"])
        self.assertEqual(agent.events("room_requested")[0]["line"], T + "execing vantor")
        self.assertEqual(len(agent.events("log_rotated")), 1)
        self.assertEqual([len(s["players"]) for s in agent.events("status_snapshot")], [2])

    def test_gsi_from_the_menu_into_a_match_and_back(self):
        agent = Agent(self).start()
        for name in ("menu", "warmup_mirage", "observer_switch"):
            agent.gsi(payload(name))
        agent.gsi(payload("live_round3"), token="Fh3kQ9vT2mXc8LpA")   # another agent's token
        agent.gsi("{not json")
        agent.gsi(payload("menu"))
        agent.wait("match_ended")
        # Neither an idle client nor one half way through a POST holds the stop.
        idle = socket.create_connection(("127.0.0.1", agent.port), timeout=10)
        half = socket.create_connection(("127.0.0.1", agent.port), timeout=10)
        half.sendall(b"POST / HTTP/1.1\r\nContent-Length: 4000\r\n\r\n{\"map\":")
        self.addCleanup(idle.close)
        self.addCleanup(half.close)
        self.assertIn("gsi player: 76561198211873064 'Шаман ☾' team=CT", agent.stop(within=1.5).out)
        seen = [(r["event"], r.get("map") or r.get("where")) for r in agent.records()
                if r["event"] in ("match_started", "match_ended") or r.get("where", "").startswith("gsi")]
        self.assertEqual(seen, [("match_started", "de_mirage"), ("error", "gsi_auth"),
                                ("error", "gsi_payload"), ("match_ended", "de_mirage")])
        self.assertEqual([(e["gsi_requests"], e["gsi_malformed"]) for e in agent.events("stopped")], [(6, 2)])

    def test_gsi_silence_warning_comes_once_while_on_a_map(self):
        agent = Agent(self).start()
        agent.gsi({"map": {"name": "de_mirage", "mode": "competitive", "phase": "warmup", "round": 0}})
        began = time.monotonic()
        agent.wait("error", where="console_log_silent", timeout=90)
        self.assertGreater(time.monotonic() - began, 55)
        time.sleep(1.0)
        self.assertEqual(agent.stop().out.count("WARNING: GSI says you are on de_mirage"), 1)


if __name__ == "__main__":
    harness.main()
