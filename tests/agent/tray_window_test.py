"""The tray on a virtual X server under Wine: its unit tests all run and pass, the
agent adds its icon; natively the agent says there is no tray and carries on."""

import shutil
import subprocess
import unittest

import harness
from harness import IS_WIN, Agent


@unittest.skipIf(IS_WIN and not shutil.which("Xvfb"), "Xvfb is not installed")
class TrayWindowTest(unittest.TestCase):
    def agent(self):
        agent = Agent(self)
        if IS_WIN:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL)
            self.addCleanup(xvfb.wait)
            self.addCleanup(xvfb.kill)
            agent.extra_env["DISPLAY"] = ":" + xvfb.stdout.readline().decode().strip()
        return agent

    @unittest.skipUnless(IS_WIN, "no tray away from Windows")
    def test_tray_unit_tests_with_a_display(self):
        result = self.agent().run_agent([], program=str(next(harness.BUILD_DIR.rglob("tray_test.exe"))), timeout=300)
        self.assertEqual(result.code, 0, result.out)
        self.assertIn("[  PASSED  ]", result.out)
        # Only the console switch may skip: Wine gives a process started from a pipe no console window.
        skipped = [line for line in result.out.splitlines() if line.startswith("[  SKIPPED ]") and "." in line]
        self.assertTrue(all("ConsoleSwitch" in line for line in skipped), result.out)

    def test_the_agent_with_its_tray(self):
        agent = self.agent()
        agent.tray = True
        agent.start()
        self.assertTrue(agent.process.wait_for_output("tray: icon added" if IS_WIN else "tray: no notification area on "
                        "this system (the tray icon needs Windows) -- carrying on with the console window"), agent.output())
        agent.stop()
        if IS_WIN:   # the console is the test's, so it stays visible
            self.assertEqual([e["console_hidden"] for e in agent.events("tray_ready")], [False])


if __name__ == "__main__":
    harness.main()
