"""Faults of the database and of an instance under load, survived: while a
fault lasts the service answers 503 in bounded time (the agent retries 5xx),
afterwards 2xx again by itself, and no report answered 2xx is ever lost."""

import collections
import json
import os
import signal
import sqlite3
import subprocess
import tempfile
import threading
import time
import unittest
from pathlib import Path

import harness
import postgres
from room_load import Instance, Load, match_reports, use_folder

TIMEOUT = 1.0   # --db-timeout-ms of the instances, in seconds
ARRIVALS = "SELECT r.key, a.steamid FROM rooms r JOIN arrivals a ON a.room_id = r.id"


class FaultsTest(unittest.TestCase):
    def setUp(self):
        use_folder(self)

    def load(self, instances, matches, at, fault, **how):
        """Posts `matches` matches while `fault` runs `at` seconds in; (load, answers)."""
        load = Load(instances, match_reports(matches), **how).start()
        time.sleep(at)
        fault()
        return load, load.join()

    def assert_survived(self, load, answers, stored, during=(0, 1e9)):
        """503s while the fault lasted, every report 2xx in the end, none slower
        than the timeout allows, every 2xx stored, each room created at most once."""
        statuses = collections.Counter(a.status for a in answers if during[0] <= a.at <= during[1])
        self.assertGreater(statuses[503], 0, statuses)
        self.assertEqual({a.status for a in answers} - {200, 201, 503, 0}, set())
        self.assertEqual(len({a.index for a in answers if a.status in (200, 201)}), len(load.reports))
        self.assertLess(max(a.took for a in answers), TIMEOUT + 1.0)
        self.assertEqual(load.kept() - stored, set())
        created = collections.Counter(json.loads(load.reports[a.index])["room_key"] for a in answers if a.created)
        self.assertLessEqual(set(created.values()), {1})

    def pg_stored(self, db):
        return {(k, int(s)) for k, s in db.sql(ARRIVALS)}

    def test_the_database_stopped_for_ten_seconds(self):
        db = postgres.Cluster(self)
        a, b = Instance(self, db.url), Instance(self, db.url)
        health = []

        def outage():
            db.stop()
            began = time.monotonic()
            while time.monotonic() - began < 10:
                health.append((a.request("GET", "/healthz", timeout=5), b.healthy()))
                time.sleep(0.5)
            db.start()

        load, answers = self.load([a, b], 60, 1.0, outage, threads=4, pace=0.02, retry_until=30)
        self.assertTrue(health and all(h[0][0] == 503 and not h[1] for h in health), health)
        self.assertIn("database", health[-1][0][1])
        self.assertTrue(a.healthy() and b.healthy())
        self.assert_survived(load, answers, self.pg_stored(db), (1.5, 10.5))
        self.assertGreater(len([x for x in answers if x.at > 12 and x.status in (200, 201)]), 0)

    def test_an_instance_killed(self):
        db = postgres.Cluster(self)
        a, b = Instance(self, db.url), Instance(self, db.url)
        load, answers = self.load([a, b], 100, 1.0, lambda: a.process.kill(), threads=4, pace=0.01)
        after = collections.Counter((x.port, x.status) for x in answers if x.at > 1.5)
        self.assertGreater(after[(b.port, 200)], 100, after)
        self.assertEqual(after[(a.port, 200)] + after[(a.port, 201)], 0, after)
        self.assertEqual(len({x.index for x in answers if x.status in (200, 201)}), len(load.reports))
        self.assertEqual(load.kept() - self.pg_stored(db), set())
        self.assertEqual(db.sql("SELECT count(*) FROM rooms"), [["100"]])
        self.assertTrue(b.healthy())

    def test_a_query_held_by_a_lock(self):
        db = postgres.Cluster(self)
        a = Instance(self, db.url, pool=4)
        lock = db.session()
        self.addCleanup(lock.wait, 10)

        def hold():
            lock.stdin.write("BEGIN; LOCK TABLE rooms IN ACCESS EXCLUSIVE MODE; SELECT 1;\n")
            lock.stdin.flush()
            time.sleep(4)
            lock.stdin.write("ROLLBACK;\n")
            lock.stdin.close()

        load, answers = self.load([a], 30, 0.5, hold, threads=4, pace=0.05)
        self.assert_survived(load, answers, self.pg_stored(db), (1.0, 4.5))
        self.assertTrue(a.healthy())

    def test_a_database_that_hangs(self):
        db = postgres.Cluster(self)
        a = Instance(self, db.url)

        def signal_server(sig):   # the server and its backends, as they are now
            for pid in [db.pid()] + subprocess.run(["ps", "-o", "pid=", "--ppid", db.pid()],
                                                   capture_output=True, text=True).stdout.split():
                try:
                    os.kill(int(pid), sig)
                except ProcessLookupError:   # a backend whose client left
                    pass

        def hang():
            signal_server(signal.SIGSTOP)
            self.addCleanup(signal_server, signal.SIGCONT)
            time.sleep(1)
            health.append(a.request("GET", "/healthz", timeout=5)[0])
            time.sleep(2)
            signal_server(signal.SIGCONT)

        health = []
        load, answers = self.load([a], 30, 0.5, hang, threads=4, pace=0.05)
        self.assert_survived(load, answers, self.pg_stored(db), (1.0, 3.5))
        self.assertEqual((health, a.healthy()), ([503], True))

    def test_sqlite_on_a_full_disk(self):
        disk = Path(tempfile.mkdtemp(prefix="vantor-full-"))
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", str(disk)], check=True)
        self.addCleanup(lambda: (subprocess.run(["umount", "-l", str(disk)]), os.rmdir(disk)))
        a = Instance(self, str(disk / "rooms.db"))
        reports = match_reports(40)
        before = [a.request("POST", "/v1/matches", body)[0] for body in reports[:100]]
        with open(disk / "filler", "wb") as filler:   # the disk fills up
            try:
                while True:
                    filler.write(b"\0" * 65536)
                    filler.flush()
            except OSError:
                pass
        during = [a.request("POST", "/v1/matches", body) for body in reports[100:300]]
        (disk / "filler").unlink()
        after = [a.request("POST", "/v1/matches", body)[0] for body in reports[100:]]
        self.assertEqual(set(before), {200, 201})
        self.assertIn(503, [status for status, _ in during])
        self.assertEqual({status for status, _ in during} - {200, 201, 503}, set())
        self.assertEqual(set(after), {200, 201})
        self.assertTrue(a.healthy())
        with sqlite3.connect(disk / "rooms.db") as check:
            self.assertEqual(check.execute("PRAGMA integrity_check").fetchall(), [("ok",)])
            self.assertEqual(check.execute("SELECT count(*) FROM arrivals").fetchall(), [(400,)])


if __name__ == "__main__":
    harness.main()
