"""Start-up end to end: the exit status of a command line or a broken world and what
the agent says of it, or the run carrying on in a broken world."""

import os
import socket
import time
import unittest
from pathlib import Path

import harness
from harness import IS_WIN, Agent

FATAL = "preflight failed, nothing to observe"
NO_CLIENT = "  [fail] steam client: " + ("SteamClientDll64 missing -- is Steam running?" if IS_WIN else
                                         "Steam is not running (no steam.pid) -- start Steam first")
NO_CS2 = "  [fail] cs2 install: no library folder holds app 730"
DUMMY_CS2 = harness.BUILD_DIR / "tools" / "dummy_cs2" / ("cs2.exe" if IS_WIN else "cs2")

BOGUS = "--b\u00f6gus-\u65e5\u672c-\U0001f3ae"   # UTF-8 whatever the ANSI code page
HELP = "vantor-agent -- detects the CS2 match roster and derives its room key.\n"
# name: (the world, arguments, exit status, what the output holds)
EXITS = {
    "help": ({"steam": None}, ["--help"], 0, [HELP]),
    "a usage error names the argument": ({"steam": None}, [BOGUS, "--help"], 2, [HELP, f"unknown argument: {BOGUS}\n\n"]),
    "steam client not running": ({"client_dll": None}, [], 1, [NO_CLIENT, FATAL]),
    "cs2 not installed": ({"cs2": False}, ["--coplay-once"], 1, [NO_CS2, FATAL]),
    "log folder where a file is": ({"cs2": False}, ["--log-dir", "fake_steam_fixture.json/logs"], 1,
                                   ["warning: cannot write JSONL log to ", ", console only\n", FATAL]),
    "nobody logged into steam": ({"steam": {"logged_in": False}}, ["--coplay-once"], 1,
                                 ["steam: ConnectToGlobalUser failed -- is anyone logged into Steam?"]),
}
if not IS_WIN:
    EXITS["systemd unit"] = ({"steam": None}, ["--print-systemd-unit"], 0,
                             ['ExecStart="%s" --no-tray\n' % Path(harness.AGENT).resolve(), "Restart=on-failure\n"])


def run_cs2_without_condebug(agent):
    agent.start_agent(["120"], program=str(DUMMY_CS2)).wait_for_output("cs2 stand-in running")
    os.utime(agent.paths["console_log"], (time.time() - 300, time.time() - 300))


def hold_gsi_port(agent):
    agent.test.addCleanup(socket.create_server(("127.0.0.1", agent.port)).close)


def console_log_that_is_no_file(agent):   # a device, or a FIFO that would block a plain open
    agent.console_log = "NUL" if IS_WIN else os.mkfifo(agent.root / "fifo") or str(agent.root / "fifo")


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
        self.assertTrue(lines[0].startswith("log: ") and
                        lines[0].endswith(("\\logs\\" if IS_WIN else "/logs/") + logs[0].name), lines[0])
        self.assertEqual((result.code, result.err, lines[1:]), (1, "", [
            "preflight:", NO_CLIENT, NO_CS2,
            "  [ ok ] cs2 process: not running (start it later)",
            f"  [ ok ] gsi port: 127.0.0.1:{agent.port} is free", FATAL, ""]))
        self.assertEqual(len(agent.events("preflight")), 4)

    def test_exit_status(self):
        for name, (world, args, code, wanted) in EXITS.items():
            with self.subTest(name):
                agent = Agent(self, **world)
                result = agent.run(*[agent.agent_path(agent.root / a) if "/" in a else a for a in args])
                self.assertEqual(result.code, code, result)
                for text in wanted:
                    self.assertIn(text, result.out + result.err)
                # An event log only when the run names it; no cfg is left behind.
                self.assertEqual(any(agent.data_dir.rglob("agent-*.jsonl")), "log: " in result.out)
                self.assertFalse(agent.paths.get("cfg_dir") and any(agent.paths["cfg_dir"].iterdir()))

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
