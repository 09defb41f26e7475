"""Shared set-up of the benchmarks that run the whole agent: the build to use,
a private world from the test harness (folders, registry, Wine prefix), the
fake Steam client behind the registry value, and per-process figures read from
/proc (the agent, or Wine's process of it, is an ordinary Linux process)."""

import json
import os
import socket
import sys
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]


def pick_build(argv, preset):
    """BUILD_DIR from the command line, else the usual folder for the preset."""
    if len(argv) > 1:
        return Path(argv[1]).resolve()
    names = ("native-release", "native") if preset == "native" else ("win64",)
    for name in names:
        build = SOURCE / "build" / name
        if agent_path(build, preset).exists():
            return build
    return SOURCE / "build" / names[0]


def agent_path(build, preset):
    return build / ("vantor-agent.exe" if preset == "win64" else "vantor-agent")


def load_harness(build, preset):
    """Imports the test harness for this build (it reads its settings from the
    environment when imported)."""
    os.environ["VANTOR_AGENT"] = str(agent_path(build, preset))
    os.environ["VANTOR_PRESET"] = preset
    os.environ["VANTOR_BUILD_DIR"] = str(build)
    os.environ["VANTOR_SOURCE_DIR"] = str(SOURCE)
    if preset == "win64":
        os.environ.setdefault("WINEPREFIX", str(build / "wineprefix"))
    sys.path.insert(0, str(SOURCE / "tests" / "support"))
    import harness
    return harness


def world(harness, name, console_log_text, token="bench0token00001"):
    """A Steam folder with CS2, the fake Steam client (a few co-play entries
    and 200 friends, so the 5 s and 30 s Steam ticks do real work), and an
    agent.json without API so nothing leaves the machine."""
    env = harness.AgentEnv(name)
    fake = harness.BUILD_DIR / "tools" / "fake_steamclient" / (
        "steamclient64.dll" if harness.IS_WIN else "steamclient.so")
    fixture = {
        "self": {"steamid": "76561198000000001", "persona": "bench"},
        "coplay": [{"steamid": str(76561198000000100 + i), "appid": 730,
                    "time": 1733500000 + i, "persona": "player %d" % i} for i in range(9)],
        "generate_friends": {"count": 200, "history": 4},
    }
    fixture_path = env.root / "fixture.json"
    fixture_path.write_text(json.dumps(fixture))
    env.extra_env["FAKE_STEAMCLIENT_FIXTURE"] = env.agent_path(fixture_path)
    paths = env.make_steam(client_dll=str(fake) if fake.exists() else "steamclient64.dll",
                           console_log=console_log_text)
    env.data_dir.mkdir(parents=True, exist_ok=True)
    (env.data_dir / "agent.json").write_text(
        json.dumps({"api_base_url": "", "gsi_token": token, "gsi_port": harness.free_port()}))
    return env, paths, fake.exists()


def cpu_seconds(pid):
    """CPU time of a process so far, summed over its threads in nanoseconds
    (schedstat) where the kernel offers it, else user plus system time in
    clock ticks."""
    try:
        total = 0
        for task in Path("/proc/%d/task" % pid).iterdir():
            total += int((task / "schedstat").read_text().split()[0])
        return total / 1e9
    except (OSError, ValueError, IndexError):
        fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return (int(fields[11]) + int(fields[12])) / ticks


def context_switches(pid):
    """Times the process's threads were switched out so far (voluntary and
    involuntary, summed over its threads): a sleeping thread is switched out
    once per wake-up, so over an idle window this counts wake-ups."""
    total = 0
    for task in Path("/proc/%d/task" % pid).iterdir():
        try:
            for line in (task / "status").read_text().splitlines():
                key, _, rest = line.partition(":")
                if key in ("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"):
                    total += int(rest)
        except OSError:
            pass   # the thread ended meanwhile
    return total


def memory_kb(pid):
    """(peak resident, current resident) in KiB."""
    values = {}
    for line in Path("/proc/%d/status" % pid).read_text().splitlines():
        key, _, rest = line.partition(":")
        if key in ("VmHWM", "VmRSS"):
            values[key] = int(rest.split()[0])
    return values.get("VmHWM", 0), values.get("VmRSS", 0)


def exchange(port, request, timeout=10.0):
    """Sends one request to 127.0.0.1:port and reads the reply until the
    server closes; None when the connection failed."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
            s.sendall(request)
            reply = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    return reply
                reply += chunk
    except OSError:
        return None


def write_result(build, name, result):
    out = build / "bench" / (name + ".json")
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_text(json.dumps(result, indent=2) + "\n")
    print("  wrote %s" % out)
