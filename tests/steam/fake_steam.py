"""The fake Steam client (tools/fake_steamclient) for end-to-end tests: a
fixture, the registry value pointing at the fake, and the calls it received.

    steam = fake_steam.install(self.env, {"coplay": [...]})
    result = self.env.run_agent(["--coplay-once", "--no-tray"])
    self.assertIn("RequestUserInformation 76561198000000102 1", fake_steam.calls(self.env))
"""

import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402


def library_path(with_export=True):
    folder = harness.BUILD_DIR / "tools" / "fake_steamclient"
    if not with_export:
        folder = folder / "noexport"
    return folder / ("steamclient64.dll" if harness.IS_WIN else "steamclient.so")


def use_fixture(env, fixture):
    fixture_path = env.root / "fake_steam_fixture.json"
    fixture_path.write_text(json.dumps(fixture), encoding="utf-8")
    env.extra_env["FAKE_STEAMCLIENT_FIXTURE"] = env.agent_path(fixture_path)
    env.extra_env["FAKE_STEAMCLIENT_CALLS"] = env.agent_path(env.root / "fake_steam_calls.txt")


def install(env, fixture, console_log="[CommandLine] cs2.exe -condebug +exec vantor\n",
            with_export=True):
    """A Steam folder with CS2 whose running client is the fake with this
    fixture. Returns make_steam's dict of paths."""
    use_fixture(env, fixture)
    return env.make_steam(client_dll=str(library_path(with_export)), console_log=console_log)


def install_linux(env, fixture, layout="native",
                  console_log="[CommandLine] ./cs2 -condebug +exec vantor\n", **kwargs):
    """Natively: Steam laid out as the real Linux client does (see
    harness.make_linux_steam), running the fake with this fixture."""
    use_fixture(env, fixture)
    return env.make_linux_steam(layout, console_log=console_log, library=library_path(), **kwargs)


def calls(env):
    """The calls the fake received, one string per call, in order."""
    path = env.root / "fake_steam_calls.txt"
    if not path.exists():
        return []
    return path.read_text(encoding="utf-8").splitlines()


def count_calls(env, prefix):
    return sum(1 for line in calls(env) if line.startswith(prefix))
