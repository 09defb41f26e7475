"""The Linux agent on each real install kind: no SteamPath or ActiveProcess in
registry.vdf, Steam found through its links and folders, "is Steam running"
from steam.pid (or HKLM SteamPID), the client library from ~/.steam/sdk64 or
the Steam folder's linux64 -- the fake Steam client installed there."""

import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402
import fake_steam  # noqa: E402

SELF = {"self": {"steamid": "76561198000000001", "persona": "me"}}
NOT_RUNNING = "  [fail] steam client: Steam is not running ("
START_STEAM = ") -- start Steam first"

# name: (layout, steam.pid, registry.vdf, where the pid is read from)
STARTS = {
    "links_to_the_default_folder": ("native", "live", None, ".steam/steam.pid"),
    "old_debian_installation_through_links": ("debian", "live", None, ".steam/steam.pid"),
    "xdg_data_home_without_links": ("xdg", "live", None, ".steam/steam.pid"),
    "dangling_root_link_is_skipped": ("dangling", "live", None, ".steam/steam.pid"),
    "flatpak_with_its_own_links": (
        "flatpak", "live", None, ".var/app/com.valvesoftware.Steam/.steam/steam.pid"),
    "snap": ("snap", "live", None, "snap/steam/common/.steam/steam.pid"),
    "registry_vdf_with_only_real_values": ("native", None, "real", None),
    "stale_steam_pid_but_live_steampid": ("native", "dead", "real", None),
}

# name: (steam.pid, the end of the failed check's detail)
REFUSALS = {
    "no_steam_pid": (None, "no steam.pid" + START_STEAM),
    "steam_pid_of_a_dead_process": ("dead", " is gone" + START_STEAM),
    "steam_pid_of_another_program": (
        "other", " is '%s', not steam" % Path("/proc/self/comm").read_text().strip() + START_STEAM),
}


class LinuxLayoutTest(harness.AgentTestCase):

    def setUp(self):
        super().setUp()
        if harness.IS_WIN:
            self.skipTest("the Linux install layouts")

    def fresh_env(self, name):
        self.env = harness.AgentEnv(name[:40])
        self.addCleanup(self.env.close)

    def run_coplay_once(self):
        return self.env.run_agent(["--coplay-once", "--no-tray", "--gsi-port",
                                   str(harness.free_port())])

    def test_each_install_kind_is_found_and_connected(self):
        for name, (layout, pid, registry, pid_file) in STARTS.items():
            with self.subTest(name):
                self.fresh_env(name)
                paths = fake_steam.install_linux(self.env, SELF, layout, pid=pid, registry=registry)
                result = self.run_coplay_once()
                self.assertEqual(result.code, 0, result)
                source = (str(self.env.home / pid_file) if pid_file else "SteamPID of registry.vdf")
                live = self.env.steam_process()
                self.assertIn("  [ ok ] steam client: running as pid %d (%s)\n" % (live, source),
                              result.out)
                self.assertIn("  [ ok ] cs2 install: %s\n" % paths["game_dir"], result.out)
                self.assertIn("  [ ok ] -condebug: CS2 not running; last session used: ", result.out)
                self.assertIn("] steam: 76561198000000001 'me'\n", result.out)
                self.assertIn("load", fake_steam.calls(self.env))
                # The data folder follows XDG_DATA_HOME.
                data = (Path(self.env.extra_env["XDG_DATA_HOME"]) / "vantor"
                        if layout == "xdg" else self.env.data_dir)
                self.assertEqual(len(list((data / "logs").glob("agent-*.jsonl"))), 1, result)

    def test_flatpak_steam_pid_counted_inside_its_sandbox(self):
        # The Flatpak runs Steam in a pid namespace of its own: steam.pid says 1.
        link = self.env.root / "sandbox" / "steam"
        link.parent.mkdir()
        link.symlink_to(shutil.which("sleep"))
        sandbox = subprocess.Popen(["unshare", "--pid", "--fork", "--kill-child", str(link), "600"],
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(sandbox.wait)
        self.addCleanup(sandbox.kill)
        time.sleep(0.5)
        if sandbox.poll() is not None:
            self.skipTest("no pid namespaces here (unshare needs privileges)")
        fake_steam.install_linux(self.env, SELF, "flatpak", pid=None)
        pid_file = self.env.home / ".var/app/com.valvesoftware.Steam/.steam/steam.pid"
        harness.write_steam_pid(pid_file.parent, 1)
        result = self.run_coplay_once()
        self.assertEqual(result.code, 0, result)
        self.assertIn("  [ ok ] steam client: running as pid 1 (%s)\n" % pid_file, result.out)

    def test_steam_not_running_stops_with_a_linux_reason(self):
        for name, (pid, ending) in REFUSALS.items():
            with self.subTest(name):
                self.fresh_env(name)
                paths = fake_steam.install_linux(self.env, SELF, pid=pid)
                result = self.run_coplay_once()
                self.assertEqual(result.code, 1, result)
                line = [x for x in result.out.splitlines() if x.startswith(NOT_RUNNING)]
                self.assertEqual(len(line), 1, result.out)
                self.assertTrue(line[0].endswith(ending), line[0])
                self.assertIn("  [ ok ] cs2 install: %s\n" % paths["game_dir"], result.out)
                self.assertTrue(result.out.endswith("preflight failed, nothing to observe\n"))
                self.assertEqual(fake_steam.calls(self.env), [])


if __name__ == "__main__":
    harness.main()
