#!/usr/bin/env python3
"""Plays one simulated CS2 match against the real, built agent and shows what
it does: a fake CS2 (console.log lines and GSI POSTs, tools/fake_cs2.py), the
fake Steam client (tools/fake_steamclient) where the real one would be loaded
from (the registry value on Windows, ~/.steam/sdk64 on Linux), and
the loopback room service (tools/room_server.py). Ends with the room link on
the agent's console and in rooms.json. Started by tools/demo.

    python3 tools/demo_match.py [--preset native|win64] [--build-dir DIR]
"""

import argparse
import json
import os
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]


def show_page(url):
    """Opens the room page when a browser and a person are there, and keeps
    the service up until Enter."""
    import webbrowser
    graphical = os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")
    if not (graphical and sys.stdin.isatty()):
        return
    try:
        webbrowser.get()
    except webbrowser.Error:
        return
    webbrowser.open(url)
    input("the room page is open in your browser; press Enter to stop the room service ")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preset", choices=["native", "win64"], default="native")
    parser.add_argument("--build-dir")
    args = parser.parse_args()
    build = Path(args.build_dir or ROOT / "build" / args.preset).resolve()
    agent = build / ("vantor-agent.exe" if args.preset == "win64" else "vantor-agent")
    if not agent.exists():
        print("demo: %s is not built (run tools/demo)" % agent, file=sys.stderr)
        return 1
    os.environ.update({"VANTOR_AGENT": str(agent), "VANTOR_PRESET": args.preset,
                       "VANTOR_BUILD_DIR": str(build), "VANTOR_SOURCE_DIR": str(ROOT)})
    if args.preset == "win64":
        os.environ.setdefault("WINEPREFIX", str(build / "wineprefix"))
    # The demo sees only what the agent itself prints.
    os.environ["ASAN_OPTIONS"] = "detect_leaks=0"
    for folder in ("tests/support", "tests/steam", "tests/service", "tools"):
        sys.path.insert(0, str(ROOT / folder))
    import fake_cs2
    import fake_steam
    import harness
    from service_support import RoomsService

    env = harness.AgentEnv("demo")
    server = None
    shown = [0]

    def show_agent(process):
        text = process.stdout()
        for line in text[shown[0]:].splitlines(keepends=True):
            if line.endswith("\n"):
                print("    agent | " + line, end="", flush=True)
                shown[0] += len(line)

    def step(text):
        print("\n== " + text, flush=True)

    try:
        players = fake_cs2.demo_players(10, first=76561198000000001)
        now = int(time.time())
        fixture = {"self": {"steamid": str(players[0][0]), "persona": players[0][1]},
                   "coplay": [{"steamid": str(s), "appid": 730, "time": now - 120, "persona": n}
                              for s, n in players[1:]]}
        if harness.IS_WIN:
            paths = fake_steam.install(env, fixture)
        else:
            # Laid out as the real Linux client does: ~/.local/share/Steam with
            # its ~/.steam links, steam.pid and the sdk64 library link.
            paths = fake_steam.install_linux(env, fixture)

        server = RoomsService(env.root / "rooms", public_url=None)
        api = server.base

        step("vantor-rooms, the room service, runs on loopback at %s with its database in %s"
             % (api, server.db))
        step("vantor-agent starts beside Steam (a fake client with you and 9 people you just "
             "played with) and reports rooms to it")
        gsi_port = harness.free_port()
        process = env.start_agent(["--no-tray", "--api-base", api, "--gsi-port", str(gsi_port)])
        if not process.wait_for_output("watching -- press Ctrl+C to stop.", 60):
            show_agent(process)
            raise RuntimeError("the agent did not start")
        show_agent(process)

        cs2 = fake_cs2.FakeCs2(paths["cfg_dir"], paths["console_log"], players)
        if not cs2.wait_for_cfg(10):
            raise RuntimeError("the agent wrote no GSI cfg")

        def play(text, action, settle=1.2):
            step(text)
            action()
            end = time.monotonic() + settle
            while time.monotonic() < end:
                show_agent(process)
                time.sleep(0.1)

        play("CS2 (fake) starts, in the main menu: GSI POSTs with the agent's token", cs2.gsi_menu)
        play("you queue and land on de_mirage, warmup", lambda: cs2.gsi_map("de_mirage", "warmup"))
        play("you type  exec vantor  while only 7 of 10 are connected",
             lambda: cs2.exec_vantor(players=players[:7]), 2.0)
        play("everyone is in; the scoreboard prints a full status block", cs2.status, 0.5)
        deadline = time.monotonic() + 20
        while not env.events("room_delivered") and time.monotonic() < deadline:
            show_agent(process)
            time.sleep(0.1)
        show_agent(process)
        play("the match goes live", lambda: cs2.gsi_map("de_mirage", "live", 1))
        play("later you type  vantor  in the console to get the link again", cs2.type_vantor)

        step("Ctrl+C")
        process.interrupt()
        process.wait(30)
        show_agent(process)

        rooms_file = env.data_dir / "rooms.json"
        delivered = env.events("room_delivered")
        step("result")
        if not delivered or not rooms_file.exists():
            print("no room was delivered -- see the agent's output above", flush=True)
            return 1
        print("room link handed to the player: " + delivered[0]["url"])
        print("rooms.json (%s):" % rooms_file)
        print(rooms_file.read_text(encoding="utf-8"))
        print("event log: " + ", ".join(str(p) for p in sorted(env.default_log_dir.glob("*.jsonl"))))
        page = delivered[0]["url"]
        status, room = server.client().get_json("/v1/rooms/" + page.rsplit("/", 1)[1])
        print("\nroom page: %s  (%s of %s here: you; the other nine have no agent in this demo)"
              % (page, room["here"], room["size"]))
        show_page(page)
        return 0
    finally:
        if server:
            server.stop()
        # Keep the demo's files for a look afterwards.
        os.environ["VANTOR_KEEP_TEST_DIRS"] = "1"
        env.close()
        print("demo files: " + str(env.root))


if __name__ == "__main__":
    sys.exit(main())
