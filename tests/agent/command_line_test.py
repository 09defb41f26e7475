"""The command line end to end: help and usage errors, byte for byte on both
standard streams, with their exit codes."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402

HELP = (
    "vantor-agent -- detects the CS2 match roster and derives its room key.\n"
    "\n"
    "  --debug                 also log raw GSI payloads and the whole co-play and\n"
    "                          friend lists (large, but this is the telemetry)\n"
    "  --replay <console.log>  parse an existing log for status blocks and exit\n"
    "  --coplay-once           dump what Steam knows and exit\n"
    "  --no-write-cfg          check the CS2 cfgs but never write them\n"
    "  --no-tray               keep the console window instead of the tray icon\n"
    "  --console-log <path>    watch this log instead of the one next to CS2\n"
    "  --gsi-port <n>          GSI listen port (default 47474)\n"
    "  --api-base <url>        API to POST completed rosters to, empty to disable\n"
    "                          (default https://api.vantor.gg, saved in agent.json)\n"
    "  --log-dir <dir>         where to write agent-*.jsonl\n"
    "                          (default %LOCALAPPDATA%\\vantor\\logs)\n"
) + ("" if harness.IS_WIN else
     "  --print-systemd-unit    print a systemd user unit that runs the agent in the\n"
     "                          background, and exit\n")


def platform_text(text):
    """What the standard streams carry: the C runtime writes CR LF on Windows."""
    return text.replace("\n", "\r\n") if harness.IS_WIN else text


class CommandLineTest(harness.AgentTestCase):
    def test_help(self):
        for flag in ("--help", "-h"):
            with self.subTest(flag=flag):
                result = self.env.run_agent([flag])
                self.assertEqual(result.out, platform_text(HELP + "\n"))
                self.assertEqual(result.err, "")
                self.assertEqual(result.code, 0)

    def test_usage_errors(self):
        cases = [
            (["--bogus"], "unknown argument: --bogus"),
            (["--HELP"], "unknown argument: --HELP"),
            (["--help", "--bogus"], "unknown argument: --bogus"),
            (["--bogus", "--help"], "unknown argument: --bogus"),
            (["--gsi-port", "0"], "--gsi-port must be 1..65535"),
            (["--gsi-port", "65536"], "--gsi-port must be 1..65535"),
            (["--gsi-port", "-1"], "--gsi-port must be 1..65535"),
            (["--gsi-port", "abc"], "--gsi-port must be 1..65535"),
            (["--gsi-port", "4294967297"], "--gsi-port must be 1..65535"),
            (["--gsi-port"], "--gsi-port must be 1..65535"),
            (["--replay"], "--replay needs a value"),
            (["--debug", "--log-dir"], "--log-dir needs a value"),
            (["--gsi-port", "8080x", "--no-such"], "unknown argument: --no-such"),
            # Arguments reach the agent as UTF-8 whatever the ANSI code page is.
            (["--b\u00f6gus-\u65e5\u672c-\U0001f3ae"], "unknown argument: --b\u00f6gus-\u65e5\u672c-\U0001f3ae"),
        ]
        for args, error in cases:
            with self.subTest(args=args):
                result = self.env.run_agent(args)
                self.assertEqual(result.err, platform_text(error + "\n\n"))
                self.assertEqual(result.out, platform_text(HELP + "\n"))
                self.assertEqual(result.code, 2)
        # A usage error starts nothing: no data folder, no event log.
        self.assertFalse(self.env.data_dir.exists())

    def test_systemd_unit_starts_this_agent_in_the_background(self):
        if harness.IS_WIN:
            self.skipTest("Linux only")
        result = self.env.run_agent(["--print-systemd-unit"])
        self.assertEqual((result.code, result.err), (0, ""), result)
        lines = result.out.splitlines()
        self.assertIn('ExecStart="%s" --no-tray' % Path(harness.AGENT).resolve(), lines)
        for line in ("[Service]", "Restart=on-failure", "WantedBy=graphical-session.target"):
            self.assertIn(line, lines)
        self.assertFalse(self.env.data_dir.exists())

    def test_replay_wins_over_coplay_once(self):
        log = self.env.root / "x.log"
        log.write_bytes(b"----- Status -----\n#end\n")
        shown = self.env.agent_path(log)
        result = self.env.run_agent(["--replay", shown, "--coplay-once"])
        self.assertEqual(result.out, platform_text(
            f"status : 0 connected (humans=0)\n    \n1 status block(s) in {shown}\n"))
        self.assertEqual(result.code, 0)


if __name__ == "__main__":
    harness.main()
