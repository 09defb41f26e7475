"""The observing loop end to end: the real agent follows a real console.log
that this test appends to, and is stopped with Ctrl+C."""

import http.client
import json
import os
import socket
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402

PASS = 0.45   # a little more than one pass of the loop

T = "12/06 21:14:03 "
STATUS_BLOCK = [
    T + "[Client] ----- Status -----",
    T + "[Client] version  : 2000258/13925 2000258 secure  public",
    T + "[Client] steamid  : [A:1:3221422080:31046] (90267331543658496)",
    T + "[Client] source   : slot 1",
    T + "[Client] players  : 2 humans, 1 bot (10 max) (not hibernating) (reserved 8512345)",
    T + "[Client] ---------players--------",
    T + "[Client]   id     time ping loss      state   rate name",
    T + "[Client] 65535 [NoChan]    0    0 challenging      0 ''",
    T + "[Client]    1    03:12    4    0     active 786432 ':umbrella2:\U0001d7d5\U0001d41e\U0001d426'",
    T + "[Client]    2    01:59    3    0     active 786432 'Shaikh Kebab'",
    T + "[Client]    3      BOT    0    0     active      0 'Bot Kevin'",
    T + "[Client] #end",
]


class MainLoopTest(harness.AgentTestCase):
    def start(self, extra_args=(), console_log_text="12/06 21:00:00 execing vantor\n"):
        self.paths = self.env.make_steam(console_log=console_log_text)
        self.log = self.paths["console_log"]
        self.port = harness.free_port()
        # No API: nothing in this test may reach the network.
        self.env.data_dir.mkdir(parents=True, exist_ok=True)
        (self.env.data_dir / "agent.json").write_text(
            json.dumps({"api_base_url": "", "gsi_token": "feedc0ffee123456", "stale_key": 1}))
        self.agent = self.env.start_agent(
            ["--no-tray", "--console-log", self.env.agent_path(self.log),
             "--gsi-port", str(self.port)] + list(extra_args))
        self.assertTrue(self.agent.wait_for_output("watching -- press Ctrl+C to stop."),
                        self.agent.stdout() + self.agent.stderr())

    def append(self, text, pause=PASS):
        with open(self.log, "ab") as f:
            f.write(text.encode("utf-8"))
        time.sleep(pause)

    def post_gsi(self, payload):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.request("POST", "/", json.dumps(payload), {"Content-Type": "application/json"})
        self.assertEqual(connection.getresponse().status, 200)
        connection.close()

    def wait_count(self, text, count, timeout=20.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.agent.stdout().count(text) >= count:
                return self.agent.stdout().count(text) == count
            time.sleep(0.05)
        return False

    def stop(self):
        time.sleep(PASS)
        began = time.monotonic()
        self.agent.interrupt()
        result = self.agent.wait(30)
        return result, time.monotonic() - began

    def test_lines_commands_status_and_restart(self):
        self.start()
        initial_size = self.log.stat().st_size

        # A status block in several writes, one of its lines cut across polls,
        # part of it with CR LF line ends.
        self.append("\n".join(STATUS_BLOCK[:4]) + "\n")
        self.append("\r\n".join(STATUS_BLOCK[4:7]) + "\r\n")
        self.append(STATUS_BLOCK[7][:20])
        self.append(STATUS_BLOCK[7][20:] + "\n" + "\n".join(STATUS_BLOCK[8:11]) + "\n")
        self.append(STATUS_BLOCK[11] + "\r\n")
        self.assertTrue(self.agent.wait_for_output("status 12/06 21:14:03: 2 connected"),
                        self.agent.stdout())

        # The three ways to ask for the room; the first one split across polls.
        self.append(T + "execing van")
        self.append("tor\r\n" + T + "execing vantor_room\n")
        self.append(T + "[Console] Unknown command: vantor\n")
        self.assertTrue(self.agent.wait_for_output("(typed in the console)"), self.agent.stdout())

        # A half block, then CS2 restarts: the new, shorter console.log is read
        # from byte 0 by a fresh parser, so the old half block never completes.
        self.append("\n".join(STATUS_BLOCK[:6]) + "\n")
        with open(self.log, "wb") as f:
            f.write(("\n".join(STATUS_BLOCK[8:]) + "\n").encode("utf-8"))
        self.assertTrue(self.agent.wait_for_output("tail: console.log restarted"),
                        self.agent.stdout())
        self.append(T + "execing vantor\n")
        self.assertTrue(self.wait_count("player asked for the room", 4), self.agent.stdout())

        result, took = self.stop()
        self.assertEqual(result.code, 0, result)
        self.assertLess(took, 3.0)
        out = result.out

        opened = self.env.events("tail_open")
        self.assertEqual(len(opened), 1)
        self.assertEqual(opened[0]["offset"], initial_size)
        self.assertEqual(opened[0]["path"], self.env.agent_path(self.log))

        requests = self.env.events("room_requested")
        self.assertEqual([(r["how"], r["link_only"], r["have_room"]) for r in requests], [
            ("exec vantor", False, False),
            ("exec vantor_room", True, False),
            ("typed in the console", True, False),
            ("exec vantor", False, False),
        ])
        self.assertEqual(requests[0]["line"], T + "execing vantor")   # CR gone, whole line
        self.assertIn("player asked for the room (exec vantor) -- no room yet; "
                      "the link arrives as soon as there is one", out)

        snapshots = self.env.events("status_snapshot")
        self.assertEqual(len(snapshots), 1, snapshots)
        block = snapshots[0]
        self.assertEqual(block["reservation"], "8512345")
        self.assertEqual([p["name"] for p in block["players"]],
                         [":umbrella2:\U0001d7d5\U0001d41e\U0001d426", "Shaikh Kebab"])
        self.assertEqual((block["pending_slots"], block["bot_slots"], block["rows_seen"]), (1, 1, 4))
        self.assertEqual(len(self.env.events("status_match")), 1)
        self.assertEqual(len(self.env.events("log_rotated")), 1)

        names = [r["event"] for r in self.env.records()]
        self.assertLess(names.index("status_snapshot"), names.index("status_match"))
        self.assertLess(names.index("log_rotated"), len(names) - 2)
        self.assertEqual(names[-1], "stopped")
        stopped = self.env.events("stopped")[0]
        self.assertEqual((stopped["gsi_requests"], stopped["gsi_malformed"]), (0, 0))
        self.assertEqual(len(self.env.events("gsi_listen")), 1)

        # Start-up order on the console, and the stop at the end.
        lines = out.splitlines()
        def first(text):
            return next(i for i, line in enumerate(lines) if text in line)
        self.assertLess(first("api: no base URL configured"), first("gsi: written (created)"))
        self.assertLess(first("gsi: written (created)"), first("exec: written (created)"))
        self.assertLess(first("exec: written (created)"),
                        first("  -> CS2 loads GSI configs at startup"))
        self.assertLess(first("gsi: listening on 127.0.0.1:%d" % self.port), first("tail: watching"))
        self.assertLess(first("tail: watching"), first("watching -- press Ctrl+C"))
        self.assertEqual(lines[-1], "stopping")

        # Settings written back: the override kept, the stray key gone; the GSI
        # cfg carries the token and port.
        saved = json.loads((self.env.data_dir / "agent.json").read_text())
        self.assertEqual(saved, {"api_base_url": "", "gsi_port": self.port,
                                 "gsi_token": "feedc0ffee123456"})
        cfg = (self.paths["cfg_dir"] / "gamestate_integration_vantor.cfg").read_text()
        self.assertIn('"http://127.0.0.1:%d/"' % self.port, cfg)
        self.assertIn('"token" "feedc0ffee123456"', cfg)
        self.assertTrue((self.paths["cfg_dir"] / "vantor.cfg").read_text().endswith("\nstatus\n"))

    def test_no_write_cfg_and_missing_console_log(self):
        # console.log does not exist yet: reported, then read from its first
        # byte once CS2 creates it.
        self.start(["--no-write-cfg"], console_log_text=None)
        self.assertIn("tail: cannot open", self.agent.stdout())
        self.append(T + "execing vantor_room\n")
        self.assertTrue(self.agent.wait_for_output("(exec vantor_room)"), self.agent.stdout())
        result, took = self.stop()
        self.assertEqual(result.code, 0, result)
        self.assertLess(took, 3.0)
        self.assertEqual(list(self.paths["cfg_dir"].iterdir()), [])
        cfg = self.env.events("cfg")
        self.assertEqual([(c["file"], c["status"], c["detail"]) for c in cfg], [
            ("gsi", "stale", "missing (--no-write-cfg)"),
            ("exec", "stale", "missing (--no-write-cfg)"),
        ])
        errors = [e for e in self.env.events("error") if e["where"] == "tail_open"]
        self.assertEqual(errors[0]["detail"], self.env.agent_path(self.log))
        self.assertNotIn("  -> ", result.out)

    def test_console_log_that_is_no_file_and_clients_that_hang_do_not_hold_the_agent(self):
        # A FIFO (a device on Windows) named as console.log is refused at once,
        # not waited on; a client connected to the GSI port, idle or half way
        # through a POST, does not hold up Ctrl+C.
        self.paths = self.env.make_steam(console_log=None)
        if harness.IS_WIN:
            log_arg = "NUL"
        else:
            self.log = self.env.root / "console.fifo"
            os.mkfifo(self.log)
            log_arg = self.env.agent_path(self.log)
        port = harness.free_port()
        self.env.data_dir.mkdir(parents=True, exist_ok=True)
        (self.env.data_dir / "agent.json").write_text(
            json.dumps({"api_base_url": "", "gsi_token": "feedc0ffee123456"}))
        self.agent = self.env.start_agent(["--no-tray", "--console-log", log_arg, "--gsi-port", str(port)])
        self.assertTrue(self.agent.wait_for_output("watching -- press Ctrl+C to stop.", 30),
                        self.agent.stdout() + self.agent.stderr())
        self.assertIn("tail: cannot open %s -- not a regular file" % log_arg, self.agent.stdout())
        errors = [e for e in self.env.events("error") if e["where"] == "tail_open"]
        self.assertEqual([e["detail"] for e in errors], [log_arg])

        idle = socket.create_connection(("127.0.0.1", port), timeout=10)
        half = socket.create_connection(("127.0.0.1", port), timeout=10)
        half.sendall(b"POST / HTTP/1.1\r\nContent-Length: 4000\r\n\r\n{\"map\":")
        try:
            result, took = self.stop()
        finally:
            idle.close()
            half.close()
        self.assertEqual(result.code, 0, result)
        self.assertLess(took, 1.5)   # one pass, then a stop that waits for no client
        stopped = self.env.events("stopped")
        self.assertEqual(len(stopped), 1)
        self.assertEqual((stopped[0]["gsi_requests"], stopped[0]["gsi_malformed"]), (0, 2))

    def test_silence_warning_once_while_gsi_reports_a_map(self):
        self.start()
        self.post_gsi({"map": {"name": "de_mirage", "mode": "competitive", "phase": "warmup",
                               "round": 0},
                       "auth": {"token": "feedc0ffee123456"}})
        self.assertTrue(self.agent.wait_for_output("match started on de_mirage"),
                        self.agent.stdout())
        began = time.monotonic()
        self.assertTrue(self.agent.wait_for_output("WARNING: GSI says you are on de_mirage", 90),
                        self.agent.stdout())
        self.assertGreater(time.monotonic() - began, 55)
        time.sleep(2 * PASS)
        result, _ = self.stop()
        self.assertEqual(result.code, 0, result)
        self.assertEqual(result.out.count("WARNING: GSI says"), 1)
        self.assertIn("    Add to CS2 launch options:  -condebug +exec vantor", result.out)
        silent = [e for e in self.env.events("error") if e["where"] == "console_log_silent"]
        self.assertEqual(len(silent), 1)
        self.assertGreaterEqual(silent[0]["seconds"], 60)
        self.assertEqual(silent[0]["path"], self.env.agent_path(self.log))


if __name__ == "__main__":
    harness.main()
