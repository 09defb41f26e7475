"""The road of a match end to end: the real agent, a fake CS2 (console.log
lines and GSI POSTs with the agent's token), the fake Steam client and the
loopback room server. From the menu through warmup to a complete status
block, the final roster, the POST and the room link handed to the player."""

import hashlib
import json
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "steam"))
import harness  # noqa: E402
import fake_steam  # noqa: E402

sys.path.insert(0, str(harness.SOURCE_DIR / "tools"))
import fake_cs2  # noqa: E402

PLAYERS = fake_cs2.demo_players(10, first=76561198000000001)
# The next match on the same server: the user and nine others.
NEXT_PLAYERS = [PLAYERS[0]] + [(76561198000000101 + i, "next %d" % i) for i in range(9)]


def room_key(players):
    text = ",".join(sorted(str(steamid) for steamid, _ in players))
    return hashlib.sha256(text.encode("ascii")).hexdigest()[:32]


def steam_fixture(me, others):
    now = int(time.time())
    return {
        "self": {"steamid": str(me[0]), "persona": me[1]},
        "coplay": [{"steamid": str(steamid), "appid": 730, "time": now - 60, "persona": name}
                   for steamid, name in others],
    }


class Player:
    """One agent with its own world (Steam, CS2 folder, data folder) and the
    fake CS2 that feeds it."""

    def __init__(self, test, env, me, others, api_base=None, extra_args=(), gsi_cfg_token=None):
        self.test = test
        self.env = env
        # Steam also knows the people of the next match on the same server.
        known = others + [p for p in NEXT_PLAYERS if p != me and p not in others]
        self.paths = fake_steam.install(env, steam_fixture(me, known))
        self.port = harness.free_port()
        env.data_dir.mkdir(parents=True, exist_ok=True)
        settings = {"api_base_url": api_base or ""}
        if gsi_cfg_token:
            # A GSI cfg left by an earlier run, which CS2 keeps using.
            settings["gsi_token"] = gsi_cfg_token
            (self.paths["cfg_dir"] / fake_cs2.GSI_CFG).write_text(
                '"vantor"\n{\n\t"uri" "http://127.0.0.1:%d/"\n\t"auth"\n\t{\n\t\t"token" "%s"\n\t}\n}\n'
                % (self.port, gsi_cfg_token))
        (env.data_dir / "agent.json").write_text(json.dumps(settings))
        if not harness.IS_WIN:
            # A clipboard for the native build: a stand-in xclip on PATH.
            tools = env.root / "bin"
            tools.mkdir(exist_ok=True)
            xclip = tools / "xclip"
            xclip.write_text('#!/bin/sh\ncat > "%s"\n' % (env.root / "clipboard.txt"))
            xclip.chmod(0o755)
            env.extra_env["PATH"] = str(tools) + os.pathsep + os.environ.get("PATH", "")
            env.extra_env["DISPLAY"] = ":77"
            env.extra_env.pop("WAYLAND_DISPLAY", None)
        self.cs2 = fake_cs2.FakeCs2(self.paths["cfg_dir"], self.paths["console_log"],
                                    [me] + list(others))
        self.args = ["--no-tray", "--console-log", self.env.agent_path(self.paths["console_log"]),
                     "--gsi-port", str(self.port)] + list(extra_args)
        self.agent = None

    def start(self):
        self.agent = self.env.start_agent(self.args)
        self.test.assertTrue(self.agent.wait_for_output("watching -- press Ctrl+C to stop."),
                             self.output())
        self.test.assertTrue(self.cs2.wait_for_cfg(10))
        return self

    def output(self):
        return self.agent.stdout() + self.agent.stderr() if self.agent else ""

    def wait_events(self, name, count=1, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.env.events(name)
            if len(found) >= count:
                return found
            time.sleep(0.05)
        raise AssertionError("no %d x %s in time; output:\n%s" % (count, name, self.output()))

    def gsi(self, step, *args):
        self.test.assertEqual(step(*args), 200)

    def stop(self):
        time.sleep(0.4)
        self.agent.interrupt()
        result = self.agent.wait(30)
        self.test.assertEqual(result.code, 0, result)
        self.test.assertEqual(result.out.splitlines()[-1], "stopping")
        return result

    def clipboard(self):
        path = self.env.root / "clipboard.txt"
        return path.read_text(encoding="utf-8") if path.exists() else None


class RoomDeliveryTest(harness.AgentTestCase):
    def setUp(self):
        super().setUp()
        self.server = harness.RoomServer(self.env.root)
        self.addCleanup(self.server.stop)

    def player(self, env=None, me=PLAYERS[0], others=PLAYERS[1:], api=True, **kwargs):
        return Player(self, env or self.env, me, others,
                      self.server.base if api else None, **kwargs)

    def names(self):
        return [r["event"] for r in self.env.records()]

    def assert_delivered(self, delivered, url, who):
        self.assertEqual(delivered["url"], url)
        if harness.IS_WIN:
            self.assertIsInstance(delivered["clipboard"], bool)
            wanted = ("ROOM  %s  -- copied to the clipboard, paste it anywhere" % url
                      if delivered["clipboard"] else
                      "ROOM  %s  -- clipboard unavailable (error %d), copy it from here"
                      % (url, delivered["clipboard_error"]))
        else:
            self.assertEqual((delivered["clipboard"], delivered["clipboard_error"]), (True, 0))
            self.assertEqual(who.clipboard(), url)
            wanted = "ROOM  %s  -- copied to the clipboard, paste it anywhere" % url
        self.assertIn(wanted, who.output())

    def test_a_whole_match_from_the_menu(self):
        me = self.player().start()
        cs2 = me.cs2
        me.gsi(cs2.gsi_menu)
        me.gsi(cs2.gsi_map, "de_mirage", "warmup")
        me.wait_events("match_started")
        # The player asks while only seven are on the server: no room yet.
        cs2.exec_vantor(players=PLAYERS[:7])
        def from_status():
            return [p for p in self.env.events("roster_progress") if p["expected"] == 7]
        deadline = time.monotonic() + 20
        while not from_status() and time.monotonic() < deadline:
            time.sleep(0.05)
        progress = from_status()
        self.assertEqual((progress[0]["size"], progress[0]["validated"], progress[0]["complete"]),
                         (7, True, False))
        self.assertEqual(self.env.events("room_requested")[0]["have_room"], False)
        time.sleep(1.0)
        self.assertEqual(self.env.events("room_delivered"), [])
        self.assertEqual(len(from_status()), 1)   # the same roster on every pass, logged once

        # The scoreboard's status with all ten: final, POSTed, and the waiting
        # request answered without being typed again.
        cs2.status()
        delivered = me.wait_events("room_delivered")
        key = room_key(PLAYERS)
        url = self.server.base + "/r/" + key
        self.assert_delivered(delivered[0], url, me)
        complete = self.env.events("roster_complete")
        self.assertEqual(len(complete), 1)
        self.assertEqual((complete[0]["room_key"], complete[0]["validated"], complete[0]["size"]),
                         (key, True, 10))
        self.assertEqual(len(self.env.events("room_requested")), 1)
        names = self.names()
        for earlier, later in [("match_started", "roster_progress"), ("roster_progress", "roster_complete"),
                               ("roster_complete", "room_post"), ("room_post", "room_created"),
                               ("room_created", "room_delivered")]:
            self.assertLess(names.index(earlier), names.index(later), (earlier, later))
        out = me.output()
        self.assertIn("ROSTER COMPLETE  room_key=%s  (10 players, validated by status) -- "
                      "roster is now final for this match" % key, out)
        self.assertIn("    %d  self" % PLAYERS[0][0], out)   # the listing, a plain line
        self.assertIn("roster: 7/10 (validated by status) -- roster has 7 of 10 players", out)

        posts = self.server.posts()
        self.assertEqual(len(posts), 1)
        body = json.loads(posts[0]["body"])
        self.assertEqual((body["room_key"], body["reporter_steamid64"], body["reservation"]),
                         (key, str(PLAYERS[0][0]), "8512345"))
        saved = json.loads((self.env.data_dir / "room.json").read_text())
        self.assertEqual((saved["url"], saved["reservation"], saved["room_key"]), (url, "8512345", key))
        history = json.loads((self.env.data_dir / "rooms.json").read_text())
        self.assertEqual([(h["url"], h["map"]) for h in history], [(url, "de_mirage")])
        self.assertIn(url, (me.paths["cfg_dir"] / "vantor_room.cfg").read_text())

        # Asked again later, by cfg and by the bare word; two requests read in
        # one pass are served once.
        cs2.exec_vantor_room()
        me.wait_events("room_delivered", 2)
        cs2.type_vantor()
        me.wait_events("room_delivered", 3)
        cs2.write_lines(["execing vantor_room", "[Console] Unknown command: vantor"])
        me.wait_events("room_requested", 5)
        time.sleep(1.0)
        self.assertEqual(len(self.env.events("room_delivered")), 4)
        self.assertEqual(len(self.server.posts()), 1)

        # The server moves on to another match without GSI noticing.
        cs2.exec_vantor(players=NEXT_PLAYERS, reservation="9900001")
        changed = me.wait_events("match_changed")
        self.assertEqual((changed[0]["from"], changed[0]["to"]), ("8512345", "9900001"))
        complete = me.wait_events("roster_complete", 2)
        self.assertEqual(complete[1]["room_key"], room_key(NEXT_PLAYERS))
        # The new match has its own room; the old link is gone with the old record.
        next_url = self.server.base + "/r/" + room_key(NEXT_PLAYERS)
        me.wait_events("room_created", 2)
        cs2.type_vantor()
        delivered = me.wait_events("room_delivered", 5)
        self.assert_delivered(delivered[4], next_url, me)
        history = json.loads((self.env.data_dir / "rooms.json").read_text())
        self.assertEqual([h["url"] for h in history], [next_url, url])

        result = me.stop()
        self.assertEqual(self.names()[-1], "stopped")
        self.assertNotIn("would POST", result.out)

    def test_the_saved_room_comes_back_after_a_restart(self):
        me = self.player().start()
        me.gsi(me.cs2.gsi_map, "de_inferno", "live", 3)
        me.wait_events("match_started")   # the status belongs to this match
        me.cs2.exec_vantor()
        url = me.wait_events("room_delivered")[0]["url"]
        me.stop()

        # Restarted in the same match; one player has dropped, so the roster
        # cannot complete, but the room saved for this reservation is handed over.
        again = self.player().start()
        again.gsi(again.cs2.gsi_map, "de_inferno", "live", 4)
        again.wait_events("match_started", 2)
        again.cs2.exec_vantor(players=PLAYERS[:9])
        delivered = again.wait_events("room_delivered", 2)
        self.assertEqual(delivered[1]["url"], url)
        restored = self.env.events("room_link_restored")
        self.assertEqual(len(restored), 1)
        self.assertEqual((restored[0]["url"], restored[0]["reservation"]), (url, "8512345"))
        self.assertIn("reusing the room saved for this match: " + url, again.output())
        self.assertEqual(len(self.server.posts()), 1)
        # The link now belongs to the match record: asked again, it comes at once.
        again.cs2.type_vantor()
        self.assertEqual(again.wait_events("room_delivered", 3)[2]["url"], url)
        self.assertEqual(len(self.env.events("room_link_restored")), 1)
        again.stop()

    def test_no_write_cfg_still_delivers(self):
        me = self.player(extra_args=["--no-write-cfg"], gsi_cfg_token="c0ffee00c0ffee00").start()
        me.gsi(me.cs2.gsi_map, "de_nuke", "warmup")
        me.wait_events("match_started")   # the status belongs to this match
        me.cs2.exec_vantor()
        delivered = me.wait_events("room_delivered")
        self.assert_delivered(delivered[0], self.server.base + "/r/" + room_key(PLAYERS), me)
        self.assertFalse((me.paths["cfg_dir"] / "vantor_room.cfg").exists())
        self.assertTrue((self.env.data_dir / "rooms.json").exists())
        me.stop()

    def test_without_api_the_roster_is_only_logged(self):
        me = self.player(api=False).start()
        me.gsi(me.cs2.gsi_map, "de_nuke", "warmup")
        me.wait_events("match_started")   # the status belongs to this match
        me.cs2.exec_vantor()
        me.wait_events("roster_complete")
        time.sleep(1.0)
        out = me.output()
        self.assertIn("    -> would POST /v1/matches {room_key, 10 steamids, reporter=%d} -- "
                      "no API base URL configured" % PLAYERS[0][0], out)
        self.assertEqual(self.env.events("room_post"), [])
        self.assertEqual(self.env.events("room_delivered"), [])
        self.assertEqual(self.server.posts(), [])
        me.stop()

    def test_two_players_of_one_match_meet_in_one_room(self):
        other_env = harness.AgentEnv("second-player")
        self.addCleanup(other_env.close)
        first = self.player().start()
        second = self.player(env=other_env, me=PLAYERS[3],
                             others=PLAYERS[:3] + PLAYERS[4:]).start()
        for who in (first, second):
            who.gsi(who.cs2.gsi_map, "de_anubis", "warmup")
        # Each client prints the same server's status, rows in the same order.
        first.cs2.exec_vantor()
        second.cs2.exec_vantor(players=PLAYERS)
        one = first.wait_events("room_delivered")[0]
        two = second.wait_events("room_delivered")[0]
        key = room_key(PLAYERS)
        self.assertEqual(one["url"], two["url"])
        self.assertEqual(one["url"], self.server.base + "/r/" + key)
        created = [first.env.events("room_created")[0]["created"],
                   second.env.events("room_created")[0]["created"]]
        self.assertEqual(sorted(created), [False, True])
        rooms = self.server.get("/_rooms")
        self.assertEqual(sorted(rooms[key]["reporters"]), sorted([str(PLAYERS[0][0]), str(PLAYERS[3][0])]))
        first.stop()
        second.stop()


if __name__ == "__main__":
    harness.main()
