"""Start-up end to end: what the agent makes of a broken world -- the
preflight report, then exit status 1, or the run carrying on."""

import os
import socket
import time
import unittest

import harness
from harness import IS_WIN, Agent

FATAL = "preflight failed, nothing to observe"
NO_CLIENT = "  [fail] steam client: " + ("SteamClientDll64 missing -- is Steam running?" if IS_WIN else
                                         "Steam is not running (no steam.pid) -- start Steam first")
NO_CS2 = "  [fail] cs2 install: no library folder holds app 730"
DUMMY_CS2 = harness.BUILD_DIR / "tools" / "dummy_cs2" / ("cs2.exe" if IS_WIN else "cs2")

# name: (the world, arguments, what the output holds); each ends with status 1
STOPS = {
    "steam client not running": ({"client_dll": None}, [], [NO_CLIENT, FATAL]),
    "cs2 not installed": ({"cs2": False}, ["--coplay-once"], [NO_CS2, FATAL]),
    "log folder where a file is": ({"cs2": False}, ["--log-dir", "fake_steam_fixture.json/logs"],
                                   ["warning: cannot write JSONL log to ", ", console only\n", FATAL]),
    "nobody logged into steam": ({"steam": {"logged_in": False}}, ["--coplay-once"],
                                 ["steam: ConnectToGlobalUser failed -- is anyone logged into Steam?"]),
}


def hold_gsi_port(agent):
    holder = socket.socket()
    holder.bind(("127.0.0.1", agent.port))
    holder.listen(1)
    agent.test.addCleanup(holder.close)


def run_cs2_without_condebug(agent):
    agent.start_agent(["120"], program=str(DUMMY_CS2)).wait_for_output("cs2 stand-in running")
    os.utime(agent.paths["console_log"], (time.time() - 300, time.time() - 300))


def console_log_that_is_no_file(agent):
    agent.console_log = "NUL" if IS_WIN else str(agent.root / "fifo")
    if not IS_WIN:
        os.mkfifo(agent.console_log)


# name: (the world, how it is broken, what the output holds); the agent runs on
RUNS_ON = {
    "cs2 in a second library named in cyrillic": (
        {"libraries": ["lib-a", "Библиотека Steam 游戏"], "console_log": None}, None,
        ["  [ ok ] cs2 install: {game_dir}\n", "  [fail] console.log: missing -- CS2 has not run with -condebug"]),
    "gsi port held by another program": ({}, hold_gsi_port, [
        "  [fail] gsi port: 127.0.0.1:{port} is already in use", "gsi: cannot bind 127.0.0.1:{port} (already in use?)"]),
    "cs2 running without -condebug": ({}, run_cs2_without_condebug, [
        "  [fail] -condebug: CS2 is running but console.log has not changed for 5 min", "  [ ok ] cs2 process: running"]),
    "console.log that is no file": ({}, console_log_that_is_no_file, ["tail: cannot open {log} -- not a regular file"]),
}


class StartupTest(unittest.TestCase):
    def test_nothing_installed(self):
        agent = Agent(self, steam=None)
        result = agent.run()
        logs = list(agent.default_log_dir.glob("agent-*.jsonl"))
        self.assertEqual(len(logs), 1)
        lines = result.out.split("\n")
        self.assertTrue(lines[0].startswith("log: ") and lines[0].endswith(("\\logs\\" if IS_WIN else "/logs/") + logs[0].name))
        self.assertEqual((result.code, result.err, lines[1:]), (1, "", [
            "preflight:", NO_CLIENT, NO_CS2,
            "  [ ok ] cs2 process: not running (start it later)",
            f"  [ ok ] gsi port: 127.0.0.1:{agent.port} is free", FATAL, ""]))
        self.assertEqual(len(agent.events("preflight")), 4)

    def test_broken_worlds_that_stop_the_agent(self):
        for name, (world, args, wanted) in STOPS.items():
            with self.subTest(name):
                agent = Agent(self, **world)
                result = agent.run(*[agent.agent_path(agent.root / a) if "/" in a else a for a in args])
                self.assertEqual(result.code, 1, result)
                for text in wanted:
                    self.assertIn(text, result.out + result.err)
                self.assertFalse(agent.paths["cfg_dir"] and any(agent.paths["cfg_dir"].iterdir()))

    def test_broken_worlds_the_agent_runs_on_in(self):
        for name, (world, breaks, wanted) in RUNS_ON.items():
            with self.subTest(name):
                agent = Agent(self, **world)
                if breaks:
                    breaks(agent)
                out = agent.start().stop().out.replace("\r\n", "\n")
                shown = dict(port=agent.port, log=agent.console_log,
                             game_dir=agent.agent_path(agent.paths["game_dir"]))
                for text in wanted:
                    self.assertIn(text.format(**shown), out)


if __name__ == "__main__":
    harness.main()
