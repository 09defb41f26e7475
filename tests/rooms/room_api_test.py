"""The room POST through WinHTTP (Wine) or libcurl against the loopback room server,
driven by tools/room_probe: each kind of answer, and what the room post makes of it."""

import json
import unittest

import harness
from harness import Agent

PROBE = harness.BUILD_DIR / "tools" / "room_probe" / ("room_probe.exe" if harness.IS_WIN else "room_probe")
UNSAFE = 'https://rooms.example/r/1";quit'

# name: (the server's answers (None: nobody listens), exchanged, status, body)
ANSWERS = {
    "an error status": (["500:the database is down"], True, 500, "the database is down"),
    "a redirect repeats the body": (["redirect:/moved/v1/matches", "500:moved"], True, 500, "moved"),
    "no length: the body ends at the close": (["headers-only"], True, 200, ""),
    "a body cut short": (["short-body"], False, 200, ""),
    "no answer": (["drop"], False, 0, ""),
    "an answer later than the time-out": (["slow:9"], False, 0, ""),
    "nobody listening": (None, False, 0, ""),
}
# name: (the server's answers, attempts, the link saved, the link in the room cfg)
POSTS = {
    "temporary failures are retried four times": (["503"] * 5, 5, False, False),
    "a refusal is given up at once": (["409"], 1, False, False),
    "nobody listening is retried": (None, 5, False, False),
    "a room after a failure": (["503"], 2, True, True),
    "an unsafe link is kept out of the cfg": (["raw:" + json.dumps({"url": UNSAFE, "created": True})], 1, True, False),
}


@unittest.skipUnless(PROBE.exists(), "room_probe is not built")
class RoomApiTest(unittest.TestCase):
    def setUp(self):
        self.agent = Agent(self, steam=None)

    def probe(self, steps, *args):
        server = harness.RoomServer(steps=steps or ())
        self.addCleanup(server.stop)
        base = server.base if steps else "http://127.0.0.1:%d" % harness.free_port()
        result = self.agent.run_agent([args[0], base + "/api/rooms///", *args[1:]], program=str(PROBE))
        return json.loads(result.out.splitlines()[-1]), server

    def test_answers(self):
        for name, (steps, ok, status, body) in ANSWERS.items():
            with self.subTest(name):
                out, server = self.probe(steps, "post", "/v1/matches", '{"a":1}')
                self.assertEqual((out["ok"], out["status"], out["body"] if ok else ""), (ok, status, body), out)
                self.assertEqual(out["error"] == "", ok, out)
                requests = server.get("/_requests") if steps else []
                self.assertEqual([r["body"] for r in requests], ['{"a":1}'] * len(steps or ()))
                for first in requests[:1]:
                    self.assertEqual((first["path"], first["headers"]["content-type"], first["headers"]["user-agent"]),
                                     ("/api/rooms/v1/matches", "application/json", "vantor-agent/0.1"))
                if "time-out" in name:
                    self.assertTrue(4000 < out["elapsed_ms"] < 8500, out)

    def test_room_posts(self):
        for i, (name, (steps, attempts, saved, in_cfg)) in enumerate(POSTS.items()):
            with self.subTest(name):
                work = self.agent.root / str(i)
                (work / "cfg").mkdir(parents=True)
                out, _ = self.probe(steps, "rooms", self.agent.agent_path(work), "0", "0", "cfg")
                self.assertEqual(len(out["attempt_offsets_ms"]), attempts, out)
                room = work / "data" / "room.json"
                self.assertEqual(room.exists() and json.loads(room.read_text())["url"], saved and out["room_url"])
                cfg = work / "cfg" / "vantor_room.cfg"
                self.assertEqual(cfg.exists() and 'echo "[vantor] %s"' % out["room_url"] in cfg.read_text(), in_cfg)


if __name__ == "__main__":
    harness.main()
