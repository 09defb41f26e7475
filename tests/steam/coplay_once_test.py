"""--coplay-once end to end: the fake Steam client loaded where the agent finds it,
a bounded wait for the names asked for, released and unloaded before the exit."""

import unittest

import harness
from harness import Agent

A, B, C = "76561198000000101", "76561198000000102", "76561198000000103"


def entry(steamid, persona="known", **more):
    return dict(dict(steamid=steamid, appid=730, time=1733500000, persona=persona), **more)


# name: (co-play list, reads of the list, name requests, the names in the end)
WAITS = {
    "names that arrive during the wait": ([
        entry(A), entry(B, "[unknown]", resolves_to="late \u2726 name", after_requests=1),
        entry(C, None, resolves_to="slow", after_reads=4, appid=570)], 4, 2, ["known", "late \u2726 name", "slow"]),
    "names that never arrive": ([entry(A), entry(B, None), entry(C, "[unknown]")], 21, 2, ["known", "", ""]),
    "no name missing": ([entry(A)], 1, 0, ["known"]),
}


class CoplayOnceTest(unittest.TestCase):
    def test_the_wait_for_missing_names(self):
        for name, (coplay, reads, requests, names) in WAITS.items():
            with self.subTest(name):
                agent = Agent(self, steam={"self": {"steamid": "76561198000000001", "persona": "Zo\u00eb"},
                                           "coplay": coplay})
                self.assertEqual(agent.run("--coplay-once").code, 0)
                calls = (agent.root / "fake_steam_calls.txt").read_text().splitlines()
                self.assertEqual(sum(c.startswith("GetCoplayFriendCount") for c in calls), reads)
                self.assertEqual(sum(c.startswith("RequestUserInformation") for c in calls), requests)
                self.assertEqual(calls[-3:], ["ReleaseUser 7 11", "BReleaseSteamPipe 7", "unload"])
                self.assertEqual([e["persona"] for e in agent.events("coplay_snapshot")[-1]["entries"]], names)


if __name__ == "__main__":
    harness.main()
