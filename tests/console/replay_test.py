"""--replay end to end: the status blocks of a console.log byte for byte, however
large or broken the file, and nothing else touched."""

import unittest

import harness
from harness import Agent

CRLF = "\r\n" if harness.IS_WIN else "\n"
BJORN = "Bj\u00f6rn \U0001f525\x1b]0;owned\x07\u009b31m"   # a name may not drive the terminal
BLOCKS = [
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
    "#end",   # the last line needs no line feed
]
SHOWN = "Bj\u00f6rn \U0001f525?]0;owned??31m"
SUMMARIES = (
    f"status 12/06 21:14:03: 2 connected +1 pending +1 bots (humans=3) reservation=1:2:3 self='{SHOWN}'\n"
    f"    'Ann', '{SHOWN}'\n"
    "status : 0 connected (humans=0)\n"
    "    \n")
JUNK = b"\n".join([b"\x00" * 1000, b"x" * (10 << 20), b"\xff\xfe\xc3\x28 broken \xe2\x82", b"----- Status -----",
                   b"   1    03:12    4    0     active 786432 '" + b"n" * (10 << 20) + b"'", b"#end",
                   b"----- Status -----", b"   3    03:12    4    0     active 786432 'cut", b""])

# name: (console.log, exit code, standard output ("...": its end), standard error)
FILES = {
    "blocks in a folder named in japanese and cyrillic": (
        "\r\n".join(BLOCKS), 0, SUMMARIES + "2 status block(s) in {path}\n", ""),
    "huge broken lines, then thousands of blocks across reads": (
        JUNK + "\n".join(BLOCKS * 4000).encode(), 0, "..." + SUMMARIES * 4000 + "8001 status block(s) in {path}\n", ""),
    "a block cut short": ("\n".join(BLOCKS[:10]), 1, "0 status block(s) in {path}\n", ""),
    "a missing file": (None, 1, "", "cannot read {path}\n"),
    "a folder": (b"folder", 1, "", "cannot read {path}\n"),
}


class ReplayTest(unittest.TestCase):
    def test_replay(self):
        agent = Agent(self, steam=None)
        for name, (data, code, out, err) in FILES.items():
            with self.subTest(name):
                path = agent.root / name / "\u65e5\u672c\u8a9e \u0416\u0435\u043d\u044f.log"
                path.parent.mkdir()
                if data == b"folder":
                    path.mkdir()
                elif data is not None:
                    path.write_bytes(data if isinstance(data, bytes) else data.encode())
                shown = agent.agent_path(path)
                result = agent.run("--replay", shown, "--coplay-once", "--log-dir", shown + ".logs", bare=True)
                out, err = (text.format(path=shown).replace("\n", CRLF) for text in (out, err))
                self.assertEqual((result.code, result.err), (code, err))
                self.assertEqual(result.out[-len(out) + 3:] if out[:3] == "..." else result.out, out.lstrip("."))
        self.assertEqual(list(agent.root.glob("*/*.logs")), [])
        self.assertFalse(agent.data_dir.exists())


if __name__ == "__main__":
    harness.main()
