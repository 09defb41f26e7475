"""The room service under load, for the tests of several instances and of
faults: instances of the built vantor-rooms (`Instance`), the ten reports of
simulated matches (`match_reports`) and threads posting them while a fault is
played (`Load`), keeping every answer to check afterwards.

    db = postgres.Cluster(self)
    a, b = Instance(self, db.url), Instance(self, db.url)   # self.folder: where their logs go
    load = Load([a, b], match_reports(100)).start()
    ...; answers = load.join()
"""

import http.client
import json
import shutil
import signal
import tempfile
import threading
import time
from pathlib import Path
from types import SimpleNamespace

from service_support import RoomsService, match_ids, room_body


def match_reports(matches, first=0):
    """The ten reports (bodies) of each of `matches` simulated matches, match by match."""
    return [json.dumps(room_body(match_ids(m), reporter), separators=(",", ":"))
            for m in range(first, first + matches) for reporter in sorted(match_ids(m), key=str)]


def use_folder(test):
    """`test.folder`: a scratch folder for the instances' logs, removed afterwards."""
    test.folder = Path(tempfile.mkdtemp(prefix="vantor-rooms-"))
    test.addCleanup(shutil.rmtree, test.folder, True)


class Instance(RoomsService):
    """One vantor-rooms with a short database timeout and no rate limits,
    stopped at the test's end."""

    def __init__(self, test, db, *flags, timeout_ms=1000, pool=4):
        super().__init__(tempfile.mkdtemp(prefix="instance-", dir=test.folder), db, public_url="https://rooms.test",
                         extra=["--db-pool", str(pool), "--db-timeout-ms", str(timeout_ms), "--post-rate", "0",
                                "--get-rate", "0", *flags])
        test.addCleanup(self.stop, signal.SIGKILL)

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
