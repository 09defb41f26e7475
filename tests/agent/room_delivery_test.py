"""A match end to end (fake CS2, fake Steam client, loopback room server) up to
the room link handed to the player and kept in room.json, rooms.json and the room cfg."""

import time
import unittest

import harness
from harness import IS_WIN, PLAYERS, Agent
from room_server import derive_room_key

# The next match on the same server: the player and nine others, known to Steam too.
NEXT = [PLAYERS[0]] + [(76561198000000101 + i, "next %d" % i) for i in range(9)]


def room_key(players):
    return derive_room_key(str(steamid) for steamid, _ in players)


class RoomDeliveryTest(unittest.TestCase):
    def setUp(self):
        self.server = harness.RoomServer(lifetime=300)
        self.addCleanup(self.server.stop)
        self.url = self.server.base + "/r/" + room_key(PLAYERS)

    def assert_delivered(self, agent, count, url):
        self.assertEqual(agent.wait("room_delivered", count)[count - 1]["url"], url)
        self.assertIn("ROOM  " + url + "  -- c", agent.output())   # copied, or copy it from here
        if not IS_WIN:   # no display under Wine
            self.assertEqual(agent.file("clipboard"), url)

    def test_a_whole_match_from_the_menu(self):
        me = Agent(self, known=PLAYERS + NEXT, api=self.server).start()
        me.cs2.gsi_menu()
        me.cs2.gsi_map("de_mirage", "warmup")
        me.wait("match_started")
        me.cs2.exec_vantor(players=PLAYERS[:7])   # asked while only seven are in: no room yet
        me.wait("roster_progress", size=7)
        time.sleep(1.0)
        self.assertEqual(me.events("room_delivered"), [])
        me.cs2.status()   # the scoreboard's status with all ten answers the waiting request
        self.assert_delivered(me, 1, self.url)
        self.assertIn("ROSTER COMPLETE  room_key=%s  (10 players, validated by status) -- roster is now final "
                      "for this match\n    %d  self " % (room_key(PLAYERS), PLAYERS[0][0]),
                      me.output().replace("\r\n", "\n"))
        self.assertEqual([(p["room_key"], p["reporter_steamid64"]) for p in self.server.posts()],
                         [(room_key(PLAYERS), str(PLAYERS[0][0]))])
        self.assertEqual((me.file("room.json")["url"], me.file("rooms.json")[0]["map"]), (self.url, "de_mirage"))
        self.assertIn(self.url, me.file("vantor_room.cfg"))
        # Asked again by cfg and typed; two requests read in one pass are served once.
        me.cs2.exec_vantor_room()
        self.assert_delivered(me, 2, self.url)
        me.cs2.type_vantor()
        self.assert_delivered(me, 3, self.url)
        me.cs2.write_lines(["execing vantor_room", "[Console] Unknown command: vantor"])
        me.wait("room_requested", 5)
        time.sleep(1.0)
        self.assertEqual((len(me.events("room_delivered")), len(self.server.posts())), (4, 1))
        # The server moves on to another match without GSI noticing: a room of its own.
        me.cs2.exec_vantor(players=NEXT, reservation="9900001")
        me.wait("room_created", 2)
        me.cs2.type_vantor()
        next_url = self.server.base + "/r/" + room_key(NEXT)
        self.assert_delivered(me, 5, next_url)
        self.assertEqual([h["url"] for h in me.file("rooms.json")], [next_url, self.url])
        me.stop()

    def test_the_saved_room_comes_back_after_a_restart(self):
        me = Agent(self, api=self.server).start()
        me.cs2.gsi_map("de_inferno", "live", 3)
        me.wait("match_started")
        me.cs2.exec_vantor()
        self.assert_delivered(me, 1, self.url)
        me.stop()
        me.start()   # back in the same match with one player gone: no roster, but the saved room
        me.cs2.gsi_map("de_inferno", "live", 4)
        me.wait("match_started", 2)
        me.cs2.exec_vantor(players=PLAYERS[:9])
        self.assert_delivered(me, 2, self.url)
        self.assertEqual((len(me.events("room_link_restored")), len(self.server.posts())), (1, 1))
        self.assertIn("reusing the room saved for this match: " + self.url, me.output())
        me.stop()

    def test_cfgs_left_alone_and_a_console_log_yet_to_come(self):
        me = Agent(self, api=self.server, gsi_cfg=True, console_log=None).start("--no-write-cfg")
        me.cs2.gsi_map("de_nuke", "warmup")
        me.wait("match_started")
        me.cs2.exec_vantor()   # CS2 creates console.log: read from its first byte
        self.assert_delivered(me, 1, self.url)
        self.assertEqual([p.name for p in me.paths["cfg_dir"].iterdir()], [harness.fake_cs2.GSI_CFG])
        self.assertEqual(me.file("rooms.json")[0]["url"], self.url)
        me.stop()

    def test_two_players_of_one_match_meet_in_one_room(self):
        # The first player's Steam has not named the stranger "nova" yet, and
        # knows another "nova" from a match weeks ago: that agent must wait for
        # the name, not post a roster with the wrong nova in it.
        stranger, now = PLAYERS[8], int(time.time())
        coplay = [{"steamid": str(s), "appid": 730, "time": now - 60, "persona": n} for s, n in PLAYERS[1:]]
        coplay[7].update(persona="[unknown]", resolves_to=stranger[1], after_requests=2)
        coplay.append({"steamid": "76561198000000999", "appid": 730, "time": now - 30 * 86400, "persona": stranger[1]})
        first = Agent(self, api=self.server, steam={
            "self": {"steamid": str(PLAYERS[0][0]), "persona": PLAYERS[0][1]}, "coplay": coplay}).start()
        second = Agent(self, me=PLAYERS[3], api=self.server).start()
        for who in (first, second):
            who.cs2.gsi_map("de_anubis", "warmup")
            who.wait("match_started")
            who.cs2.exec_vantor(players=PLAYERS)   # the same server's rows in the same order
        deadline = time.monotonic() + 20
        while not any(p["blocked_by"].endswith("; waiting for Steam to name 1 player met in this match")
                      for p in first.events("roster_progress")):
            self.assertLess(time.monotonic(), deadline, first.output())
            time.sleep(0.1)
        for who in (first, second):
            self.assert_delivered(who, 1, self.url)
        self.assertEqual(sorted(who.events("room_created")[0]["created"] for who in (first, second)), [False, True])
        self.assertEqual(sorted(self.server.get("/_rooms")[room_key(PLAYERS)]["reporters"]),
                         [str(PLAYERS[0][0]), str(PLAYERS[3][0])])
        self.assertEqual(len(self.server.get("/_rooms")), 1)
        first.stop()
        second.stop()


if __name__ == "__main__":
    harness.main()
