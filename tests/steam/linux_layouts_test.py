"""The Linux agent on each real install kind: Steam found through its links and
folders, steam.pid (or SteamPID) saying whether it runs, the fake client where it keeps it."""

import shutil
import subprocess
import time
import unittest
from pathlib import Path

import harness
from harness import Agent

STEAM_PID = {"flatpak": ".var/app/com.valvesoftware.Steam/.steam/steam.pid",
             "snap": "snap/steam/common/.steam/steam.pid"}
COMM = Path("/proc/self/comm").read_text().strip()

# name: (layout, steam.pid, HKLM SteamPID in registry.vdf, the steam client check's detail)
STARTS = {
    "links to the default folder": ("native", "live", False, "[ ok ] steam client: running as pid {live} ({pid_file})"),
    "old debian installation through links": ("debian", "live", False, "[ ok ] steam client: running as pid {live}"),
    "xdg data home without links": ("xdg", "live", False, "[ ok ] steam client: running as pid {live}"),
    "dangling root link is skipped": ("dangling", "live", False, "[ ok ] steam client: running as pid {live}"),
    "flatpak with its own links": ("flatpak", "live", False, "[ ok ] steam client: running as pid {live} ({pid_file})"),
    "snap": ("snap", "live", False, "[ ok ] steam client: running as pid {live} ({pid_file})"),
    "stale steam.pid but a live SteamPID": ("native", "dead", True, "running as pid {live} (SteamPID of registry.vdf)"),
    "no steam.pid": ("native", None, False, "[fail] steam client: Steam is not running (no steam.pid) -- start"),
    "steam.pid of a dead process": ("native", "dead", False, " is gone) -- start Steam first"),
    "steam.pid of another program": ("native", "other", False, f" is '{COMM}', not steam) -- start Steam first"),
}


@unittest.skipIf(harness.IS_WIN, "the Linux install layouts")
class LinuxLayoutTest(unittest.TestCase):
    def agent(self, layout, pid):
        agent = Agent(self, steam=None)
        agent.paths = harness.install_fake_steam(agent, {"self": {"steamid": "76561198000000001"}},
                                                 layout, pid=pid)
        return agent

    def test_each_install_kind(self):
        for name, (layout, pid, steampid, check) in STARTS.items():
            with self.subTest(name):
                agent = self.agent(layout, pid)
                if steampid:
                    (agent.home / ".steam" / "registry.vdf").write_text(harness.vdf_text({"Registry": {
                        "HKLM": {"Software": {"Valve": {"Steam": {"SteamPID": agent.steam_process()}}}}}}))
                result = agent.run("--coplay-once")
                pid_file = agent.home / STEAM_PID.get(layout, ".steam/steam.pid")
                self.assertIn(check.format(live=agent.steam_process(), pid_file=pid_file), result.out)
                self.assertEqual(result.code, 1 - ("[ ok ]" in check or steampid), result)
                self.assertIn("  [ ok ] cs2 install: %s\n" % agent.paths["game_dir"], result.out)
                self.assertEqual((agent.root / "fake_steam_calls.txt").exists(), result.code == 0)
                self.assertEqual(len(list(agent.default_log_dir.glob("agent-*.jsonl"))), 1)

    def test_flatpak_steam_pid_counted_inside_its_sandbox(self):
        # The Flatpak runs Steam in a pid namespace of its own: steam.pid says 1.
        agent = self.agent("flatpak", None)
        (agent.home / STEAM_PID["flatpak"]).write_text("1\n")
        steam = shutil.copy(shutil.which("sleep"), agent.root / "steam")
        sandbox = subprocess.Popen(["unshare", "--pid", "--fork", "--kill-child", steam, "600"], stderr=subprocess.DEVNULL)
        self.addCleanup(sandbox.wait)
        self.addCleanup(sandbox.kill)
        time.sleep(0.5)
        if sandbox.poll() is not None:
            self.skipTest("no pid namespaces here (unshare needs privileges)")
        self.assertIn("  [ ok ] steam client: running as pid 1 (%s)\n" % (agent.home / STEAM_PID["flatpak"]),
                      agent.run("--coplay-once").out)


if __name__ == "__main__":
    harness.main()
