"""The command line end to end: help and a usage error on both standard
streams (CR LF from the Windows C runtime), with their exit codes."""

import unittest
from pathlib import Path

import harness
from harness import Agent

HELP = "vantor-agent -- detects the CS2 match roster and derives its room key.\n\n"
CRLF = "\r\n" if harness.IS_WIN else "\n"
BOGUS = "--b\u00f6gus-\u65e5\u672c-\U0001f3ae"   # UTF-8 whatever the ANSI code page

# name: (arguments, exit code, standard error); the help text goes to standard output
RUNS = {
    "help": (["--help"], 0, ""),
    "usage error names the argument": ([BOGUS, "--help"], 2, f"unknown argument: {BOGUS}\n\n"),
}


class CommandLineTest(unittest.TestCase):
    def test_help_and_usage_error(self):
        agent = Agent(self, steam=None)
        for name, (args, code, err) in RUNS.items():
            with self.subTest(name):
                result = agent.run(*args, bare=True)
                self.assertEqual((result.code, result.err), (code, err.replace("\n", CRLF)))
                self.assertTrue(result.out.startswith(HELP.replace("\n", CRLF)), result.out)
                self.assertEqual(result.out[-5:].count(CRLF), 2, result.out)   # the help, then a blank line
                self.assertEqual(result.out.count("\n"), result.out.count(CRLF))
        self.assertFalse(agent.data_dir.exists())   # neither starts anything

    @unittest.skipIf(harness.IS_WIN, "Linux only")
    def test_systemd_unit_starts_this_agent_in_the_background(self):
        result = Agent(self, steam=None).run("--print-systemd-unit", bare=True)
        self.assertEqual((result.code, result.err), (0, ""), result)
        self.assertIn('ExecStart="%s" --no-tray' % Path(harness.AGENT).resolve(), result.out.splitlines())


if __name__ == "__main__":
    harness.main()
