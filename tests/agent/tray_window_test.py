"""The tray's window, menu, console switch and clipboard need a display: under
Wine this runs the tray unit tests (tests/agent/tray_test.cpp) again inside
xvfb-run, where every test must run and pass rather than skip. Natively there
is no tray and the unit tests already ran."""

import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402


def descendants(pid):
    """Process ids below `pid`, from /proc."""
    children = {}
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                parent = int((entry / "stat").read_text().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            children.setdefault(parent, []).append(int(entry.name))
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


class TrayWindowTest(harness.AgentTestCase):
    def test_tray_unit_tests_with_a_display(self):
        if not harness.IS_WIN:
            self.skipTest("no tray away from Windows")
        if not shutil.which("xvfb-run"):
            self.skipTest("xvfb-run is not installed")
        exe = harness.BUILD_DIR / "tray_test.exe"
        if not exe.exists():
            exe = next(harness.BUILD_DIR.rglob("tray_test.exe"), exe)
        self.assertTrue(exe.exists(), exe)
        command = ["xvfb-run", "-a", str(harness.WINE_RUN), str(self.env.prefix), str(exe)]
        proc = subprocess.run(command, env=self.env.environ(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300,
                              cwd=self.env.root)
        out = proc.stdout.decode("utf-8", "replace")
        self.assertEqual(proc.returncode, 0, out)
        self.assertIn("[  PASSED  ]", out)
        # With a display only the console switch may skip (Wine gives a
        # process started from a pipe no console window).
        skipped = [line for line in out.splitlines() if line.startswith("[  SKIPPED ]") and "." in line]
        self.assertTrue(all("ConsoleSwitch" in line for line in skipped), out)

    def test_the_agent_with_its_tray(self):
        """Without --no-tray: the icon under Wine with a display (the console is
        shared with the test, so it stays visible); natively a clear error and
        the run carries on with the console."""
        paths = self.env.make_steam(console_log="[CommandLine] cs2.exe -condebug\n")
        self.env.data_dir.mkdir(parents=True, exist_ok=True)
        (self.env.data_dir / "agent.json").write_text('{"api_base_url": ""}')
        args = ["--console-log", self.env.agent_path(paths["console_log"]),
                "--gsi-port", str(harness.free_port())]
        command = self.env.command(args)
        if harness.IS_WIN:
            if not shutil.which("xvfb-run"):
                self.skipTest("xvfb-run is not installed")
            command = ["xvfb-run", "-a"] + command
        popen = subprocess.Popen(command, env=self.env.environ(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=self.env.root)
        agent = harness.AgentProcess(popen)
        self.addCleanup(agent.kill)
        wanted = "tray: icon added" if harness.IS_WIN else (
            "tray: no notification area on this system (the tray icon needs Windows) -- "
            "carrying on with the console window")
        self.assertTrue(agent.wait_for_output(wanted, 60), agent.stdout() + agent.stderr())
        self.assertTrue(agent.wait_for_output("watching -- press Ctrl+C to stop.", 10))
        time.sleep(0.5)
        if harness.IS_WIN:
            # xvfb-run does not pass SIGINT on: Ctrl+C goes to the agent's own
            # process, found among the descendants of the one started here.
            for pid in descendants(popen.pid):
                try:
                    if "vantor-agent" in Path("/proc/%d/cmdline" % pid).read_text(errors="replace"):
                        os.kill(pid, signal.SIGINT)
                except OSError:
                    pass
        else:
            agent.interrupt()
        result = agent.wait(30)
        self.assertEqual(result.out.splitlines()[-1], "stopping", result)
        if harness.IS_WIN:
            self.assertEqual([e["console_hidden"] for e in self.env.events("tray_ready")], [False])
        else:
            errors = [e for e in self.env.events("error") if e["where"] == "tray"]
            self.assertEqual(len(errors), 1)
        self.assertEqual(self.env.records()[-1]["event"], "stopped")


if __name__ == "__main__":
    harness.main()
