"""Real agents against the real room service: the ten players of one match
meet in one room (one created, nine joined), and an agent whose report meets
a locked database gets a 503 and gets in on its retry."""

import sqlite3
import time
import unittest

import harness
from harness import PLAYERS, Agent
from service_support import RoomsService, derive_room_key


class AgentsRoomsTest(unittest.TestCase):
    def setUp(self):
        folder = harness.BUILD_DIR / "test-tmp" / ("agents_rooms_" + self.id().split(".")[-1])
        self.service = RoomsService(folder, db=folder / f"rooms-{time.time_ns()}.db",
                                    extra=["--db-timeout-ms", "300"])
        self.addCleanup(self.service.stop)
        self.key = derive_room_key(steamid for steamid, _ in PLAYERS)
        self.url = self.service.public_url + "/r/" + self.key

    def room(self):
        status, room = self.service.client().get_json("/v1/rooms/" + self.key)
        self.assertEqual(status, 200)
        return room

    def test_ten_agents_one_room(self):
        agents = [Agent(self, me=player, api=self.service) for player in PLAYERS]
        for agent in agents:
            agent.start()
            agent.cs2.gsi_map("de_ancient", "live", 1)
        for agent in agents:
            agent.wait("match_started")
            agent.cs2.exec_vantor()
        created = [agent.wait("room_created", timeout=60)[0] for agent in agents]
        self.assertEqual(sorted(c["created"] for c in created), [False] * 9 + [True])
        self.assertEqual({(c["url"], c["status"]) for c in created}, {(self.url, 200), (self.url, 201)})
        room = self.room()
        self.assertEqual((room["here"], room["map"]), (10, "de_ancient"))
        self.assertEqual(sorted(room["arrived"]), sorted(str(s) for s, _ in PLAYERS))
        self.assertEqual([m["name"] for m in room["members"]],
                         [n for _, n in sorted(PLAYERS, key=lambda p: str(p[0]))])
        for agent in agents:
            agent.stop()

    def test_a_locked_database_is_a_503_and_the_retry_gets_in(self):
        locker = sqlite3.connect(self.service.db, timeout=0, isolation_level=None)
        locker.execute("BEGIN EXCLUSIVE")
        me = Agent(self, api=self.service).start()
        me.cs2.gsi_map("de_mirage", "live", 1)
        me.wait("match_started")
        me.cs2.exec_vantor()
        failed = me.wait("room_post_failed")[0]
        self.assertEqual((failed["status"], failed["attempt"], failed["retry_in_ms"]), (503, 1, 2000))
        locker.execute("COMMIT")
        created = me.wait("room_created", timeout=30)[0]
        self.assertEqual((created["created"], created["url"]), (True, self.url))
        self.assertEqual(self.room()["here"], 1)
        me.stop()


if __name__ == "__main__":
    harness.main()
