"""--replay end to end: the built agent prints the status blocks of a console.log, byte for byte."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "examples"))
import harness  # noqa: E402
import make_sample_console_log as sample  # noqa: E402


def platform_text(text):  # the C runtime writes CR LF on Windows
    return text.replace("\n", "\r\n") if harness.IS_WIN else text


BJORN = "Bj\u00f6rn \U0001f525"

TWO_BLOCKS = [
    "12/06 21:13:58 [Client] Client: Connected to 172.18.0.2:27015",
    "12/06 21:14:03 [Client] ----- Status -----",
    "12/06 21:14:03 [Client] source   : slot 2",
    "12/06 21:14:03 [Client] players  : 3 humans, 1 bot (10 max) (not hibernating) (reserved 1:2:3)",
    "12/06 21:14:03 [Client] ---------players--------",
    "12/06 21:14:03 [Client]   id     time ping loss      state   rate name",
    "12/06 21:14:03 [Client] 65535 [NoChan]    0    0 challenging      0 ''",
    "12/06 21:14:03 [Client]    1    03:12    4    0     active 786432 'Ann'",
    f"12/06 21:14:03 [Client]    2    01:59    3    0     active 786432 172.18.0.1:37738 '{BJORN}'",
    "12/06 21:14:03 [Client]    3      BOT    0    0     active      0 'Vitaliy'",
    "12/06 21:14:03 [Client] #end",
    "12/06 21:14:09 [Client] Damage Given to \"Ann\" - 27 in 1 hit",
    "----- Status -----",
    "#end",
]

TWO_SUMMARIES = (
    f"status 12/06 21:14:03: 2 connected +1 pending +1 bots (humans=3) reservation=1:2:3 self='{BJORN}'\n"
    f"    'Ann', '{BJORN}'\n"
    "status : 0 connected (humans=0)\n"
    "    \n"
)


class ReplayTest(harness.AgentTestCase):
    def write_log(self, name, data):
        path = self.env.root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def replay(self, path, *extra):
        return self.env.run_agent(["--replay", self.env.agent_path(path), *extra])

    def test_prints_every_block_and_the_count(self):
        # The last "#end" has no line feed after it and still counts.
        for ending in ("\n", "\r\n"):
            with self.subTest(line_end=repr(ending)):
                path = self.write_log("console.log", ending.join(TWO_BLOCKS).encode("utf-8"))
                result = self.replay(path)
                self.assertEqual(result.out, platform_text(
                    TWO_SUMMARIES + f"2 status block(s) in {self.env.agent_path(path)}\n"))
                self.assertEqual(result.err, "")
                self.assertEqual(result.code, 0)

    def test_unreadable_file(self):
        missing = self.env.root / "no such folder" / "console.log"
        folder = self.env.root / "a folder"
        folder.mkdir()
        for path in (missing, folder):
            with self.subTest(path=path.name):
                result = self.replay(path)
                self.assertEqual(result.out, "")
                self.assertEqual(result.err, platform_text(f"cannot read {self.env.agent_path(path)}\n"))
                self.assertEqual(result.code, 1)

    def test_log_larger_than_one_read(self):
        # Blocks and lines straddle the boundaries of the agent's reads.
        repeats = 4000
        path = self.write_log("console.log", ("\r\n".join(TWO_BLOCKS) + "\r\n").encode("utf-8") * repeats)
        result = self.replay(path)
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual(result.out, platform_text(
            TWO_SUMMARIES * repeats + f"{2 * repeats} status block(s) in {self.env.agent_path(path)}\n"))

    def test_file_without_complete_block(self):
        for name, data in (("empty.log", b""),
                           ("chatter.log", "\r\n".join(sample.chatter(0, 50)).encode()),
                           ("truncated.log", "\r\n".join(TWO_BLOCKS[:10]).encode())):
            with self.subTest(name=name):
                path = self.write_log(name, data)
                result = self.replay(path)
                self.assertEqual(result.out, platform_text(
                    f"0 status block(s) in {self.env.agent_path(path)}\n"))
                self.assertEqual(result.code, 1)

    def test_non_ascii_path(self):
        # Under Wine the ANSI code page is 1252: a path taken through it is lost.
        path = self.write_log("\u65e5\u672c\u8a9e \u0416\u0435\u043d\u044f/console.log",
                              "\n".join(TWO_BLOCKS).encode())
        result = self.replay(path)
        self.assertEqual(result.code, 0, result)
        self.assertTrue(result.out.endswith(platform_text(
            f"2 status block(s) in {self.env.agent_path(path)}\n")), result.out)

    def test_malformed_log_never_crashes(self):
        block = "\n".join(TWO_BLOCKS[1:11]).encode()
        junk = b"\n".join([
            b"\x00" * 1000,
            b"x" * (10 * 1024 * 1024),
            b"\xff\xfe\xc3\x28 broken utf-8 \xe2\x82",
            b"----- Status -----",
            b"---------players--------",
            b"   1    03:12    4    0     active 786432 '" + b"n" * (10 * 1024 * 1024) + b"'",
            b"   2    03:12    4    0     active 786432 '\xff\x00\xfe'",
            b"#end",
            b"----- Status -----",  # truncated at the end of the file
            b"   3    03:12    4    0     active 786432 'cut",
        ])
        path = self.write_log("console.log", junk + b"\n" + block)
        result = self.replay(path)
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual(result.err, "")
        self.assertIn("status : 1 connected (humans=0)", result.out)
        self.assertTrue(result.out.endswith(platform_text(
            f"2 status block(s) in {self.env.agent_path(path)}\n")), result.out[-300:])

    def test_names_cannot_drive_the_terminal(self):
        hostile = "\x1b]0;owned\x07\x1b[2J\u009b31m"
        lines = TWO_BLOCKS[:8] + [
            f"12/06 21:14:03 [Client]    2    01:59    3    0     active 786432 '{hostile}'"] + TWO_BLOCKS[9:11]
        result = self.replay(self.write_log("console.log", "\n".join(lines).encode("utf-8")))
        self.assertEqual(result.code, 0, result.err)
        self.assertNotIn("\x1b", result.out)
        self.assertNotIn("\u009b", result.out)
        self.assertIn(platform_text("    'Ann', '?]0;owned??[2J?31m'\n"), result.out)

    def test_replay_touches_nothing_else(self):
        path = self.write_log("console.log", "\n".join(TWO_BLOCKS).encode())
        result = self.replay(path, "--coplay-once", "--log-dir", self.env.agent_path(self.env.root / "logs"))
        self.assertEqual(result.code, 0)
        self.assertFalse((self.env.root / "logs").exists())
        self.assertFalse(self.env.data_dir.exists())


if __name__ == "__main__":
    harness.main()
