"""What a player expects of a program that lives in the tray, end to end: one agent
at a time (a second start steps back, the first runs on, a crashed agent's lock is
no obstacle), and the agent started with the session (--autostart on|off)."""

import shutil
import unittest
from pathlib import Path

import harness
from harness import IS_WIN, Agent

RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"


class TrayProgramTest(unittest.TestCase):
    def test_a_second_start_steps_back_and_the_first_runs_on(self):
        first = Agent(self)
        first.tray = IS_WIN and bool(shutil.which("Xvfb"))   # with a tray the first is told, too
        if first.tray:
            first.with_display()
        first.start()
        if first.tray:   # the icon comes after the word that it watches
            self.assertTrue(first.process.wait_for_output("tray: icon added"), first.output())
        pid = int((first.data_dir / "agent.lock").read_text())
        if not IS_WIN:
            self.assertEqual(pid, first.process.popen.pid)
        second = first.run()
        self.assertEqual((second.code, second.out, second.err),
                         (0, "vantor-agent is already running (pid %d)\n" % pid, ""))
        coplay = first.run("--coplay-once")   # a diagnostic may run beside it
        self.assertEqual(coplay.code, 0)
        self.assertNotIn("already running", coplay.out)
        if first.tray:
            first.wait("second_start")
        first.gsi({"map": {"name": "de_mirage", "mode": "competitive", "phase": "warmup", "round": 0}})
        first.wait("match_started", map="de_mirage")
        first.process.kill()   # a crash: its lock is no obstacle to the next start
        self.assertIn("watching", first.start().stop(within=10).out)   # the stop's own pace is guarded elsewhere

    def test_autostart_from_the_command_line(self):
        agent = Agent(self, steam=None)
        entry = agent.root / "config" / "autostart" / "vantor-agent.desktop"
        agent.extra_env["XDG_CONFIG_HOME"] = str(agent.root / "config")
        program = agent.agent_path(Path(harness.AGENT).resolve())
        command = ('"%s" --no-tray --gsi-port %d' if IS_WIN else '"%s" "--no-tray" "--gsi-port" "%d"') % (
            program, agent.port)

        def written():
            if IS_WIN:
                found = agent.wine("reg", "query", RUN_KEY, "/v", "vantor-agent", check=False).stdout.decode()
                return found.split("REG_SZ", 1)[1].strip() if "REG_SZ" in found else None
            return entry.read_text().split("\nExec=")[1].split("\n")[0] if entry.exists() else None

        on = agent.run("--autostart", "on", "--debug")
        self.assertEqual(on.code, 0, on)
        self.assertIn("autostart: on -- ", on.out)
        self.assertEqual(written(), command)
        off = agent.run("--autostart", "off")
        self.assertEqual((off.code, written()), (0, None), off)
        self.assertEqual([(e["enabled"], e.get("command")) for e in agent.events("autostart")],
                         [(True, command), (False, None)])
        wrong = agent.run("--autostart", "maybe")
        self.assertEqual(wrong.code, 2)
        self.assertIn("--autostart must be on or off\n\n", wrong.err)


if __name__ == "__main__":
    harness.main()
