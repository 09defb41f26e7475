"""GSI end to end: real POSTs to the real agent's listener, answered whatever
the main loop does, and the match events they cause only with the agent's token."""

import json
import unittest
from pathlib import Path

import harness
from harness import Agent

DATA = Path(__file__).resolve().parent / "data"


def payload(name):
    return json.loads((DATA / (name + ".json")).read_text(encoding="utf-8"))


class GsiAgentTest(unittest.TestCase):
    def test_a_match_from_the_menu_and_back(self):
        agent = Agent(self).start()
        agent.gsi(payload("menu"))
        agent.gsi(payload("warmup_mirage"))
        agent.gsi(payload("observer_switch"))
        agent.gsi(payload("intermission_round0"), token="Fh3kQ9vT2mXc8LpA")   # another map, another token
        agent.gsi("{not json")
        agent.gsi(payload("menu"))
        agent.wait("match_ended")
        out = agent.stop().out
        self.assertIn("gsi player: 76561198211873064 'Шаман ☾' team=CT", out)
        seen = [(r["event"], r.get("map") or r.get("where")) for r in agent.records()
                if r["event"] in ("match_started", "match_ended") or r.get("where", "").startswith("gsi")]
        self.assertEqual(seen, [("match_started", "de_mirage"), ("error", "gsi_auth"),
                                ("error", "gsi_payload"), ("match_ended", "de_mirage")])
        self.assertEqual(agent.events("stopped")[0]["gsi_requests"], 6)


if __name__ == "__main__":
    harness.main()
