"""Several vantor-rooms instances on one PostgreSQL database: whatever
instance a report reaches, each room is created once and each arrival kept once."""

import collections
import concurrent.futures
import json
import unittest

import harness
import postgres
from harness import PLAYERS, Agent
from room_load import Instance, Load, match_reports, use_folder
from service_support import derive_room_key, match_ids, room_body

ARRIVALS = "SELECT r.key, a.steamid FROM rooms r JOIN arrivals a ON a.room_id = r.id"


class InstancesTest(unittest.TestCase):
    def setUp(self):
        use_folder(self)
        self.db = postgres.Cluster(self)
        # Started at once: the second waits for the first's migration, neither fails.
        with concurrent.futures.ThreadPoolExecutor(2) as starting:
            self.a, self.b = starting.map(lambda url: Instance(self, url, timeout_ms=5000),
                                          (self.db.url, self.db.url.replace("postgresql:", "postgres:")))

    def test_a_hundred_matches_over_two_instances_make_a_hundred_rooms(self):
        load = Load([self.a, self.b], match_reports(100), threads=10).start()
        answers = load.join()
        self.assertEqual(collections.Counter(a.status for a in answers), {201: 100, 200: 900})
        created = collections.Counter(json.loads(load.reports[a.index])["room_key"] for a in answers if a.created)
        self.assertEqual((len(created), set(created.values())), (100, {1}))
        self.assertEqual({(k, int(s)) for k, s in self.db.sql(ARRIVALS)}, load.kept())
        self.assertEqual(self.db.sql("SELECT count(*) FROM rooms"), [["100"]])
        # A report sent again joins without a second arrival.
        self.assertEqual(self.b.request("POST", "/v1/matches", load.reports[0])[0], 200)
        self.assertEqual(self.db.sql("SELECT count(*) FROM arrivals"), [["1000"]])
        metrics = dict(line.rsplit(" ", 1) for line in self.a.request("GET", "/metrics")[1].splitlines()
                       if not line.startswith("#"))
        self.assertEqual(metrics['vantor_rooms_store_connections{engine="postgresql",state="total"}'], "4")
        self.assertGreaterEqual(int(metrics["vantor_rooms_store_query_duration_seconds_count"]), 500)

    def test_a_room_reads_the_same_from_either_instance(self):
        ids = match_ids(500)
        reports = [(self.a, ids[0], "", 'Zo\u00eb "first"'), (self.b, ids[1], "de_vertigo", "second"),
                   (self.a, ids[2], "de_dust2", "third"), (self.b, ids[1], "", "second again")]
        statuses = [instance.request("POST", "/v1/matches", json.dumps(
            room_body(ids, reporter, names={i: name for i in ids}, map_name=map_name)))[0]
            for instance, reporter, map_name, name in reports]
        self.assertEqual(statuses, [201, 200, 200, 200])
        rooms = [json.loads(i.request("GET", "/v1/rooms/" + derive_room_key(ids))[1]) for i in (self.a, self.b)]
        self.assertEqual(rooms[0], rooms[1])
        # The first roster stays; the first map learnt fills the empty one and stays.
        self.assertEqual((rooms[0]["map"], rooms[0]["members"][0]["name"]), ("de_vertigo", 'Zo\u00eb "first"'))
        self.assertEqual(sorted(rooms[0]["arrived"]), sorted(str(i) for i in ids[:3]))
        # Two days later an instance keeping rooms one day purges it, with its arrivals.
        self.db.sql("UPDATE rooms SET created_at = created_at - 2 * 86400")
        Instance(self, self.db.url, "--keep-days", "1")
        self.assertTrue(postgres.wait_for(lambda: self.db.sql("SELECT count(*) FROM arrivals") == [["0"]], 10))
        self.assertEqual(self.a.request("GET", "/v1/rooms/" + derive_room_key(ids))[0], 404)

    def test_ten_agents_over_two_instances_meet_in_one_room(self):
        agents = [Agent(self, me=p, api=(self.a, self.b)[i % 2]) for i, p in enumerate(PLAYERS)]
        for agent in agents:
            agent.start()
            agent.cs2.gsi_map("de_ancient")
            agent.cs2.exec_vantor()
        events = [agent.wait("room_created", timeout=60)[0] for agent in agents]
        key = derive_room_key(s for s, _ in PLAYERS)
        self.assertEqual({(e["room_key"], e["url"]) for e in events}, {(key, "https://rooms.test/r/" + key)})
        self.assertEqual(sorted(e["created"] for e in events), [False] * 9 + [True])
        self.assertEqual(sorted(int(s) for _, s in self.db.sql(ARRIVALS)), sorted(s for s, _ in PLAYERS))
        self.assertEqual(self.db.sql("SELECT map FROM rooms"), [["de_ancient"]])


if __name__ == "__main__":
    harness.main()
