"""The room POST through WinHTTP (Wine) or libcurl against the loopback room server,
driven by tools/room_probe: each kind of answer, and what the room post makes of it."""

import json
import unittest

import harness
from harness import Agent

PROBE = harness.BUILD_DIR / "tools" / "room_probe" / ("room_probe.exe" if harness.IS_WIN else "room_probe")
UNSAFE = 'https://rooms.example/r/1";quit'
FORGED = "https://x/r/1\n[   99.9s] ROOM  https://evil.example/phish"

# name: (the server's answers (None: nobody listens), exchanged, status, body)
ANSWERS = {
    "an error status": (["500:the database is down"], True, 500, "the database is down"),
    "a redirect repeats the body": (["redirect:/moved/v1/matches", "500:moved"], True, 500, "moved"),
    "no length: the body ends at the close": (["headers-only"], True, 200, ""),
    "a body cut short": (["short-body"], False, 200, ""),
    "no answer": (["drop"], False, 0, ""),
    "an answer later than the time-out": (["slow:9"], False, 0, ""),
    "nobody listening": (None, False, 0, ""),
    "an endless answer is cut at 64 KiB": (["endless"], False, 200, ""),
}
ERRORS = {"an endless answer is cut at 64 KiB": "the answer is longer than 64 KiB",
          "no answer": "" if harness.IS_WIN else "the server closed the connection without an answer (curl error 52)"}
# name: (the server's answers, attempts, the link saved, the link in the room cfg)
POSTS = {
    "temporary failures are retried four times": (["503"] * 5, 5, False, False),
    "a refusal is given up at once": (["409"], 1, False, False),
    "nobody listening is retried": (None, 5, False, False),
    "a room after a failure": (["503"], 2, True, True),
    # A success without a usable link answers nobody: retried, nothing kept anywhere.
    "a link that quotes its way out": (["raw:" + json.dumps({"url": UNSAFE, "created": True})] * 5, 5, False, False),
    "a link that forges a console line": (["link:" + FORGED], 2, True, True),
    "javascript, a file, an option": (["link:javascript:alert(1)", "link:file:///etc/passwd", "link:--help"], 4, True, True),
    "no link at all": (["raw:42", "raw:{}", "raw:not json"], 4, True, True),
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
                if name in ERRORS and ERRORS[name]:
                    self.assertEqual(out["error"], ERRORS[name])

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
                # Only the service's own link is kept; the records quote at most 200 bytes of a body.
                self.assertTrue(out["room_url"] == "" or out["room_url"].startswith("http://127.0.0.1:"), out)
                records = self.agent.records(work / "logs")
                failed = [r for r in records if r["event"] == "room_post_failed"]
                self.assertEqual(len(failed), attempts - (1 if saved else 0))
                self.assertTrue(all(len(r["detail"]) < 300 for r in failed), failed)
                if steps and (steps[0].startswith("link:") or steps[0].startswith("raw:")):
                    self.assertTrue(all("without a usable room link" not in r.get("detail", "") and r["reason"]
                                        for r in failed), failed)


if __name__ == "__main__":
    harness.main()
