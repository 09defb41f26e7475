"""--coplay-once end to end: the agent loads the fake Steam client through the
real registry value, dumps co-play and friends, waits a bounded time for the
names it asked for and exits."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import fake_steam  # noqa: E402
import harness  # noqa: E402

SELF = "76561198000000001"
A, B, C = "76561198000000101", "76561198000000102", "76561198000000103"


def coplay_entry(steamid, appid=730, time_=1733500000, persona="name", **more):
    entry = {"steamid": steamid, "appid": appid, "time": time_, "persona": persona}
    entry.update(more)
    return entry


FRIENDS = [{"steamid": "76561198000000201", "persona": "Ålice", "nickname": "ally",
            "history": ["Ålice", "old alice"], "game_id": 730, "lobby": "109775241000000001"}]


class CoplayOnceTest(harness.AgentTestCase):
    def run_dump(self, fixture):
        fake_steam.install(self.env, fixture)
        result = self.env.run_agent(["--coplay-once", "--no-tray"], timeout=120)
        result.out = result.out.replace("\r\n", "\n")   # the Windows console's line ends
        return result

    def event_names(self):
        wanted = {"steam_init", "coplay_snapshot", "friends_snapshot", "persona_requested",
                  "persona_resolved", "coplay_tick", "coplay_new", "error"}
        return [r["event"] for r in self.env.records() if r["event"] in wanted]

    def test_names_that_arrive_during_the_wait(self):
        result = self.run_dump({
            "self": {"steamid": SELF, "persona": "Zoë"},
            "coplay": [
                coplay_entry(A, persona="known one"),
                # arrives after the one request the dump sends
                coplay_entry(B, persona="[unknown]", resolves_to="late ✦ name", after_requests=1),
                # arrives only on the fourth read of the list (the third pass)
                coplay_entry(C, appid=570, persona=None, resolves_to="slow", after_reads=4,
                             relationship=3),
            ],
            "friends": FRIENDS,
        })
        self.assertEqual(result.code, 0, result)
        self.assertEqual(self.event_names(),
                         ["steam_init", "coplay_snapshot", "friends_snapshot", "persona_requested",
                          "persona_resolved", "coplay_snapshot"])
        first, second = self.env.events("coplay_snapshot")
        self.assertEqual(first["names_pending"], 2)
        resolved = self.env.events("persona_resolved")[0]
        self.assertEqual(resolved["still_unknown"], 0)
        # three passes slept; the loop ends at the first pass with no name missing
        self.assertGreaterEqual(resolved["waited_ms"], 700)
        self.assertLess(resolved["waited_ms"], 4500)
        self.assertEqual(fake_steam.count_calls(self.env, "GetCoplayFriendCount"), 4)
        # the requests are not repeated inside the wait
        self.assertEqual(fake_steam.count_calls(self.env, "RequestUserInformation"), 2)

        self.assertEqual(
            {k: second[k] for k in ("total", "cs2", "friends_in_list", "self_in_list", "names_pending")},
            {"total": 3, "cs2": 2, "friends_in_list": 1, "self_in_list": False, "names_pending": 0})
        self.assertEqual([(e["steamid"], e["persona"], e["persona_known"], e["is_friend"])
                          for e in second["entries"]],
                         [(A, "known one", True, False), (B, "late ✦ name", True, False), (C, "slow", True, True)])
        friend = self.env.events("friends_snapshot")[0]["friends"][0]
        self.assertEqual((friend["name_history"], friend["nickname_differs"], friend["in_cs2"]),
                         (["Ålice", "old alice"], True, True))

        for line in ("steam: 76561198000000001 'Zoë'", "requesting 2 missing name(s) from Steam",
                     "coplay: 3 entries, 2 for cs2, 1 of them friends, 0 names pending"):
            self.assertIn(line + "\n", result.out)
        # released and unloaded before the exit
        self.assertEqual(fake_steam.calls(self.env)[-3:],
                         ["ReleaseUser 7 11", "BReleaseSteamPipe 7", "unload"])

    def test_names_that_never_arrive(self):
        result = self.run_dump({
            "coplay": [coplay_entry(A), coplay_entry(B, persona=None),
                       coplay_entry(C, persona="[unknown]")],
        })
        self.assertEqual(result.code, 0, result)
        resolved = self.env.events("persona_resolved")[0]
        self.assertEqual(resolved["still_unknown"], 2)
        # exactly 20 sleeps of 250 ms: the first read and 20 more
        self.assertEqual(fake_steam.count_calls(self.env, "GetCoplayFriendCount"), 21)
        self.assertGreaterEqual(resolved["waited_ms"], 4900)
        self.assertLess(resolved["waited_ms"], 15000)
        self.assertEqual(fake_steam.count_calls(self.env, "RequestUserInformation"), 2)
        self.assertIn("after waiting: 2 name(s) still unknown\n", result.out)

    def test_empty_coplay_list_needs_no_wait(self):
        result = self.run_dump({"coplay": []})
        self.assertEqual(result.code, 0, result)
        self.assertEqual(self.event_names(), ["steam_init", "coplay_snapshot", "friends_snapshot"])
        self.assertEqual(self.env.events("coplay_snapshot")[0]["total"], 0)
        self.assertEqual(fake_steam.count_calls(self.env, "RequestUserInformation"), 0)

    def test_connection_failure_ends_with_status_1(self):
        result = self.run_dump({"logged_in": False})
        self.assertEqual(result.code, 1, result)
        self.assertEqual(self.event_names(), ["error"])
        error = self.env.events("error")[0]
        self.assertEqual((error["where"], error["detail"]),
                         ("steam_init", "ConnectToGlobalUser failed -- is anyone logged into Steam?"))
        self.assertIn("steam: ConnectToGlobalUser failed -- is anyone logged into Steam?\n", result.out)
        self.assertEqual(fake_steam.calls(self.env)[-2:], ["BReleaseSteamPipe 7", "unload"])


if __name__ == "__main__":
    harness.main()
