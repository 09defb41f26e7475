"""Runs the built agent end to end, for the tests under tests/*/ *_test.py.

ctest starts each test file with VANTOR_AGENT (the built program), VANTOR_PRESET
("native" or "win64"), VANTOR_BUILD_DIR and VANTOR_SOURCE_DIR in the environment.
Every test gets an `AgentEnv`: a folder of its own, a home of its own (natively)
or a Wine prefix of its own (win64, cloned from the build's prefix), so that the
registry, the agent data folder and the event logs never leak between tests.

    class StartupTest(harness.AgentTestCase):
        def test_steam_missing(self):
            steam = self.env.make_steam()
            result = self.env.run_agent(["--no-tray"])
            self.assertEqual(result.code, 1)
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request
from pathlib import Path

AGENT = os.environ.get("VANTOR_AGENT", "")
PRESET = os.environ.get("VANTOR_PRESET", "native")
BUILD_DIR = Path(os.environ.get("VANTOR_BUILD_DIR", "."))
SOURCE_DIR = Path(os.environ.get("VANTOR_SOURCE_DIR", Path(__file__).resolve().parents[2]))
WINE_RUN = SOURCE_DIR / "tools" / "wine-run"
IS_WIN = PRESET == "win64"

CS2_RELATIVE = Path("steamapps/common/Counter-Strike Global Offensive/game/csgo")


class Result:
    def __init__(self, code, out, err):
        self.code = code
        self.out = out
        self.err = err

    def __repr__(self):
        return f"Result(code={self.code}, out={self.out!r}, err={self.err!r})"


def free_port():
    """A loopback TCP port that nobody listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class RoomServer:
    """tools/room_server.py on a free loopback port, playing the scripted steps
    (see its help) before answering normally."""

    def __init__(self, folder, steps=(), lifetime=600):
        port_file = Path(folder) / "room_server.port"
        args = [sys.executable, str(SOURCE_DIR / "tools" / "room_server.py"),
                "--port-file", str(port_file), "--lifetime", str(lifetime)]
        for step in steps:
            args += ["--step", step]
        self.popen = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not port_file.exists():  # renamed into place once written
            if time.monotonic() > deadline or self.popen.poll() is not None:
                self.stop()
                raise AssertionError("the room server did not start")
            time.sleep(0.05)
        self.port = int(port_file.read_text())
        self.base = "http://127.0.0.1:%d" % self.port

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=10) as answer:
            return json.loads(answer.read())

    def requests(self):
        return self.get("/_requests")

    def posts(self):
        """The room requests (POST .../v1/matches) received so far."""
        return [r for r in self.requests() if r["path"].endswith("/v1/matches")]

    def stop(self):
        if self.popen.poll() is None:
            self.popen.terminate()
        self.popen.wait(10)


def _base_prefix():
    """The build's Wine prefix, created on first use by tools/wine-run."""
    prefix = Path(os.environ.get("WINEPREFIX", BUILD_DIR / "wineprefix"))
    if not (prefix / "system.reg").exists():
        subprocess.run([str(WINE_RUN), str(prefix), "cmd", "/c", "exit"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
    return prefix


def _clone_prefix(base, target):
    """A private copy of a Wine prefix: hard links for the large, read-only
    system files, real copies of the registry files Wine rewrites."""
    subprocess.run(["cp", "-al", str(base), str(target)], check=True)
    for reg in target.glob("*.reg"):
        reg.unlink()
        shutil.copy2(base / reg.name, reg)
    # Folders the agent and tests write into must not be shared links.
    users = target / "drive_c" / "users"
    for user in users.iterdir() if users.exists() else []:
        local = user / "AppData" / "Local"
        if local.exists():
            tmp = local.with_name("Local.tmp")
            shutil.copytree(local, tmp, copy_function=shutil.copy2)
            shutil.rmtree(local)
            tmp.rename(local)


def _vdf_quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def vdf_text(tree, indent=0):
    """KeyValues text for a nested dict of strings."""
    lines = []
    pad = "\t" * indent
    for key, value in tree.items():
        if isinstance(value, dict):
            lines.append(f"{pad}{_vdf_quote(key)}")
            lines.append(f"{pad}{{")
            lines.append(vdf_text(value, indent + 1))
            lines.append(f"{pad}}}")
        else:
            lines.append(f"{pad}{_vdf_quote(key)}\t\t{_vdf_quote(str(value))}")
    return "\n".join(line for line in lines if line != "")


class AgentProcess:
    """A running agent whose output is collected in the background."""

    def __init__(self, popen):
        self.popen = popen
        self._out = bytearray()
        self._err = bytearray()
        self._lock = threading.Lock()
        self._threads = [
            threading.Thread(target=self._pump, args=(popen.stdout, self._out), daemon=True),
            threading.Thread(target=self._pump, args=(popen.stderr, self._err), daemon=True),
        ]
        for t in self._threads:
            t.start()

    def _pump(self, stream, sink):
        while True:
            chunk = stream.read1(65536) if hasattr(stream, "read1") else stream.read(65536)
            if not chunk:
                break
            with self._lock:
                sink.extend(chunk)

    def stdout(self):
        with self._lock:
            return self._out.decode("utf-8", "replace")

    def stderr(self):
        with self._lock:
            return self._err.decode("utf-8", "replace")

    def wait_for_output(self, text, timeout=30.0):
        """Waits until the console shows `text`; True when it did."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.stdout():
                return True
            if self.popen.poll() is not None:
                time.sleep(0.2)
                return text in self.stdout()
            time.sleep(0.05)
        return False

    def interrupt(self):
        """Ctrl+C: SIGINT natively; under Wine the signal to the host process
        arrives as a Ctrl+C console control event."""
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGINT)

    def wait(self, timeout=30.0):
        try:
            code = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            code = self.popen.wait()
            for t in self._threads:
                t.join(5)
            raise AssertionError(f"agent did not stop within {timeout} s; output so far:\n"
                                 f"{self.stdout()}\n{self.stderr()}")
        for t in self._threads:
            t.join(10)
        self._close_pipes()
        return Result(code, self.stdout(), self.stderr())

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
            self.popen.wait()
        for t in self._threads:
            t.join(5)
        self._close_pipes()

    def _close_pipes(self):
        for stream in (self.popen.stdout, self.popen.stderr):
            if stream and not stream.closed:
                stream.close()


class AgentEnv:
    """One test's private world: folders, registry, data folder, processes."""

    def __init__(self, name):
        root = BUILD_DIR / "test-tmp"
        root.mkdir(parents=True, exist_ok=True)
        self.root = Path(tempfile.mkdtemp(prefix=name + "-", dir=root))
        self.home = self.root / "home"
        self.home.mkdir()
        self.extra_env = {}
        self._registry = {}
        self._processes = []
        self._others = []   # helper processes (a stand-in Steam) stopped at close
        if IS_WIN:
            self.prefix = self.root / "wineprefix"
            _clone_prefix(_base_prefix(), self.prefix)
            # The first start of a fresh prefix now and then fails on a loaded
            # machine before the program runs; a second start works.
            for attempt in range(3):
                started = self.wine("cmd", "/c", "exit", check=False)
                if started.returncode == 0:
                    break
                time.sleep(1)
            else:
                raise AssertionError("Wine does not start in %s: %s" % (
                    self.prefix, started.stderr.decode("utf-8", "replace")[-2000:]))

    # ---- paths -------------------------------------------------------------

    def agent_path(self, path):
        """How the agent names a host path: Z:\\... under Wine."""
        path = Path(path)
        if IS_WIN:
            return "Z:" + str(path.resolve()).replace("/", "\\")
        return str(path)

    @property
    def data_dir(self):
        """The agent data folder (%LOCALAPPDATA%\\vantor)."""
        if IS_WIN:
            users = self.prefix / "drive_c" / "users"
            for user in sorted(users.iterdir()):
                local = user / "AppData" / "Local"
                if user.name != "Public" and local.exists():
                    return local / "vantor"
            raise AssertionError("no user profile in the Wine prefix")
        return self.home / ".local" / "share" / "vantor"

    @property
    def default_log_dir(self):
        return self.data_dir / "logs"

    # ---- environment and processes -----------------------------------------

    def environ(self):
        env = dict(os.environ)
        env.pop("XDG_DATA_HOME", None)
        env["HOME"] = str(self.home)
        env["LC_ALL"] = "C.UTF-8"
        if IS_WIN:
            env["WINEPREFIX"] = str(self.prefix)
            env["WINEDEBUG"] = "-all"
            env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
        env.update(self.extra_env)
        return env

    def command(self, args, program=None):
        program = program or AGENT
        if IS_WIN:
            return [str(WINE_RUN), str(self.prefix), program] + list(args)
        return [program] + list(args)

    def wine(self, *args, check=True):
        """Runs a Wine command (reg, cmd) in this test's prefix."""
        return subprocess.run([str(WINE_RUN), str(self.prefix)] + list(args),
                              env=self.environ(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=check)

    def run_agent(self, args, timeout=60, stdin=b"", program=None, cwd=None):
        """Runs the agent (or another program of the build) to its end."""
        proc = subprocess.run(self.command(args, program), env=self.environ(), input=stdin,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                              cwd=cwd or self.root)
        return Result(proc.returncode, proc.stdout.decode("utf-8", "replace"),
                      proc.stderr.decode("utf-8", "replace"))

    def start_agent(self, args, program=None, cwd=None):
        popen = subprocess.Popen(self.command(args, program), env=self.environ(),
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, cwd=cwd or self.root)
        process = AgentProcess(popen)
        self._processes.append(process)
        return process

    # ---- registry ----------------------------------------------------------

    def set_registry(self, key, name, value, kind="REG_SZ"):
        """A value under HKEY_CURRENT_USER\\key. Natively it goes into
        $HOME/.steam/registry.vdf, the Steam client's own registry."""
        if IS_WIN:
            self.wine("reg", "add", "HKCU\\" + key, "/v", name, "/t", kind, "/d", str(value), "/f")
            return
        node = self._registry.setdefault("Registry", {}).setdefault("HKCU", {})
        for part in key.split("\\"):
            node = node.setdefault(part, {})
        node[name] = str(value)
        self._write_registry_vdf()

    def delete_registry(self, key, name=None):
        if IS_WIN:
            args = ["reg", "delete", "HKCU\\" + key]
            args += ["/v", name] if name else []
            self.wine(*args, "/f", check=False)
            return
        node = self._registry.get("Registry", {}).get("HKCU", {})
        parts = key.split("\\")
        for part in parts[:-1]:
            node = node.get(part, {})
        if name is None:
            node.pop(parts[-1], None)
        else:
            node.get(parts[-1], {}).pop(name, None)
        self._write_registry_vdf()

    def _write_registry_vdf(self):
        path = self.home / ".steam" / "registry.vdf"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(vdf_text(self._registry) + "\n", encoding="utf-8")

    # ---- a Steam installation with CS2 -------------------------------------

    def make_steam(self, libraries=None, cs2_library=0, listed=None, steam_path=True,
                   client_dll="steamclient64.dll", console_log=None):
        """Builds a Steam folder and the registry values that point at it.

        libraries: extra library folder names under the test folder (the Steam
        folder itself is always searched last); cs2_library: index into
        [*libraries, steam root] of the library that holds the game folder, or
        None for no CS2; listed: indexes of libraries whose libraryfolders.vdf
        entry lists app 730 (default: the CS2 library); console_log: text of a
        console.log to create. Returns a dict of the paths.
        """
        steam = self.root / "steam"
        (steam / "steamapps").mkdir(parents=True, exist_ok=True)
        folders = [self.root / name for name in (libraries or [])] + [steam]
        listed = [cs2_library] if listed is None else listed
        entries = {}
        for i, folder in enumerate(folders):
            folder.mkdir(parents=True, exist_ok=True)
            apps = {"730": "35000000000"} if i in listed else {"228980": "400000"}
            entries[str(i)] = {"path": self.agent_path(folder), "label": "",
                               "contentid": "1234567890", "totalsize": "0", "apps": apps}
        (steam / "steamapps" / "libraryfolders.vdf").write_text(
            vdf_text({"libraryfolders": entries}) + "\n", encoding="utf-8")
        game_dir = None
        if cs2_library is not None:
            game_dir = folders[cs2_library] / CS2_RELATIVE
            (game_dir / "cfg").mkdir(parents=True, exist_ok=True)
            if console_log is not None:
                (game_dir / "console.log").write_bytes(
                    console_log.encode("utf-8") if isinstance(console_log, str) else console_log)
        if steam_path:
            # Steam writes this value with forward slashes.
            self.set_registry("Software\\Valve\\Steam", "SteamPath",
                              self.agent_path(steam).replace("\\", "/"))
        if client_dll:
            self.set_registry("Software\\Valve\\Steam\\ActiveProcess", "SteamClientDll64",
                              self.agent_path(self.root / client_dll)
                              if not os.path.isabs(client_dll) else self.agent_path(client_dll))
            if not IS_WIN:
                # The Linux client is running when steam.pid names a live "steam".
                write_steam_pid(self.home / ".steam", self.steam_process())
        return {
            "steam": steam,
            "libraries": folders,
            "game_dir": game_dir,
            "cfg_dir": game_dir / "cfg" if game_dir else None,
            "console_log": game_dir / "console.log" if game_dir else None,
        }

    # ---- a Linux Steam installation as the real client lays it out ----------

    def steam_process(self):
        """The pid of a live process named "steam" (sleep started through a
        link of that name), stopped with the test."""
        if getattr(self, "_steam_pid", None):
            return self._steam_pid
        link = self.root / "bin" / "steam"
        link.parent.mkdir(exist_ok=True)
        link.symlink_to(shutil.which("sleep"))
        popen = subprocess.Popen([str(link), "3600"], stdin=subprocess.DEVNULL)
        self._others.append(popen)
        self._steam_pid = popen.pid
        return popen.pid

    def make_linux_steam(self, layout, console_log=None, library=None, pid="live",
                         registry=None):
        """Natively: a Steam folder with CS2 where the real Linux client puts it,
        nothing in registry.vdf but what the client writes. layout: one of
        LINUX_LAYOUTS. library: the client library to install as
        ~/.steam/sdk64/steamclient.so (a link) or, for Flatpak and Snap, as
        <steam>/linux64/steamclient.so. pid: "live" (a process named steam),
        "dead", "other" (a live process of another name) or None, written to
        the layout's steam.pid. registry: None (no registry.vdf) or "real"
        (language, AutoLoginUser and HKLM SteamPID naming the live process).
        Returns make_steam's dict of paths plus "steam_pid"."""
        home = self.home
        user_folder = home / ".steam"   # links, steam.pid, sdk64
        if layout == "native":
            steam = home / ".local" / "share" / "Steam"
        elif layout == "debian":
            steam = home / ".steam" / "debian-installation"
        elif layout == "xdg":
            data = self.root / "xdg-data"
            self.extra_env["XDG_DATA_HOME"] = str(data)
            steam = data / "Steam"
        elif layout == "dangling":
            steam = home / ".local" / "share" / "Steam"
        elif layout == "flatpak":
            user_folder = home / ".var" / "app" / "com.valvesoftware.Steam" / ".steam"
            steam = user_folder.parent / ".local" / "share" / "Steam"
        elif layout == "snap":
            user_folder = home / "snap" / "steam" / "common" / ".steam"
            steam = user_folder.parent / ".local" / "share" / "Steam"
        else:
            raise ValueError(layout)
        (steam / "steamapps").mkdir(parents=True)
        user_folder.mkdir(parents=True, exist_ok=True)
        if layout in ("native", "debian", "flatpak"):
            for name in ("root", "steam"):
                (user_folder / name).symlink_to(steam)
        if layout == "dangling":
            (user_folder / "root").symlink_to(home / "removed-install")
        (steam / "steamapps" / "libraryfolders.vdf").write_text(vdf_text({"libraryfolders": {
            "0": {"path": str(steam), "label": "", "apps": {"730": "35000000000"}}}}) + "\n")
        game_dir = steam / CS2_RELATIVE
        (game_dir / "cfg").mkdir(parents=True)
        if console_log is not None:
            (game_dir / "console.log").write_text(console_log, encoding="utf-8")
        if library:
            if layout in ("flatpak", "snap"):
                (steam / "linux64").mkdir()
                shutil.copy2(library, steam / "linux64" / "steamclient.so")
            else:
                (home / ".steam" / "sdk64").mkdir(parents=True)
                (home / ".steam" / "sdk64" / "steamclient.so").symlink_to(library)
        steam_pid = {"live": self.steam_process, "dead": dead_pid, "other": os.getpid,
                     None: lambda: None}[pid]()
        if steam_pid is not None:
            write_steam_pid(user_folder, steam_pid)
        if registry == "real":
            live = self.steam_process()
            steam_pid = steam_pid or live
            path = home / ".steam" / "registry.vdf"
            path.write_text(vdf_text({"Registry": {
                "HKCU": {"Software": {"Valve": {"Steam": {
                    "language": "english", "AutoLoginUser": "player", "RememberPassword": "1",
                    "SourceModInstallPath": str(steam / "steamapps" / "sourcemods")}}}},
                "HKLM": {"Software": {"Valve": {"Steam": {
                    "SteamPID": str(live), "TempAppCmdLine": "", "ClientLauncherType": "0"}}}},
            }}) + "\n", encoding="utf-8")
        return {"steam": steam.resolve(), "game_dir": game_dir.resolve(),
                "cfg_dir": game_dir / "cfg", "console_log": game_dir / "console.log",
                "steam_pid": steam_pid}

    # ---- the event log -----------------------------------------------------

    def records(self, log_dir=None):
        """Every record of every agent-*.jsonl in the folder, in file order.
        Fails the test when a line is not one JSON object; a last line without
        its line feed is still being written and is left for the next read."""
        folder = Path(log_dir) if log_dir else self.default_log_dir
        records = []
        for path in sorted(folder.glob("agent-*.jsonl")):
            for line in path.read_bytes().split(b"\n")[:-1]:
                if not line:
                    continue
                record = json.loads(line.decode("utf-8"))
                if not isinstance(record, dict):
                    raise AssertionError(f"record is not an object: {line!r}")
                records.append(record)
        return records

    def events(self, name, log_dir=None):
        return [r for r in self.records(log_dir) if r.get("event") == name]

    def close(self):
        for process in self._processes:
            process.kill()
        for popen in self._others:
            popen.kill()
            popen.wait()
        if IS_WIN:
            subprocess.run(["wineserver", "-k"], env=self.environ(), check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if os.environ.get("VANTOR_KEEP_TEST_DIRS") != "1":
            shutil.rmtree(self.root, ignore_errors=True)


# Where the real Linux client may be installed (see make_linux_steam).
LINUX_LAYOUTS = ("native", "debian", "xdg", "dangling", "flatpak", "snap")


def write_steam_pid(folder, pid):
    """steam.pid as the Linux client writes it, in its user folder (~/.steam)."""
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "steam.pid").write_text("%d\n" % pid)


def dead_pid():
    """The process id of a process that has ended."""
    popen = subprocess.Popen(["true"])
    popen.wait()
    return popen.pid


def set_file_age(path, seconds):
    """Sets a file's last-write time to `seconds` ago."""
    stamp = time.time() - seconds
    os.utime(path, (stamp, stamp))


class AgentTestCase(unittest.TestCase):
    """A test case with a fresh AgentEnv per test as self.env."""

    def setUp(self):
        if not AGENT:
            self.skipTest("VANTOR_AGENT is not set (run through ctest)")
        self.env = AgentEnv(self.id().split(".")[-1][:40])
        self.addCleanup(self.env.close)


def main():
    unittest.main(verbosity=2)
