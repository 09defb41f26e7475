"""Start-up end to end: Steam and CS2 discovery, the preflight report and the exit code."""

import os
import socket
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402

FATAL_LINE = "preflight failed, nothing to observe"
COMMAND_LINE = '[CommandLine] "cs2.exe" -steam -condebug +exec vantor'
DUMMY_CS2 = harness.BUILD_DIR / "tools" / "dummy_cs2" / ("cs2.exe" if harness.IS_WIN else "cs2")


def report_lines(out):
    lines = out.replace("\r\n", "\n").split("\n")
    report = []
    for line in lines[lines.index("preflight:") + 1:]:
        if not line.startswith(("  [ ok ] ", "  [fail] ")):
            break
        report.append(line)
    return report


def check_names(lines):
    return [line[9:].split(": ", 1)[0] for line in lines]


class StartupTest(harness.AgentTestCase):

    def run_to_end(self, args=(), port=None):
        port = port or harness.free_port()
        return self.env.run_agent(["--no-tray", "--gsi-port", str(port)] + list(args))

    def run_past_preflight(self, args=(), port=None):
        """A passing preflight goes on into the main loop: Ctrl+C once the report is out."""
        port = port or harness.free_port()
        agent = self.env.start_agent(["--no-tray", "--gsi-port", str(port)] + list(args))
        shown = agent.wait_for_output(": 127.0.0.1:%d is " % port, timeout=60)
        time.sleep(0.5)
        agent.interrupt()
        result = agent.wait(60)
        self.assertTrue(shown, result)
        self.assertNotIn(FATAL_LINE, result.out)
        return result

    def assert_preflight_records(self, lines):
        records = self.env.events("preflight")
        self.assertEqual(len(records), len(lines))
        for record, line in zip(records, lines):
            self.assertEqual(set(record), {"event", "ts", "local", "check", "ok", "detail"})
            self.assertEqual(line, ("  [ ok ] " if record["ok"] else "  [fail] ")
                             + record["check"] + ": " + record["detail"])

    def test_nothing_installed_reports_every_check_then_stops(self):
        port = harness.free_port()
        result = self.run_to_end(port=port)
        self.assertEqual(result.code, 1, result)
        lines = result.out.replace("\r\n", "\n").split("\n")
        # The default log folder (under Wine it is named from drive C:).
        logs = list(self.env.default_log_dir.glob("agent-*.jsonl"))
        self.assertEqual(len(logs), 1)
        self.assertTrue(lines[0].startswith("log: "), result)
        self.assertTrue(lines[0].endswith(("/logs/", "\\logs\\")[harness.IS_WIN] + logs[0].name), result)
        self.assertEqual(lines[1:], [
            "preflight:",
            "  [fail] steam client: " + ("SteamClientDll64 missing -- is Steam running?"
                                         if harness.IS_WIN else
                                         "Steam is not running (no steam.pid) -- start Steam first"),
            "  [fail] cs2 install: no library folder holds app 730",
            "  [ ok ] cs2 process: not running (start it later)",
            f"  [ ok ] gsi port: 127.0.0.1:{port} is free",
            FATAL_LINE,
            "",
        ])
        self.assertEqual(result.err, "")
        self.assert_preflight_records(lines[2:6])

    def test_steam_client_missing_is_fatal_even_with_cs2_installed(self):
        steam = self.env.make_steam(client_dll=None, console_log=COMMAND_LINE + "\n")
        result = self.run_to_end()
        self.assertEqual(result.code, 1, result)
        lines = report_lines(result.out)
        self.assertEqual(check_names(lines), ["steam client", "cs2 install", "console.log",
                                              "-condebug", "cs2 process", "gsi port"])
        self.assertEqual(lines[1], "  [ ok ] cs2 install: " + self.env.agent_path(steam["game_dir"]))
        self.assertEqual(lines[3], "  [ ok ] -condebug: CS2 not running; last session used: " + COMMAND_LINE)
        self.assertTrue(result.out.rstrip().endswith(FATAL_LINE), result)
        # Nothing else starts: no cfg file is written.
        self.assertEqual(list(steam["cfg_dir"].iterdir()), [])
        self.assert_preflight_records(lines)

    def test_cs2_missing_is_fatal(self):
        self.env.make_steam(cs2_library=None)
        result = self.run_to_end(["--coplay-once"])
        self.assertEqual(result.code, 1, result)
        lines = report_lines(result.out)
        self.assertTrue(lines[0].startswith("  [ ok ] steam client: "), lines)
        self.assertEqual(lines[1], "  [fail] cs2 install: no library folder holds app 730")
        self.assertEqual(check_names(lines), ["steam client", "cs2 install", "cs2 process", "gsi port"])
        self.assertTrue(result.out.rstrip().endswith(FATAL_LINE), result)

        # A Steam folder deleted behind the registry's back holds no install either.
        os.rename(self.env.make_steam()["steam"], self.env.root / "moved-away")
        result = self.run_to_end()
        self.assertEqual(result.code, 1, result)
        self.assertIn("  [fail] cs2 install: no library folder holds app 730", result.out)

    def test_unwritable_log_folder_warns_and_goes_on(self):
        blocker = self.env.root / "not-a-folder"
        blocker.write_text("x")
        folder = self.env.agent_path(blocker / "logs")
        result = self.run_to_end(["--log-dir", folder])
        self.assertEqual(result.code, 1, result)
        self.assertEqual(result.err.replace("\r\n", "\n"),
                         f"warning: cannot write JSONL log to {folder}, console only\n")
        self.assertFalse(result.out.startswith("log: "), result)
        self.assertEqual(len(report_lines(result.out)), 4)

    def test_second_library_chosen_when_only_it_lists_the_game(self):
        steam = self.env.make_steam(libraries=["lib-a", "lib-b"], cs2_library=1, listed=[1],
                                    console_log=COMMAND_LINE + "\n")
        # The first library has the game folder too, but does not list app 730.
        (steam["libraries"][0] / harness.CS2_RELATIVE / "cfg").mkdir(parents=True)
        result = self.run_past_preflight()
        self.assertIn("  [ ok ] cs2 install: " + self.env.agent_path(steam["game_dir"]) + "\n",
                      result.out.replace("\r\n", "\n"))

    def test_cyrillic_library_and_log_paths_read_correctly(self):
        steam = self.env.make_steam(libraries=["Библиотека Steam 游戏"], cs2_library=0)
        log_dir = self.env.root / "журнал"
        result = self.run_past_preflight(["--log-dir", self.env.agent_path(log_dir)])
        out = result.out.replace("\r\n", "\n")
        game_dir = self.env.agent_path(steam["game_dir"])
        self.assertIn("  [ ok ] cs2 install: " + game_dir + "\n", out)
        self.assertIn("  [fail] console.log: missing -- CS2 has not run with -condebug yet\n", out)
        self.assertNotIn("] -condebug: ", out)
        logs = list(log_dir.glob("agent-*.jsonl"))
        self.assertEqual(len(logs), 1)
        self.assertTrue(out.startswith("log: " + self.env.agent_path(logs[0]) + "\n"), out)
        records = self.env.events("preflight", log_dir)
        self.assertEqual(records[1]["detail"], game_dir)

    def test_gsi_port_held_by_another_socket(self):
        self.env.make_steam(console_log=COMMAND_LINE + "\n")
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as holder:
            holder.bind(("127.0.0.1", 0))
            holder.listen(1)
            port = holder.getsockname()[1]
            result = self.run_past_preflight(port=port)
        self.assertIn(f"  [fail] gsi port: 127.0.0.1:{port} is already in use", result.out)

    def test_running_game_needs_console_log_younger_than_five_minutes(self):
        steam = self.env.make_steam(console_log="[CommandLine] \"cs2.exe\" -steam\r\n")
        self.assertTrue(DUMMY_CS2.exists(), f"{DUMMY_CS2} was not built")
        dummy = self.env.start_agent(["120"], program=str(DUMMY_CS2))
        self.assertTrue(dummy.wait_for_output("cs2 stand-in running", timeout=30), dummy.stderr())

        # Just under five minutes (the start of the agent adds a moment).
        harness.set_file_age(steam["console_log"], 290)
        result = self.run_past_preflight()
        lines = report_lines(result.out)
        self.assertEqual(lines[3], "  [ ok ] -condebug: console.log is being written right now: "
                         "[CommandLine] \"cs2.exe\" -steam")
        self.assertEqual(lines[4], "  [ ok ] cs2 process: running")
        self.assertTrue(lines[2].endswith(" (modified 4 min ago)"), lines)

        # Five minutes: the game runs without -condebug.
        harness.set_file_age(steam["console_log"], 300)
        result = self.run_past_preflight()
        lines = report_lines(result.out)
        self.assertEqual(lines[3], "  [fail] -condebug: CS2 is running but console.log has not "
                         "changed for 5 min ago -- it was launched WITHOUT -condebug, so no "
                         "`status` will ever be read. Add: -condebug +exec vantor")
        self.assertEqual(lines[4], "  [ ok ] cs2 process: running")


if __name__ == "__main__":
    harness.main()
