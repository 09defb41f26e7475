"""vantor-rooms over real HTTP: ten reports of 200 matches at once, the limits
that keep a client from holding or flooding it, a kill -9 under load that
loses no answered report, and a stop that finishes in-flight work in time."""

import json
import os
import signal
import socket
import sqlite3
import tempfile
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from service_support import Client, RoomsService, derive_room_key, match_ids, room_body

UNLIMITED = ["--post-rate", "0", "--get-rate", "0"]


class RoomsServiceTest(unittest.TestCase):
    def setUp(self):
        build = Path(os.environ.get("VANTOR_BUILD_DIR", "."))
        (build / "test-tmp").mkdir(parents=True, exist_ok=True)
        self.folder = Path(tempfile.mkdtemp(prefix="rooms_service_", dir=build / "test-tmp"))

    def service(self, *extra, db=None):
        service = RoomsService(self.folder, db=db, extra=extra)
        self.addCleanup(service.stop)
        return service

    def test_two_hundred_matches_ten_reports_each_at_once(self):
        service = self.service(*UNLIMITED, "--threads", "2")
        matches = 200
        jobs = [(m, reporter) for reporter in range(10) for m in range(matches)]
        local = threading.local()

        def report(job):
            m, reporter = job
            if not hasattr(local, "client"):
                local.client = service.client()
            ids = match_ids(m)
            status, answer, _ = local.client.post(room_body(ids, ids[reporter]))
            return m, status, answer

        with ThreadPoolExecutor(16) as pool:
            results = list(pool.map(report, jobs))
        self.assertEqual({status for _, status, _ in results}, {200, 201})
        created = [m for m, status, answer in results if answer["created"]]
        self.assertEqual(sorted(created), list(range(matches)))   # exactly one per key
        self.assertTrue(all((status == 201) == answer["created"] for _, status, answer in results))
        client = service.client()
        for m in range(matches):
            ids = match_ids(m)
            status, room = client.get_json("/v1/rooms/" + derive_room_key(ids))
            self.assertEqual((status, sorted(room["arrived"]), room["here"]), (200, sorted(map(str, ids)), 10))
        metrics = client.request("GET", "/metrics")[2].decode()
        self.assertIn("vantor_rooms_rooms_created_total 200\n", metrics)
        self.assertIn("vantor_rooms_rooms_joined_total 1800\n", metrics)
        self.assertIn('vantor_rooms_requests_total{route="post_match",status="201"} 200\n', metrics)

    def test_limits_a_client_cannot_pass(self):
        service = self.service("--request-timeout", "1", "--max-connections", "8")
        ids = match_ids(7)
        body = room_body(ids, ids[0])
        rows = {
            "a body over 64 KiB": (json.dumps(dict(body, padding="x" * 65536)).encode(), {}, 400, "body over 64 KiB"),
            "headers over 8 KiB": (b"{}", {"X-Filler": "y" * 9000}, 431, "request headers too large"),
            "not JSON": (b"{", {}, 400, "body is not JSON"),
        }
        for name, (data, headers, status, error) in rows.items():
            with self.subTest(name):
                client = service.client()
                got, _, answer = client.request("POST", "/v1/matches", data, headers)
                self.assertEqual((got, json.loads(answer)["error"]), (status, error))
                client.close()

        # The default rate: a burst of 20, then 429 with Retry-After, which the
        # agent takes as final. X-Forwarded-For is believed only with --trust-proxy.
        proxied = self.service("--trust-proxy", db=self.folder / "proxied.db")
        for target, forwarded_counts in ((service, False), (proxied, True)):
            client = target.client()
            spoof = {"X-Forwarded-For": "198.51.100.1, 203.0.113.%d"}
            statuses = [client.post(room_body(ids, ids[i % 10]), {"X-Forwarded-For": "203.0.113.5"})[0]
                        for i in range(20 if forwarded_counts else 19)]   # "not JSON" took one
            self.assertLessEqual(set(statuses), {200, 201})
            status, answer, head = client.post(body, {"X-Forwarded-For": "203.0.113.5"})
            self.assertEqual((status, answer["error"], int(head["Retry-After"]) >= 1),
                             (429, "too many requests from this address", True))
            other = client.post(body, {"X-Forwarded-For": spoof["X-Forwarded-For"] % 6})[0]
            self.assertEqual(other, 200 if forwarded_counts else 429)
        clients = {line["client"] for line in proxied.access_lines(at_least=22)}
        self.assertEqual(clients, {"203.0.113.5", "203.0.113.6"})

        # A client that sends half a request is cut off at the request time-out,
        # and while it waits the others are served.
        slow = socket.create_connection(("127.0.0.1", service.port))
        slow.sendall(b"POST /v1/matches HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{")
        began = time.monotonic()
        self.assertEqual(service.client().request("GET", "/healthz")[0], 200)
        slow.settimeout(5)
        self.assertEqual(slow.recv(100), b"")
        self.assertLess(time.monotonic() - began, 3)

        # Open connections are capped: beyond eight, a connection is closed at once.
        idle = [socket.create_connection(("127.0.0.1", service.port)) for _ in range(8)]
        time.sleep(0.3)
        extra = socket.create_connection(("127.0.0.1", service.port))
        extra.settimeout(2)
        try:
            self.assertEqual(extra.recv(10), b"")
        except ConnectionResetError:
            pass
        for s in idle + [extra, slow]:
            s.close()

        lines = service.access_lines()
        self.assertTrue(all(set(line) >= {"time_ms", "client", "method", "target", "status", "ms"} for line in lines))
        self.assertIn(429, [line["status"] for line in lines])

    def test_kill_nine_under_load_loses_no_answered_report(self):
        service = self.service(*UNLIMITED)
        answered, stop = [], threading.Event()
        lock = threading.Lock()

        def load(worker):
            client = Client(service.port, timeout=3)
            m = worker * 100000
            while not stop.is_set():
                ids = match_ids(m)
                for reporter in (0, 1):
                    try:
                        status, _, _ = client.post(room_body(ids, ids[reporter]))
                    except OSError:
                        return
                    if status in (200, 201):
                        with lock:
                            answered.append((derive_room_key(ids), str(ids[reporter])))
                m += 1

        threads = [threading.Thread(target=load, args=(w,)) for w in range(4)]
        for t in threads:
            t.start()
        time.sleep(1.5)
        service.process.send_signal(signal.SIGKILL)
        service.process.wait()
        stop.set()
        for t in threads:
            t.join(10)
        self.assertGreater(len(answered), 100)
        service.start()
        client = service.client()
        missing = []
        for key, reporter in answered:
            status, room = client.get_json("/v1/rooms/" + key)
            if status != 200 or reporter not in room["arrived"]:
                missing.append((key, reporter, status))
        self.assertEqual(missing, [])

    def test_a_stop_finishes_what_is_in_flight_within_two_seconds(self):
        db = self.folder / "stop.db"
        service = self.service("--db-timeout-ms", "1000", db=db)
        idle = socket.create_connection(("127.0.0.1", service.port))   # keep-alive, never used
        locker = sqlite3.connect(db, timeout=0, isolation_level=None)
        locker.execute("BEGIN EXCLUSIVE")
        ids = match_ids(9)
        result = {}

        def post():
            result["answer"] = Client(service.port).post(room_body(ids, ids[0]))

        poster = threading.Thread(target=post)
        poster.start()
        time.sleep(0.3)   # the POST now waits for the database
        began = time.monotonic()
        service.process.send_signal(signal.SIGTERM)
        time.sleep(0.2)
        locker.execute("COMMIT")
        code = service.process.wait(5)
        poster.join(5)
        self.assertLess(time.monotonic() - began, 2.0)
        self.assertEqual(code, 0)
        self.assertEqual(result["answer"][0], 201)   # answered, not dropped
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", service.port), timeout=1)
        idle.close()
        stored = sqlite3.connect(db).execute("SELECT count(*) FROM arrivals").fetchone()[0]
        self.assertEqual(stored, 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
