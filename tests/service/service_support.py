"""Runs the real room service for the end-to-end tests and the tools, and
speaks its API: the agent's request body, POSTs and GETs over loopback."""

import hashlib
import http.client
import json
import os
import signal
import socket
import sqlite3
import subprocess
import time
from pathlib import Path

BASE_ID = 76561198000000000


def rooms_binary():
    """The service of this build; a Windows build's tools use the native one."""
    source = Path(__file__).resolve().parents[2]
    for build in (os.environ.get("VANTOR_BUILD_DIR"), source / "build" / "native"):
        if os.environ.get("VANTOR_ROOMS"):
            return os.environ["VANTOR_ROOMS"]
        if build and (Path(build) / "vantor-rooms").exists():
            return str(Path(build) / "vantor-rooms")
    raise AssertionError("vantor-rooms is not built (cmake --build --preset native --target vantor-rooms)")


def derive_room_key(steamids):
    ordered = sorted(str(i).encode("ascii") for i in steamids)
    return hashlib.sha256(b",".join(ordered)).hexdigest()[:32]


def match_ids(match, size=10):
    """Ten distinct real players' ids for match number `match`."""
    return [BASE_ID + 1000 + match * 16 + i for i in range(size)]


def room_body(ids, reporter, names=None, teams=None, map_name="de_mirage", **override):
    ids = sorted(ids, key=str)
    names = names or {i: f"player {i % 1000}" for i in ids}
    teams = teams or {i: ("CT" if n < 5 else "T") for n, i in enumerate(ids)}
    body = {
        "map": map_name,
        "members": [{"group": 0, "name": names[i], "source": "gsi", "steamid": str(i), "team": teams[i]}
                    for i in ids],
        "reporter_steamid64": str(reporter),
        "reservation": "",
        "room_key": derive_room_key(ids),
        "steamids": [str(i) for i in ids],
    }
    body.update(override)
    return body


class Client:
    """One keep-alive connection to the service."""

    def __init__(self, port, timeout=10):
        self.port = port
        self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)

    def request(self, method, path, body=None, headers=None):
        data = body if isinstance(body, (bytes, type(None))) else json.dumps(body).encode()
        for attempt in range(2):
            try:
                self.connection.request(method, path, body=data, headers=headers or {})
                answer = self.connection.getresponse()
                return answer.status, dict(answer.getheaders()), answer.read()
            except (ConnectionError, http.client.HTTPException):
                self.connection.close()
                if attempt:
                    raise
        raise AssertionError("unreachable")

    def post(self, body, headers=None):
        status, head, data = self.request("POST", "/v1/matches", body, headers)
        return status, json.loads(data) if data else None, head

    def get_json(self, path):
        status, _, data = self.request("GET", path)
        return status, json.loads(data) if data else None

    def close(self):
        self.connection.close()


class RoomsService:
    """vantor-rooms on a free loopback port, its stdout (the access log) in a
    file of `folder`. public_url None: the links point at this very service."""

    def __init__(self, folder, db=None, public_url="https://rooms.example.org", extra=()):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.db = db or self.folder / "rooms.db"   # a path, or a PostgreSQL connection string
        self.extra = list(extra)
        self.process = None
        self.port = None
        port = 0
        if public_url is None:
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            public_url = f"http://127.0.0.1:{port}"
        self.public_url = public_url
        self.start(port)

    def start(self, port=0):
        self.out = self.folder / f"rooms-{int(time.time() * 1000)}.log"
        self.err = self.folder / (self.out.stem + ".err")
        args = [rooms_binary(), "--listen", f"127.0.0.1:{port}", "--db", str(self.db),
                "--public-url", self.public_url, *self.extra]
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.process = subprocess.Popen(args, stdout=out, stderr=err)
        deadline = time.time() + 30
        while time.time() < deadline:
            lines = self.out.read_text(errors="replace").splitlines()
            if lines:
                self.port = json.loads(lines[0])["port"]
                return
            if self.process.poll() is not None:
                raise AssertionError(f"vantor-rooms exited: {self.err.read_text(errors='replace')}")
            time.sleep(0.02)
        raise AssertionError("vantor-rooms did not start listening")

    @property
    def base(self):
        return f"http://127.0.0.1:{self.port}"

    def client(self):
        return Client(self.port)

    def access_lines(self, at_least=0):
        """The access log so far; with at_least, once it holds that many lines
        (a line is written just after its answer is sent)."""
        end = time.monotonic() + 10
        while True:
            lines = [json.loads(line) for line in self.out.read_text(errors="replace").splitlines()[1:] if line]
            if len(lines) >= at_least or time.monotonic() > end:
                return lines
            time.sleep(0.02)

    def get(self, path):
        """What tools/room_server.py answers to GET /_rooms, read from the
        database: {room_key: {"url", "reporters"}}."""
        assert path == "/_rooms", path
        con = sqlite3.connect(self.db)
        try:
            rows = con.execute("SELECT key, steamid FROM rooms JOIN arrivals ON arrivals.room_id = rooms.id "
                               "ORDER BY first_seen, steamid").fetchall()
        finally:
            con.close()
        rooms = {}
        for key, steamid in rows:
            rooms.setdefault(key, {"url": f"{self.public_url}/r/{key}", "reporters": []})["reporters"].append(str(steamid))
        return rooms

    def stop(self, sig=signal.SIGTERM, within=5.0):
        if self.process and self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                self.process.wait(within)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode
