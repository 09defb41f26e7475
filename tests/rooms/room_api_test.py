"""The API client and the room POST against a loopback room server (tools/room_server.py), through
WinHTTP under Wine or libcurl natively. The retry schedule runs on a simulated tick count."""

import json
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402

PROBE = harness.BUILD_DIR / "tools" / "room_probe" / ("room_probe.exe" if harness.IS_WIN else "room_probe")
KEY_TEXT = ",".join(str(76561198000000001 + i) for i in range(10))


class RoomApiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not PROBE.exists():
            raise unittest.SkipTest("room_probe is not built")
        cls.env = harness.AgentEnv("room_api")
        cls.counter = 0

    @classmethod
    def tearDownClass(cls):
        cls.env.close()

    def server(self, *steps):
        server = harness.RoomServer(self.workdir(), steps)
        self.addCleanup(server.stop)
        return server

    def workdir(self):
        RoomApiTest.counter += 1
        folder = self.env.root / ("w%d" % RoomApiTest.counter)
        folder.mkdir()
        return folder

    def probe(self, *args, timeout=120):
        result = self.env.run_agent(list(args), program=str(PROBE), timeout=timeout)
        lines = [line for line in result.out.splitlines() if line.startswith("{")]
        self.assertTrue(lines, result)
        return json.loads(lines[-1]), result

    def post(self, base, body='{"a":1}', path="/v1/matches"):
        return self.probe("post", base, path, body)[0]

    def rooms(self, base, start_tick=0, reporter=0, cfg=True):
        work = self.workdir()
        (work / "cfg").mkdir()
        out, result = self.probe("rooms", base, self.env.agent_path(work), str(start_tick), str(reporter),
                                 "cfg" if cfg else "nocfg")
        return out, result, work

    def records(self, work, name):
        return self.env.events(name, log_dir=work / "logs")

    def test_room_server_checks_the_request(self):
        import hashlib
        import urllib.error
        import urllib.request
        server = self.server()
        ids = [str(76561198000000001 + i) for i in range(10)]
        key = hashlib.sha256(KEY_TEXT.encode()).hexdigest()[:32]
        good = {"members": [{"group": 1, "name": "n", "source": "gsi", "steamid": s, "team": "CT"} for s in ids],
                "reporter_steamid64": ids[3], "reservation": "", "room_key": key, "steamids": ids}

        def post(body):
            request = urllib.request.Request(server.base + "/v1/matches", data=json.dumps(body).encode(),
                                             headers={"Content-Type": "application/json"})
            try:
                with urllib.request.urlopen(request, timeout=10) as answer:
                    return answer.status, json.loads(answer.read())
            except urllib.error.HTTPError as error:
                return error.code, json.loads(error.read())

        self.assertEqual(post(good), (201, {"created": True, "url": server.base + "/r/" + key, "room_key": key}))
        for bad in (dict(good, room_key="0" * 32), dict(good, reporter_steamid64="76561198000000099"),
                    dict(good, steamids=ids[:9] + [ids[0]]), dict(good, members=good["members"][:9])):
            self.assertEqual(post(bad)[0], 400, bad)

    def test_base_urls(self):
        server = self.server("ok", "ok")
        bad = self.post("ftp://127.0.0.1:%d/" % server.port)
        self.assertFalse(bad["init_ok"])
        self.assertEqual(bad["init_error"], "the API base URL must be http or https: ftp://127.0.0.1:%d/" % server.port)
        self.assertEqual(bad["error"], "the API client is not initialised")
        self.assertEqual(self.post("no url here")["init_error"], "not a valid URL: no url here")

        # Trailing slashes go, a base path stays in front of the request path.
        out = self.post(server.base + "/api/rooms///")
        self.assertTrue(out["ok"], out)
        self.assertEqual(out["base_path"], "/api/rooms")
        out = self.post(server.base + "///")
        self.assertTrue(out["ok"], out)
        self.assertEqual([r["path"] for r in server.requests()], ["/api/rooms/v1/matches", "/v1/matches"])
        request = server.requests()[0]
        self.assertEqual(request["headers"]["content-type"], "application/json")
        self.assertEqual(request["headers"]["user-agent"], "vantor-agent/0.1")
        self.assertEqual(request["body"], '{"a":1}')

    def test_error_status_is_an_exchange(self):
        server = self.server("500:the database is down")
        out = self.post(server.base)
        self.assertTrue(out["ok"], out)
        self.assertEqual((out["status"], out["body"], out["error"]), (500, "the database is down", ""))

    def test_redirect_is_followed_with_the_body(self):
        server = self.server("redirect:/moved/v1/matches", "500:moved")
        out = self.post(server.base, body='{"b":2}')
        self.assertTrue(out["ok"], out)
        self.assertEqual((out["status"], out["body"]), (500, "moved"))
        self.assertEqual([(r["path"], r["body"]) for r in server.requests()],
                         [("/v1/matches", '{"b":2}'), ("/moved/v1/matches", '{"b":2}')])

    def test_broken_answers(self):
        server = self.server("headers-only", "short-body", "drop")
        # Closed right after the headers, nothing announced: an empty body.
        out = self.post(server.base)
        self.assertTrue(out["ok"], out)
        self.assertEqual((out["status"], out["body"]), (200, ""))
        # 100 bytes announced, 10 sent: the read fails, status and part stay.
        out = self.post(server.base)
        self.assertEqual((out["ok"], out["status"]), (False, 200), out)
        self.assertRegex(out["error"], r"^(WinHttpReadData|WinHttpQueryDataAvailable) failed, "
                         if harness.IS_WIN else r"^curl_easy_perform failed, CURLcode=\d+$")
        # No answer at all.
        out = self.post(server.base)
        self.assertEqual((out["ok"], out["status"]), (False, 0), out)
        self.assertRegex(out["error"], r"^WinHttp\w+ failed, GetLastError=\d+$"
                         if harness.IS_WIN else r"^curl_easy_perform failed, CURLcode=\d+$")

    def test_unreachable_and_slow(self):
        port = harness.free_port()
        out = self.post("http://127.0.0.1:%d" % port)
        self.assertEqual((out["ok"], out["status"]), (False, 0))
        self.assertRegex(out["error"], r"^WinHttpSendRequest failed, GetLastError=12029$"
                         if harness.IS_WIN else r"^curl_easy_perform failed, CURLcode=7$")

        # An answer later than the receive time-out: given up after about 5 s
        # (Windows reports ERROR_WINHTTP_TIMEOUT, Wine the socket's WSAETIMEDOUT).
        server = self.server("slow:9")
        out = self.post(server.base)
        self.assertEqual((out["ok"], out["status"]), (False, 0))
        self.assertRegex(out["error"], r"^WinHttpReceiveResponse failed, GetLastError=(12002|10060)$"
                         if harness.IS_WIN else r"^curl_easy_perform failed, CURLcode=28$")
        self.assertGreater(out["elapsed_ms"], 4000)
        self.assertLess(out["elapsed_ms"], 8500)

    def test_five_temporary_failures_follow_the_schedule(self):
        server = self.server("503", "503", "503", "503", "503")
        # The simulated tick count wraps between the first attempts.
        out, result, work = self.rooms(server.base, start_tick=0xFFFFF000)
        offsets = out["attempt_offsets_ms"]
        self.assertEqual(len(offsets), 5, out)
        for got, want in zip(offsets, [0, 2000, 7000, 22000, 82000]):
            self.assertLessEqual(abs(got - want), 600, offsets)
        self.assertTrue(out["done"])
        self.assertEqual(out["room_url"], "")
        failed = self.records(work, "room_post_failed")
        self.assertEqual([f.get("retry_in_ms") for f in failed[:4]], [2000, 5000, 15000, 60000])
        last = failed[4]
        self.assertEqual((last["attempts"], last["permanent"], last["status"]), (5, False, 503))
        self.assertIn("scripted 503", last["detail"])
        self.assertIn("room POST failed (HTTP 503), retrying in 2s", result.out)
        self.assertIn("room POST failed (HTTP 503), giving up", result.out)
        self.assertFalse((work / "data" / "room.json").exists())

    def test_refusal_gives_up_at_once(self):
        server = self.server("409")
        out, result, work = self.rooms(server.base)
        self.assertEqual(out["attempt_offsets_ms"], [0])
        failed = self.records(work, "room_post_failed")
        self.assertEqual([(f["attempts"], f["permanent"], f["status"]) for f in failed], [(1, True, 409)])
        self.assertIn("room POST failed (HTTP 409), giving up", result.out)

    def test_unreachable_server_is_retried(self):
        port = harness.free_port()
        out, result, work = self.rooms("http://127.0.0.1:%d" % port)
        self.assertEqual(len(out["attempt_offsets_ms"]), 5)
        failed = self.records(work, "room_post_failed")
        self.assertEqual(failed[0]["status"], 0)
        self.assertRegex(failed[0]["detail"], r"^WinHttpSendRequest failed" if harness.IS_WIN else r"^curl_easy_perform")
        self.assertIn("room POST failed (" + failed[0]["detail"] + "), retrying in 2s", result.out)

    def test_created_then_joined_and_saved(self):
        server = self.server("503")
        out, result, work = self.rooms(server.base, reporter=0)
        self.assertEqual(len(out["attempt_offsets_ms"]), 2)
        url = "%s/r/%s" % (server.base, out["room_key"])
        self.assertEqual(out["room_url"], url)
        self.assertIn("ROOM CREATED  " + url, result.out)
        created = self.records(work, "room_created")[0]
        self.assertEqual((created["url"], created["created"], created["status"]), (url, True, 201))

        # The body the server accepted: its own key derivation agrees with ours.
        body = json.loads(server.requests()[-1]["body"])
        self.assertEqual(body["room_key"], out["room_key"])
        self.assertEqual(list(body), ["members", "reporter_steamid64", "reservation", "room_key", "steamids"])
        self.assertEqual(list(body["members"][0]), ["group", "name", "source", "steamid", "team"])
        self.assertEqual([body["members"][i]["name"] for i in (0, 2)], ["Ünïcödé 🙂", "bad \ufffd byte"])

        room = json.loads((work / "data" / "room.json").read_text(encoding="utf-8"))
        self.assertEqual((room["url"], room["room_key"], room["reservation"]), (url, out["room_key"], "9012345678901234567"))
        history = json.loads((work / "data" / "rooms.json").read_text(encoding="utf-8"))
        self.assertEqual([(h["url"], h["map"]) for h in history], [(url, "de_dust2")])
        cfg = (work / "cfg" / "vantor_room.cfg").read_bytes().decode("utf-8")
        self.assertEqual(cfg.split("\n")[4], 'echo "[vantor] %s"' % url)

        # Another player of the same match lands in the same room.
        out2, result2, work2 = self.rooms(server.base, reporter=7, cfg=False)
        self.assertEqual(out2["room_url"], url)
        self.assertIn("ROOM JOINED  " + url, result2.out)
        joined = self.records(work2, "room_created")[0]
        self.assertEqual((joined["created"], joined["status"]), (False, 200))
        self.assertFalse((work2 / "cfg" / "vantor_room.cfg").exists())

    def test_success_without_usable_link(self):
        server = self.server("nonjson")
        out, result, work = self.rooms(server.base)
        self.assertEqual((out["room_url"], out["done"]), ("", True))
        self.assertRegex(result.out, r"ROOM JOINED  \r?\n")
        errors = self.records(work, "error")
        self.assertEqual([e["where"] for e in errors], ["rooms_json"])
        self.assertEqual(json.loads((work / "data" / "room.json").read_text())["url"], "")
        self.assertFalse((work / "cfg" / "vantor_room.cfg").exists())

    def test_unsafe_link_is_handed_over_but_not_written_to_the_cfg(self):
        link = 'https://rooms.example/r/1";quit'
        server = self.server("raw:" + json.dumps({"url": link, "created": True}))
        out, result, work = self.rooms(server.base)
        self.assertEqual(out["room_url"], link)
        self.assertFalse((work / "cfg" / "vantor_room.cfg").exists())
        errors = self.records(work, "error")
        self.assertEqual([e["where"] for e in errors], ["room_cfg"])
        self.assertIn("double quote", errors[0]["detail"])
        self.assertEqual(self.records(work, "room_created")[0]["url"], link)
        self.assertEqual(json.loads((work / "data" / "room.json").read_text())["url"], link)


if __name__ == "__main__":
    harness.main()
