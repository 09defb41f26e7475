"""One agent through two matches on one server, back to back: the first with a
player who left, the second, three minutes later, found by a new reservation,
with one player known only from an older co-play entry and one only by a
friend's former name. Both rosters complete with the right keys."""

import time
import unittest

import harness
from harness import Agent
from room_server import derive_room_key

ME = harness.PLAYERS[0]
FIRST = [ME] + [(76561198000000101 + i, name) for i, name in
                enumerate(["Ash", "Kilo", "Juno", "Pike", "Rook", "Sable", "Tarn", "Vex"])]
BO = (76561198000000201, "Bo")                   # a friend Steam places in CS2, met in no co-play entry
LURK = (76561198000000202, "Lurk")               # joined the first match and left for good
SECOND = [ME] + [(76561198000000301 + i, "next %d" % i) for i in range(7)]
MIKA = (76561198000000401, "Mika")               # met two hours ago; Steam has not refreshed the entry
TRINITY = (76561198000000402, "Trinity")         # a friend who now goes by "Tri"


def room_key(players):
    return derive_room_key(str(steamid) for steamid, _ in players)


class MatchChangeTest(unittest.TestCase):
    def test_a_leaver_and_a_match_three_minutes_later_each_get_their_room(self):
        now = int(time.time())

        def met(players, at):
            return [{"steamid": str(s), "appid": 730, "time": at, "persona": n} for s, n in players]

        # The first match's players were met three minutes ago, so they are
        # still within the co-play margin of the second match, and none of them is in it.
        coplay = met(FIRST[1:], now - 180) + met([LURK], now - 150) + met(SECOND[1:], now) + met([MIKA], now - 7200)
        friends = [{"steamid": str(BO[0]), "persona": "Bo", "history": ["Bo"], "game_id": 730},
                   {"steamid": str(TRINITY[0]), "persona": "Tri", "history": ["Tri", "Trinity"]}]
        agent = Agent(self, steam={"self": {"steamid": str(ME[0]), "persona": ME[1]},
                                   "coplay": coplay, "friends": friends}).start()
        agent.cs2.gsi_map("de_mirage", "warmup")
        agent.wait("match_started")
        first = FIRST + [BO]
        agent.cs2.exec_vantor(players=first, reservation="8512345")
        self.assertEqual(agent.wait("roster_complete")[0]["room_key"], room_key(first))

        second = SECOND + [MIKA, TRINITY]
        agent.cs2.status(players=second, reservation="9900001")
        agent.wait("match_changed")
        complete = agent.wait("roster_complete", 2)[1]
        self.assertEqual(complete["room_key"], room_key(second))
        sources = {m["steamid"]: m["source"] for m in complete["members"]}
        self.assertEqual((sources[str(MIKA[0])], sources[str(TRINITY[0])]), ("coplay", "friend"))
        self.assertEqual(len(agent.events("status_match")), 2)   # one record per status block
        agent.stop()


if __name__ == "__main__":
    harness.main()
