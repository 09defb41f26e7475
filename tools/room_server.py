#!/usr/bin/env python3
"""A loopback stand-in for the room service (Python 3 standard library only).

It answers POST <any base path>/v1/matches the way the room service does:

  * the body must be a JSON object with ten distinct SteamID64 strings in
    "steamids", a "room_key" of 32 lower-case hex characters equal to the key
    derived from them (the decimal texts sorted as byte strings, joined with
    ",", SHA-256, first 32 hex characters), a "reporter_steamid64" among them,
    a string "reservation" and ten "members" objects (group, name, source,
    steamid, team) naming the same players; otherwise 400 {"error": ...};
  * a new key creates a room:    201 {"created": true,  "url": ".../r/<key>", "room_key": key}
  * a known key joins that room: 200 {"created": false, "url": ".../r/<key>", "room_key": key}
    so two agents reporting the same match land in the same room.

Every answer closes the connection. Scripted steps take the place of the
normal answer, one step per POST to .../v1/matches, in order; once they are
used up the server answers normally again. Steps:

  ok              the normal answer
  503, 409, ...   that status with a small JSON error body
  500:TEXT        that status with TEXT as the body
  raw:TEXT        200 with TEXT as the body (e.g. raw:{"url":"x;quit","created":true})
  redirect:PATH   307 to PATH on this server (the client repeats the POST there)
  slow:SECONDS    wait that long, then the normal answer
  drop            read the request, then close without answering
  headers-only    a 200 status line and headers, no length, then close
  short-body      200 announcing 100 bytes, sending 10, then close
  link:URL        201 {"created": true, "url": URL}: any link, hostile ones too
  trickle:SECONDS the normal answer, status line and all, one byte every SECONDS (default 1)
  silence:SECONDS read the request, then say nothing for SECONDS (default 120), then close
  endless:BYTES   200 without a length, then BYTES of a JSON body that never ends
                  (default 1.5 GiB), as fast as the client reads; stops when it hangs up

Usage:

  python3 tools/room_server.py [--port N] [--step STEP]... [--lifetime SECONDS]

It listens on 127.0.0.1 (port 0, the default, picks a free one), prints
"room_server listening on 127.0.0.1:PORT" on stdout once it is listening
(tests/support/harness.py reads the port from it). Point the agent at it
with --api-base http://127.0.0.1:PORT (any base path works). It stops on
SIGINT/SIGTERM or after --lifetime seconds (default 900).

Control requests, for tests:
  GET  /_requests  the requests received so far: [{"path", "headers", "body", "status"}]
  GET  /_rooms     {room_key: {"url", "reporters"}}
"""

import argparse
import hashlib
import json
import re
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HEX32 = re.compile(r"^[0-9a-f]{32}$")
DECIMAL = re.compile(r"^[1-9][0-9]*$")


def derive_room_key(steamid_texts):
    """The key every agent derives from the ten players: the decimal texts
    sorted as byte strings, joined with ",", SHA-256, first 32 hex digits."""
    ordered = sorted(t.encode("ascii") for t in steamid_texts)
    return hashlib.sha256(b",".join(ordered)).hexdigest()[:32]


def check_body(data):
    """None when the room request is well formed, else why not."""
    if not isinstance(data, dict):
        return "the body is not a JSON object"
    steamids = data.get("steamids")
    if not isinstance(steamids, list) or len(steamids) != 10:
        return "steamids must be an array of ten"
    for s in steamids:
        if not isinstance(s, str) or not DECIMAL.match(s) or int(s) >= 2 ** 64:
            return "steamids must be SteamID64s as decimal strings"
    if len(set(steamids)) != 10:
        return "steamids must be distinct"
    key = data.get("room_key")
    if not isinstance(key, str) or not HEX32.match(key):
        return "room_key must be 32 lower-case hexadecimal characters"
    if key != derive_room_key(steamids):
        return "room_key does not match the steamids"
    reporter = data.get("reporter_steamid64")
    if not isinstance(reporter, str) or reporter not in steamids:
        return "reporter_steamid64 must be one of the steamids"
    if not isinstance(data.get("reservation"), str):
        return "reservation must be a string"
    members = data.get("members")
    if not isinstance(members, list) or len(members) != 10:
        return "members must be an array of ten"
    for m in members:
        if not isinstance(m, dict):
            return "members must be objects"
        if not isinstance(m.get("group"), int) or isinstance(m.get("group"), bool) or m["group"] not in (0, 1, 2):
            return "a member's group must be 0, 1 or 2"
        for k in ("name", "source", "steamid", "team"):
            if not isinstance(m.get(k), str):
                return "a member's %s must be a string" % k
    if sorted(m["steamid"] for m in members) != sorted(steamids):
        return "members and steamids name different players"
    return None


class RoomService:
    def __init__(self, public_base, steps):
        self.lock = threading.Lock()
        self.public_base = public_base
        self.script = list(steps)
        self.requests = []
        self.rooms = {}

    def next_step(self):
        with self.lock:
            return self.script.pop(0) if self.script else "ok"

    def record(self, entry):
        with self.lock:
            self.requests.append(entry)

    def answer_room(self, data):
        """(status, body object) of the normal answer."""
        problem = check_body(data)
        if problem:
            return 400, {"error": problem}
        key = data["room_key"]
        with self.lock:
            room = self.rooms.get(key)
            created = room is None
            if created:
                room = {"url": "%s/r/%s" % (self.public_base, key), "reporters": []}
                self.rooms[key] = room
            room["reporters"].append(data["reporter_steamid64"])
            return (201 if created else 200), {"created": created, "url": room["url"], "room_key": key}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "room_server/1"
    disable_nagle_algorithm = True  # headers and body leave without waiting for an ACK

    def log_message(self, fmt, *args):  # quiet: tests read /_requests instead
        pass

    def send(self, status, body, content_type="application/json"):
        raw = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(raw)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(raw)
        self.wfile.flush()
        self.close_connection = True

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def do_GET(self):
        service = self.server.service
        with service.lock:
            if self.path == "/_requests":
                payload = json.dumps(service.requests)
            elif self.path == "/_rooms":
                payload = json.dumps(service.rooms)
            else:
                payload = None
        if payload is None:
            self.send(404, json.dumps({"error": "not found"}))
        else:
            self.send(200, payload)

    def do_POST(self):
        service = self.server.service
        body = self.read_body()
        if not self.path.endswith("/v1/matches"):
            self.send(404, json.dumps({"error": "not found"}))
            return

        entry = {"path": self.path, "headers": {k.lower(): v for k, v in self.headers.items()},
                 "body": body.decode("utf-8", "replace"), "status": 0, "step": ""}
        step = service.next_step()
        entry["step"] = step
        # Kept in the order of arrival: a redirect's second request may be
        # answered before the first handler returns.
        service.record(entry)
        status = self.play(step, body)
        with service.lock:
            entry["status"] = status

    def play(self, step, body):
        """Answers one room request as the step says; returns the status sent (0: none)."""
        name, _, arg = step.partition(":")
        if name == "slow":
            time.sleep(float(arg or "10"))
            name = "ok"
        if name == "ok":
            if not (self.headers.get("Content-Type") or "").startswith("application/json"):
                self.send(415, json.dumps({"error": "the body must be application/json"}))
                return 415
            try:
                data = json.loads(body.decode("utf-8"))
            except ValueError:
                data = None
            status, answer = self.server.service.answer_room(data)
            self.send(status, json.dumps(answer))
            return status
        if name == "raw":
            self.send(200, arg)
            return 200
        if name == "link":
            self.send(201, json.dumps({"created": True, "url": arg}))
            return 201
        if name == "trickle":
            status, answer = self.server.service.answer_room(json.loads(body.decode("utf-8") or "null"))
            raw = json.dumps(answer).encode()
            head = ("HTTP/1.1 %d X\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                    "Connection: close\r\n\r\n" % (status, len(raw))).encode()
            self.close_connection = True
            try:
                for byte in head + raw:
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(float(arg or "1"))
            except OSError:   # the client gave up
                return 0
            return status
        if name == "silence":
            self.close_connection = True
            time.sleep(float(arg or "120"))
            return 0
        if name == "endless":
            self.close_connection = True
            left = int(arg or str(1536 << 20))
            chunk = b"x" * 65536
            try:
                self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n"
                                 b'{"created": true, "url": "http://127.0.0.1/r/1", "pad": "')
                while left > 0:
                    self.wfile.write(chunk[:left])
                    left -= len(chunk)
            except OSError:   # the client hung up: the point of the exercise
                pass
            return 200
        if name == "redirect":
            self.send_response(307)
            self.send_header("Location", "http://127.0.0.1:%d%s" % (self.server.server_address[1], arg))
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()
            self.close_connection = True
            return 307
        if name == "drop":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return 0
        if name == "headers-only":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n")
            self.wfile.flush()
            self.close_connection = True
            return 200
        if name == "short-body":
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n"
                             b"Connection: close\r\n\r\n{\"url\": \"h")
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return 200
        if name.isdigit():
            status = int(name)
            self.send(status, arg if arg else json.dumps({"error": "scripted %d" % status}))
            return status
        self.send(500, json.dumps({"error": "unknown script step " + step}))
        return 500


def main(argv=None):
    parser = argparse.ArgumentParser(description="Loopback stand-in for the room service.")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--step", action="append", default=[], help="one step (may hold commas)")
    parser.add_argument("--lifetime", type=float, default=900.0)
    args = parser.parse_args(argv)

    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    server.service = RoomService("http://127.0.0.1:%d" % port, args.step)

    def stop(*_):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    timer = threading.Timer(args.lifetime, stop)
    timer.daemon = True
    timer.start()

    print("room_server listening on 127.0.0.1:%d" % port, flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
