"""Runs the built agent natively or under Wine, each in a world of its own
(`AgentEnv`: a folder, a home or a Wine prefix); an `Agent` is one player:

    agent = harness.Agent(self, api=room_server).start()
    agent.cs2.gsi_map("de_mirage"); agent.wait("match_started")
    agent.cs2.exec_vantor(); agent.wait("room_delivered")
    agent.stop()                       # Ctrl+C: exit 0, "stopping", "stopped"
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
from pathlib import Path
from types import SimpleNamespace

AGENT = os.environ.get("VANTOR_AGENT", "")
BUILD_DIR = Path(os.environ.get("VANTOR_BUILD_DIR", "."))
SOURCE_DIR = Path(os.environ.get("VANTOR_SOURCE_DIR", Path(__file__).resolve().parents[2]))
WINE_RUN = SOURCE_DIR / "tools" / "wine-run"
IS_WIN = os.environ.get("VANTOR_PRESET") == "win64"
CS2_RELATIVE = Path("steamapps/common/Counter-Strike Global Offensive/game/csgo")
COMMAND_LINE = "[CommandLine] cs2.exe -condebug +exec vantor\n"

sys.path.insert(0, str(SOURCE_DIR / "tools"))
import fake_cs2  # noqa: E402

PLAYERS = fake_cs2.demo_players(10, first=76561198000000001)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class RoomServer:
    """tools/room_server.py on a free loopback port, playing `steps` first."""

    def __init__(self, folder=None, steps=(), lifetime=600):
        self.popen = subprocess.Popen([sys.executable, str(SOURCE_DIR / "tools" / "room_server.py"), "--lifetime",
                                       str(lifetime)] + [a for step in steps for a in ("--step", step)],
                                      stdout=subprocess.PIPE)
        self.port = int(self.popen.stdout.readline().rsplit(b":", 1)[1])   # "... listening on 127.0.0.1:PORT"
        self.base = "http://127.0.0.1:%d" % self.port

    def get(self, path):
        with urllib.request.urlopen(self.base + path, timeout=10) as answer:
            return json.loads(answer.read())

    def posts(self):
        return [json.loads(r["body"]) for r in self.get("/_requests") if r["path"].endswith("/v1/matches")]

    def stop(self):
        if self.popen.poll() is None:
            self.popen.terminate()
        self.popen.wait(10)
        self.popen.stdout.close()


def vdf_text(tree, pad=""):
    """KeyValues text for a nested dict of strings."""
    out = []
    for key, value in tree.items():
        if isinstance(value, dict):
            out += [f'{pad}"{key}"', pad + "{", vdf_text(value, pad + "\t"), pad + "}"]
        else:
            out.append(f'{pad}"{key}"\t\t"{value}"'.replace("\\", "\\\\"))
    return "\n".join(line for line in out if line)


class AgentProcess:
    """A running agent; its output goes to files beside it."""

    def __init__(self, command, out, **how):
        self.files = out.with_suffix(".out"), out.with_suffix(".err")
        with open(self.files[0], "wb") as stdout, open(self.files[1], "wb") as stderr:
            self.popen = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr, **how)

    def stdout(self):
        return self.files[0].read_bytes().decode("utf-8", "replace")

    def stderr(self):
        return self.files[1].read_bytes().decode("utf-8", "replace")

    def wait_for_output(self, text, timeout=30.0):
        end = time.monotonic() + timeout
        while text not in self.stdout() and self.popen.poll() is None and time.monotonic() < end:
            time.sleep(0.05)
        return text in self.stdout()

    def interrupt(self):
        """Ctrl+C: SIGINT natively; under Wine it arrives as a console control event."""
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGINT)

    def wait(self, timeout=30.0):
        try:
            code = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.popen.kill()
            raise AssertionError(f"agent did not stop within {timeout} s:\n{self.stdout()}\n{self.stderr()}")
        return SimpleNamespace(code=code, out=self.stdout(), err=self.stderr())

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
        self.popen.wait()


class AgentEnv:
    """One private world: folders, registry, data folder, processes."""

    def __init__(self, name):
        (BUILD_DIR / "test-tmp").mkdir(parents=True, exist_ok=True)
        self.root = Path(tempfile.mkdtemp(prefix=name[:40] + "-", dir=BUILD_DIR / "test-tmp"))
        self.home = self.root / "home"
        self.home.mkdir()
        self.extra_env, self._registry, self._processes = {}, {}, []
        if IS_WIN:
            self.prefix = self.root / "wineprefix"
            base = Path(os.environ.get("WINEPREFIX", BUILD_DIR / "wineprefix"))
            if not (base / "system.reg").exists():
                subprocess.run([str(WINE_RUN), str(base), "cmd", "/c", "exit"], capture_output=True)
            # Hard links for the system files, copies of what Wine or the agent writes.
            subprocess.run(["cp", "-al", str(base), str(self.prefix)], check=True)
            for reg in self.prefix.glob("*.reg"):
                reg.unlink()
                shutil.copy2(base / reg.name, reg)
            for local in (self.prefix / "drive_c" / "users").glob("*/AppData/Local"):
                shutil.copytree(local, local.with_name("Local.tmp"))
                shutil.rmtree(local)
                local.with_name("Local.tmp").rename(local)
            # A fresh prefix now and then fails its first start on a loaded
            # machine before the program runs; a second start works.
            for _ in range(3):
                started = self.wine("cmd", "/c", "exit", check=False)
                if started.returncode == 0:
                    break
                time.sleep(1)
            assert started.returncode == 0, "Wine does not start: " + started.stderr.decode("utf-8", "replace")

    def agent_path(self, path):
        """How the agent names a host path: Z:\\... under Wine."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\") if IS_WIN else str(path)

    @property
    def data_dir(self):
        """%LOCALAPPDATA%\\vantor, or $XDG_DATA_HOME/vantor."""
        if IS_WIN:
            return next(u for u in sorted((self.prefix / "drive_c" / "users").glob("*/AppData/Local"))
                        if u.parts[-3] != "Public") / "vantor"
        return Path(self.extra_env.get("XDG_DATA_HOME", self.home / ".local" / "share")) / "vantor"

    @property
    def default_log_dir(self):
        return self.data_dir / "logs"

    def environ(self):
        env = dict(os.environ, HOME=str(self.home), LC_ALL="C.UTF-8", XDG_DATA_HOME=None)
        if IS_WIN:
            env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        env.update(self.extra_env)
        return {k: v for k, v in env.items() if v is not None}

    def command(self, args, program=None):
        return ([str(WINE_RUN), str(self.prefix)] if IS_WIN else []) + [program or AGENT] + list(args)

    def wine(self, *args, check=True):
        return subprocess.run([str(WINE_RUN), str(self.prefix)] + list(args), env=self.environ(),
                              stdin=subprocess.DEVNULL, capture_output=True, check=check)

    def run_agent(self, args, timeout=120, program=None):
        """Runs the agent (or another program of the build) to its end."""
        proc = subprocess.run(self.command(args, program), env=self.environ(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout, cwd=self.root)
        return SimpleNamespace(code=proc.returncode, out=proc.stdout.decode("utf-8", "replace"),
                               err=proc.stderr.decode("utf-8", "replace"))

    def start_agent(self, args, program=None):
        self._processes.append(AgentProcess(self.command(args, program),
                                            self.root / ("process%d" % len(self._processes)),
                                            env=self.environ(), cwd=self.root))
        return self._processes[-1]

    def set_registry(self, name, value):
        """A value under HKCU\\Software\\Valve\\Steam; natively in ~/.steam/registry.vdf, the client's own."""
        key, _, name = ("Software\\Valve\\Steam\\" + name).rpartition("\\")
        if IS_WIN:
            return self.wine("reg", "add", "HKCU\\" + key, "/v", name, "/d", value, "/f")
        node = self._registry
        for part in key.split("\\"):
            node = node.setdefault(part, {})
        node[name] = value
        (self.home / ".steam").mkdir(exist_ok=True)
        (self.home / ".steam" / "registry.vdf").write_text(vdf_text({"Registry": {"HKCU": self._registry}}))

    def make_steam(self, libraries=(), cs2=True, client_dll="steamclient64.dll", console_log=None):
        """Steam, CS2 in (and listed by) the last of `libraries` or Steam's own
        folder, and the registry values of a running client loading `client_dll`."""
        steam = self.root / "steam"
        folders = [self.root / name for name in libraries] + [steam]
        game = folders[-2 if libraries else -1] if cs2 else None
        entries = {str(i): {"path": self.agent_path(f), "label": "",
                            "apps": {"730" if f == game else "228980": "1"}} for i, f in enumerate(folders)}
        (steam / "steamapps").mkdir(parents=True)
        (steam / "steamapps" / "libraryfolders.vdf").write_text(vdf_text({"libraryfolders": entries}))
        self.set_registry("SteamPath", self.agent_path(steam).replace("\\", "/"))   # as Steam writes it
        if client_dll:
            self.set_registry("ActiveProcess\\SteamClientDll64", self.agent_path(self.root / client_dll))
            if not IS_WIN:   # the Linux client is running when steam.pid names a live "steam"
                (self.home / ".steam" / "steam.pid").write_text("%d\n" % self.steam_process())
        return self._cs2_paths(steam, game, console_log)

    def _cs2_paths(self, steam, game, console_log):
        game_dir = game / CS2_RELATIVE if game else None
        if game_dir:
            (game_dir / "cfg").mkdir(parents=True)
            if console_log is not None:
                (game_dir / "console.log").write_text(console_log, encoding="utf-8")
        return {"steam": steam, "game_dir": game_dir, "cfg_dir": game_dir and game_dir / "cfg",
                "console_log": game_dir and game_dir / "console.log"}

    def steam_process(self):
        """The pid of a live process named "steam" (sleep through a link of that name)."""
        if not getattr(self, "_steam", None):
            link = self.root / "bin" / "steam"
            link.parent.mkdir(exist_ok=True)
            link.symlink_to(shutil.which("sleep"))
            self._steam = self.start_agent(["3600"], program=str(link))
        return self._steam.popen.pid

    def make_linux_steam(self, layout, console_log=None, library=None, pid="live"):
        """Steam with CS2 and `library` where a Linux client of this layout puts
        them; steam.pid names a "live" steam, a "dead" process or an "other" program."""
        user = self.home / ".steam"   # links, steam.pid, sdk64
        steam = {"native": self.home / ".local/share/Steam", "dangling": self.home / ".local/share/Steam",
                 "debian": user / "debian-installation", "xdg": self.root / "xdg-data/Steam"}.get(layout)
        if layout in ("flatpak", "snap"):
            user = self.home / {"flatpak": ".var/app/com.valvesoftware.Steam", "snap": "snap/steam/common"}[layout]
            user, steam = user / ".steam", user / ".local/share/Steam"
        if layout == "xdg":
            self.extra_env["XDG_DATA_HOME"] = str(steam.parent)
        user.mkdir(parents=True, exist_ok=True)
        for name in ("root", "steam") if layout in ("native", "debian", "flatpak") else ():
            (user / name).symlink_to(steam)
        if layout == "dangling":
            (user / "root").symlink_to(self.home / "removed-install")
        (steam / "steamapps").mkdir(parents=True)
        (steam / "steamapps" / "libraryfolders.vdf").write_text(vdf_text(
            {"libraryfolders": {"0": {"path": str(steam), "apps": {"730": "1"}}}}))
        if library and layout in ("flatpak", "snap"):
            (steam / "linux64").mkdir()
            shutil.copy2(library, steam / "linux64" / "steamclient.so")
        elif library:
            (self.home / ".steam" / "sdk64").mkdir(parents=True)
            (self.home / ".steam" / "sdk64" / "steamclient.so").symlink_to(library)
        if pid:
            number = {"live": self.steam_process, "other": os.getpid,
                      "dead": lambda: (ended := subprocess.Popen(["true"])).wait() or ended.pid}[pid]()
            (user / "steam.pid").write_text("%d\n" % number)
        return self._cs2_paths(steam.resolve(), steam.resolve(), console_log)

    def records(self, log_dir=None):
        """Every record of the agent-*.jsonl files, each one JSON object; a last
        line without its line feed is still being written."""
        records = [json.loads(line) for path in sorted(Path(log_dir or self.default_log_dir).glob("agent-*.jsonl"))
                   for line in path.read_bytes().split(b"\n")[:-1] if line]
        assert all(isinstance(r, dict) for r in records), records
        return records

    def events(self, name, log_dir=None):
        return [r for r in self.records(log_dir) if r["event"] == name]

    def close(self):
        for process in self._processes:
            process.kill()
        if IS_WIN:
            subprocess.run(["wineserver", "-k"], env=self.environ(), capture_output=True)
        if os.environ.get("VANTOR_KEEP_TEST_DIRS") != "1":
            shutil.rmtree(self.root, ignore_errors=True)


def install_fake_steam(env, fixture, layout=None, console_log=COMMAND_LINE, **world):
    """Steam with CS2 whose running client is tools/fake_steamclient with this fixture."""
    library = BUILD_DIR / "tools" / "fake_steamclient" / ("steamclient64.dll" if IS_WIN else "steamclient.so")
    (env.root / "fake_steam_fixture.json").write_text(json.dumps(fixture), encoding="utf-8")
    env.extra_env["FAKE_STEAMCLIENT_FIXTURE"] = env.agent_path(env.root / "fake_steam_fixture.json")
    env.extra_env["FAKE_STEAMCLIENT_CALLS"] = env.agent_path(env.root / "fake_steam_calls.txt")
    if layout:
        return env.make_linux_steam(layout, console_log, library, **world)
    return env.make_steam(**dict(dict(client_dll=str(library)), console_log=console_log, **world))


class Agent(AgentEnv):
    """One player in a world of its own: agent.json; Steam with the fake client
    knowing `me` and everyone in `known` from co-play (or `steam`, a fixture of
    its own; None: nothing installed; `world`: see make_steam); the CS2 folder
    with a console.log; a fake CS2 (`cs2`) finding the agent through its GSI cfg."""

    def __init__(self, test, me=PLAYERS[0], known=PLAYERS, api=None, steam=True, gsi_cfg=False, **world):
        super().__init__(test.id().split(".")[-1])
        self.test, self.port, self.process, self.console_log, self.tray = test, free_port(), None, None, False
        self.paths = {}
        test.addCleanup(self.close)
        self.settings = {"api_base_url": api.base if api else "", "gsi_token": "feedc0ffee123456"}
        if not steam:
            return
        self.data_dir.mkdir(parents=True)
        (self.data_dir / "agent.json").write_text(json.dumps(self.settings))
        self.paths = install_fake_steam(self, steam if isinstance(steam, dict) else {
            "self": {"steamid": str(me[0]), "persona": me[1]},
            "coplay": [{"steamid": str(s), "appid": 730, "time": int(time.time()) - 60, "persona": n}
                       for s, n in known if s != me[0]]}, **world)
        if not self.paths["game_dir"]:
            return
        self.console_log = self.agent_path(self.paths["console_log"])
        self.cs2 = fake_cs2.FakeCs2(self.paths["cfg_dir"], self.paths["console_log"],
                                    [me] + [p for p in PLAYERS if p != me])
        if gsi_cfg:   # left by an earlier run; CS2 keeps using it
            (self.paths["cfg_dir"] / fake_cs2.GSI_CFG).write_text('"vantor" { "uri" "http://127.0.0.1:%d/" '
                                                                   '"auth" { "token" "feedc0ffee123456" } }' % self.port)
        if not IS_WIN:   # a clipboard: a stand-in xclip on PATH
            xclip = self.root / "bin" / "xclip"
            xclip.parent.mkdir(exist_ok=True)
            xclip.write_text('#!/bin/sh\ncat > "%s"\n' % (self.root / "clipboard.txt"))
            xclip.chmod(0o755)
            self.extra_env.update(PATH=f"{xclip.parent}{os.pathsep}{os.environ['PATH']}",
                                  DISPLAY=":77", WAYLAND_DISPLAY=None)

    def with_display(self):
        """A virtual X server (Xvfb) for the tray's window under Wine."""
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        self.test.addCleanup(xvfb.stdout.close)
        self.test.addCleanup(xvfb.wait)
        self.test.addCleanup(xvfb.kill)
        self.extra_env["DISPLAY"] = ":" + xvfb.stdout.readline().decode().strip()
        return self

    def args(self, *extra):
        return (["--gsi-port", str(self.port)] + ["--no-tray"] * (not self.tray)
                + ["--console-log", self.console_log] * bool(self.console_log) + list(extra))

    def run(self, *extra, bare=False):
        """Runs the agent to its end (bare: with only these arguments, output as it came)."""
        result = self.run_agent(list(extra) if bare else self.args(*extra))
        if not bare:
            result.out, result.err = (text.replace("\r\n", "\n") for text in (result.out, result.err))
        return result

    def start(self, *extra):
        """Starts the agent and waits until it watches."""
        self.process = self.start_agent(self.args(*extra))
        self.test.assertTrue(self.process.wait_for_output("watching -- press Ctrl+C to stop.", 60), self.output())
        return self

    def output(self):
        return self.process.stdout() + self.process.stderr() if self.process else ""

    def wait(self, name, count=1, timeout=20.0, **fields):
        """The `name` records once there are `count` of them with these fields."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            hits = [e for e in self.events(name) if fields.items() <= e.items()]
            if len(hits) >= count:
                return hits
            time.sleep(0.05)
        raise AssertionError(f"no {count} x {name} {fields} within {timeout} s\n{self.output()}")

    def gsi(self, payload, token="feedc0ffee123456"):
        """One GSI POST (a dict with this token, or raw text); the listener must say 200."""
        if isinstance(payload, dict):
            payload = json.dumps(dict(payload, auth={"token": token}))
        request = urllib.request.Request("http://127.0.0.1:%d/" % self.port, payload.encode(),
                                         {"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as answer:
            self.test.assertEqual(answer.status, 200)

    def stop(self, within=3.0):
        """Ctrl+C: the agent stops at once and cleanly."""
        began = time.monotonic()
        self.process.interrupt()
        result = self.process.wait(30)
        self.test.assertLess(time.monotonic() - began, within)
        self.test.assertEqual((result.code, result.out.splitlines()[-1]), (0, "stopping"), result)
        self.test.assertEqual(self.records()[-1]["event"], "stopped")
        return result

    def file(self, name):
        """A JSON file of the data folder, a cfg's text (None if missing) or the clipboard's."""
        path = self.data_dir / name if name.endswith(".json") else self.paths["cfg_dir"] / name
        path = self.root / "clipboard.txt" if name == "clipboard" else path
        text = path.read_text(encoding="utf-8") if path.exists() else None
        return json.loads(text) if name.endswith(".json") else text


def main():
    unittest.main(verbosity=2)
