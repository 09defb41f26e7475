"""The room service under load, for the tests of several instances and of
faults: instances of the built vantor-rooms (`Instance`), the ten reports of
simulated matches (`match_reports`) and threads posting them while a fault is
played (`Load`), keeping every answer to check afterwards.

    db = postgres.Cluster(self)
    a, b = Instance(self, db.url), Instance(self, db.url)
    load = Load([a, b], match_reports(100)).start()
    ...; answers = load.join()
"""

import hashlib
import http.client
import json
import os
import subprocess
import threading
import time
from pathlib import Path
from types import SimpleNamespace

import harness

ROOMS = os.environ.get("VANTOR_ROOMS", str(harness.BUILD_DIR / "vantor-rooms"))


def room_key(steamids):
    """The key of ten players: their decimal texts sorted as bytes, joined by ",", SHA-256, 32 hex digits."""
    return hashlib.sha256(",".join(sorted(str(s) for s in steamids)).encode()).hexdigest()[:32]


def match_reports(matches, first=0):
    """The ten reports (bodies) of each of `matches` simulated matches, match by match."""
    out = []
    for m in range(first, first + matches):
        ids = sorted((76561198100000000 + m * 10 + i for i in range(10)), key=str)
        members = [{"group": 0, "name": "player %d.%d" % (m, i), "source": "status", "steamid": str(s),
                    "team": "CT" if i < 5 else "T"} for i, s in enumerate(ids)]
        for reporter in ids:
            out.append(json.dumps({"map": "de_nuke", "members": members, "reporter_steamid64": str(reporter),
                                   "reservation": str(9000000 + m), "room_key": room_key(ids),
                                   "steamids": [str(s) for s in ids]}, separators=(",", ":")))
    return out


class Instance:
    """One vantor-rooms on a free loopback port; stdout (its request log) goes to a file."""

    def __init__(self, test, db, *flags, timeout_ms=1000, pool=4):
        self.log = Path(test.root if hasattr(test, "root") else "/tmp") / ("rooms-%d.log" % id(self))
        self.command = [ROOMS, "--listen", "127.0.0.1:0", "--db", db, "--public-url", "https://rooms.test",
                        "--db-pool", str(pool), "--db-timeout-ms", str(timeout_ms), "--post-rate", "0",
                        "--get-rate", "0"] + list(flags)
        with open(self.log, "wb") as out:
            self.popen = subprocess.Popen(self.command, stdout=out, stderr=subprocess.PIPE,
                                          env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
        test.addCleanup(self.kill)
        end = time.monotonic() + 30
        while time.monotonic() < end and self.popen.poll() is None:
            first = self.log.read_bytes().split(b"\n", 1)
            if len(first) == 2:
                self.port = json.loads(first[0])["port"]
                return
            time.sleep(0.02)
        raise AssertionError("vantor-rooms did not start: %s" % self.popen.stderr.read().decode())

    def request(self, method, path, body=None, timeout=10):
        """(status, answer text); status 0 when nobody answered."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, path, body, {"Content-Type": "application/json"} if body else {})
            answer = connection.getresponse()
            return answer.status, answer.read().decode("utf-8", "replace")
        except OSError:
            return 0, ""
        finally:
            connection.close()

    def healthy(self):
        return self.request("GET", "/healthz")[0] == 200

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
        self.popen.wait(10)
        self.popen.stderr.close()


class Load:
    """`threads` threads posting `reports` spread over the instances (report i
    to instance i % n) on keep-alive connections, each answer kept with when
    it came and how long it took; a report answered 5xx is tried again, as
    the agent does, until `retry_until` seconds after the start; one nobody
    answered goes to the next instance."""

    def __init__(self, instances, reports, threads=8, retry_until=60.0, pace=0.0):
        self.instances, self.reports, self.threads = instances, reports, threads
        self.retry_until, self.pace, self.answers, self._next = retry_until, pace, [], 0
        self._lock = threading.Lock()

    def start(self):
        self.began = time.monotonic()
        self._workers = [threading.Thread(target=self._work, daemon=True) for _ in range(self.threads)]
        for worker in self._workers:
            worker.start()
        return self

    def _take(self):
        with self._lock:
            self._next += 1
            return self._next - 1 if self._next <= len(self.reports) else None

    def _work(self):
        connections = {}
        while (index := self._take()) is not None:
            turn = index
            while True:
                # Nobody answering: the next instance, as a load balancer would.
                instance = self.instances[turn % len(self.instances)]
                began = time.monotonic()
                status, text = self._post(connections, instance, self.reports[index])
                answer = SimpleNamespace(index=index, port=instance.port, status=status, at=began - self.began,
                                         took=time.monotonic() - began,
                                         created=status in (200, 201) and json.loads(text).get("created"))
                with self._lock:
                    self.answers.append(answer)
                if status < 500 and status != 0 or time.monotonic() - self.began > self.retry_until:
                    break
                turn += status == 0
                time.sleep(0.05)
            time.sleep(self.pace)
        for connection in connections.values():
            connection.close()

    @staticmethod
    def _post(connections, instance, body):
        for _ in range(2):   # a keep-alive connection the server closed is opened again once
            connection = connections.get(instance.port) or http.client.HTTPConnection("127.0.0.1", instance.port,
                                                                                      timeout=10)
            connections[instance.port] = connection
            try:
                connection.request("POST", "/v1/matches", body, {"Content-Type": "application/json"})
                answer = connection.getresponse()
                return answer.status, answer.read().decode("utf-8", "replace")
            except OSError:
                connection.close()
                connections.pop(instance.port)
        return 0, ""

    def join(self, timeout=120):
        for worker in self._workers:
            worker.join(max(0.0, timeout - (time.monotonic() - self.began)))
        return self.answers

    def kept(self):
        """(room key, reporter) of every report answered 2xx."""
        return {(json.loads(self.reports[a.index])["room_key"], int(json.loads(self.reports[a.index])
                 ["reporter_steamid64"])) for a in self.answers if 200 <= a.status < 300}
