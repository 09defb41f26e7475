#!/usr/bin/env python3
"""Ten agents, one room: plays simulated CS2 matches against the real, built
agent, one agent per player, and measures how often they agree. Started by
tools/simulate (and tools/demo --ten).

Every agent of a match has its own data folder, home (or Wine prefix), GSI
port and event log, its own fake CS2 (tools/fake_cs2.py: that player's
console.log with its own `source : slot` line, that player's GSI view) and its
own fake Steam client (tools/fake_steamclient: that player's friends, co-play
list and names); one loopback room server (tools/room_server.py) serves the
match. The matches come from the seeded generator of tools/sim_match.py.

    python3 tools/simulate.py [--matches N] [--seed S] [--match N] [--agents K]
        [--preset native|win64] [--build-dir DIR] [--json FILE] [--links] [--keep]
        [--rate NAME=P]...

Exit status 1 when some agent reported a wrong roster (a SteamID64 that is not
one of the match's players) or a match without bots or duplicate names ended
in more than one room.
"""

import argparse
import datetime
import json
import os
import shutil
import statistics
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
START_WAIT = 60.0       # seconds an agent may take to start watching
STARTING_AT_ONCE = 2    # agents started together: the machine has two cores


def load_modules(preset, build):
    agent = build / ("vantor-agent.exe" if preset == "win64" else "vantor-agent")
    if not agent.exists():
        raise SystemExit("simulate: %s is not built (run tools/simulate)" % agent)
    os.environ.update({"VANTOR_AGENT": str(agent), "VANTOR_PRESET": preset,
                       "VANTOR_BUILD_DIR": str(build), "VANTOR_SOURCE_DIR": str(ROOT)})
    if preset == "win64":
        os.environ.setdefault("WINEPREFIX", str(build / "wineprefix"))
    os.environ["ASAN_OPTIONS"] = "detect_leaks=0"
    for folder in ("tests/support", "tests/steam", "tools"):
        sys.path.insert(0, str(ROOT / folder))
    global fake_cs2, fake_steam, harness, sim_match
    import fake_cs2
    import fake_steam
    import harness
    import sim_match


def ts_seconds(record):
    """The wall-clock time of an event record."""
    stamp = datetime.datetime.strptime(record["ts"], "%Y-%m-%dT%H:%M:%S.%fZ")
    return stamp.replace(tzinfo=datetime.timezone.utc).timestamp()


class Seat:
    """One player running the agent: environment, process and fake CS2."""

    def __init__(self, match, index, api):
        self.index = index
        self.player = match["players"][index]
        self.env = harness.AgentEnv("sim%d-%d" % (match["index"], self.player["slot"]))
        self.api = api
        self.process = None
        self.cs2 = None
        self.view = match["views"][index]

    def install(self, epoch):
        fixture = json.loads(json.dumps(self.view))
        for entry in fixture["coplay"]:
            entry["time"] = int(epoch) + entry.pop("time_offset")
        self.paths = fake_steam.install(self.env, fixture)

    def start(self):
        self.port = harness.free_port()
        self.process = self.env.start_agent(["--no-tray", "--api-base", self.api,
                                             "--gsi-port", str(self.port)])

    def ready(self, reservation):
        if not self.process.wait_for_output("watching -- press Ctrl+C to stop.", START_WAIT):
            return False
        self.cs2 = fake_cs2.FakeCs2(self.paths["cfg_dir"], self.paths["console_log"],
                                    [(self.player["steamid"], self.player["name"])], reservation)
        return self.cs2.wait_for_cfg(10)

    def records(self):
        try:
            return self.env.records()
        except (OSError, ValueError):
            return []


def start_seats(seats, reservation):
    """Starts every agent, at most STARTING_AT_ONCE at a time, and waits until
    all of them watch; all of them then run side by side."""
    gate = threading.Semaphore(STARTING_AT_ONCE)
    failed = []

    def one(seat):
        with gate:
            seat.start()
            if not seat.ready(reservation):
                failed.append(seat)

    threads = [threading.Thread(target=one, args=(s,)) for s in seats]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return failed


def play_step(match, seats, step, t):
    _, who, action, arg = step
    seat = seats.get(who)
    if seat is None:
        return
    cs2 = seat.cs2
    if action == "menu":
        cs2.gsi_menu()
    elif action == "map":
        cs2.gsi_map("de_mirage", "warmup")
        cs2.post()  # the next payload names the player in the new match
    elif action in ("exec", "status"):
        block = fake_cs2.status_block_lines(sim_match.status_rows(match, t), match["reservation"],
                                            seat.player["slot"])
        cs2.write_lines((["execing vantor"] if action == "exec" else []) + block)
    elif action == "watch":
        if not sim_match.present(seat.player, t):
            return   # a player who has left watches nobody
        if arg == "bot":
            bot = match["bot"]
            watched = (bot["steamid"], bot["name"], bot["team"], bot["slot"])
        else:
            p = match["players"][arg]
            if not sim_match.present(p, t):
                return
            watched = (p["steamid"], sim_match.name_in_game(p, t), p["team"], p["slot"])
        cs2.post(cs2.spectating(*watched))
        cs2.post()  # alive again, or the round moved on: the player's own view


def all_rooms_created(seats):
    return all(any(r.get("event") == "room_created" for r in s.records()) for s in seats.values())


def run_match(match, options):
    """Plays one match; returns its result (see match_result)."""
    (harness.BUILD_DIR / "test-tmp").mkdir(parents=True, exist_ok=True)
    folder = Path(tempfile.mkdtemp(prefix="sim%d-server-" % match["index"],
                                   dir=harness.BUILD_DIR / "test-tmp"))
    # The real room service; the double only where the match scripts what a
    # real service never does on purpose (503s, slow answers).
    if match["api_script"]:
        server = harness.RoomServer(folder, steps=match["api_script"], lifetime=600)
    else:
        sys.path.insert(0, str(ROOT / "tests" / "service"))
        from service_support import RoomsService
        server = RoomsService(folder, public_url=None, extra=["--post-rate", "0"])
    seats = {}
    try:
        epoch = time.time()
        for index in match["agents"]:
            seats[index] = Seat(match, index, server.base)
            seats[index].install(epoch)
        failed = start_seats(list(seats.values()), match["reservation"])
        if failed:
            raise RuntimeError("agents did not start: %s" % [s.player["slot"] for s in failed])
        t0 = time.monotonic()
        wall0 = time.time()
        steps = list(match["steps"])
        while True:
            now = time.monotonic() - t0
            while steps and steps[0][0] <= now:
                play_step(match, seats, steps.pop(0), now)
            if now >= match["end"]:
                break
            if now > match["last_arrival"] + 1.0 and int(now * 2) % 2 == 0 and all_rooms_created(seats):
                break
            time.sleep(min(0.1, max(0.0, (steps[0][0] if steps else match["end"]) - now)))
        for seat in seats.values():
            seat.process.interrupt()
        for seat in seats.values():
            try:
                seat.process.wait(30)
            except AssertionError:
                pass
        rooms = server.get("/_rooms")
        return match_result(match, seats, rooms, wall0)
    finally:
        server.stop()
        if not options.keep:
            shutil.rmtree(folder, ignore_errors=True)
        if options.keep:
            os.environ["VANTOR_KEEP_TEST_DIRS"] = "1"
        for seat in seats.values():
            seat.env.close()


def normalised_reason(text):
    """A blocked-by text with the names taken out, so that reasons count
    together across matches."""
    out, inside = [], False
    for part in text.split("'"):
        out.append("…" if inside else part)
        inside = not inside
    return "'".join(out)


def match_result(match, seats, rooms, wall0):
    humans = sim_match.humans_of(match)
    agents = []
    for index, seat in sorted(seats.items()):
        records = seat.records()
        complete = [r for r in records if r.get("event") == "roster_complete"]
        created = [r for r in records if r.get("event") == "room_created"]
        progress = [r for r in records if r.get("event") == "roster_progress"]
        agent = {"slot": seat.player["slot"], "steamid": str(seat.player["steamid"]),
                 "name": seat.player["name"], "room_keys": [r["room_key"] for r in complete],
                 "url": created[-1]["url"] if created else "", "wrong": [], "blocked_by": "",
                 "seconds_to_room": None}
        for r in complete:
            agent["wrong"] += [s for s in r["steamids"] if int(s) not in humans]
        if created:
            agent["seconds_to_room"] = round(
                ts_seconds(created[0]) - (wall0 + match["last_arrival"]), 2)
        if not complete:
            agent["blocked_by"] = progress[-1]["blocked_by"] if progress else "no roster assembled"
        agents.append(agent)
    keys = {a["room_keys"][-1] for a in agents if a["room_keys"]}
    return {"seed": match["seed"], "match": match["index"], "kind": match["kind"],
            "situations": match["situations"], "agents": agents,
            "completed": sum(1 for a in agents if a["room_keys"]),
            "room_keys": sorted(keys), "agree": len(keys) <= 1,
            "wrong_roster": any(a["wrong"] for a in agents),
            "rooms_at_server": len(rooms)}


# ---- figures ------------------------------------------------------------------

def percent(part, whole):
    return "%.1f %%" % (100.0 * part / whole) if whole else "-"


def quantile(values, q):
    if not values:
        return None
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


def figures(results):
    out = {"matches": len(results), "by_kind": {}, "blocked_by": {}, "findings": []}
    for kind in ("clean", "bot", "duplicate name"):
        group = [r for r in results if r["kind"] == kind]
        if not group:
            continue
        with_room = [r for r in group if r["completed"]]
        delays = [a["seconds_to_room"] for r in group for a in r["agents"]
                  if a["seconds_to_room"] is not None]
        agents = [a for r in group for a in r["agents"]]
        out["by_kind"][kind] = {
            "matches": len(group),
            "agree": sum(1 for r in with_room if r["agree"]),
            "some_agent_completed": len(with_room),
            "split": sum(1 for r in group if not r["agree"]),
            "wrong_roster": sum(1 for r in group if r["wrong_roster"]),
            "agents": len(agents),
            "agents_completed": sum(1 for a in agents if a["room_keys"]),
            "rooms_per_match": {str(n): sum(1 for r in group if r["rooms_at_server"] == n)
                                for n in sorted({r["rooms_at_server"] for r in group})},
            "seconds_to_room": {"median": statistics.median(delays) if delays else None,
                                "p90": quantile(delays, 0.9), "max": max(delays) if delays else None},
        }
    for r in results:
        for a in r["agents"]:
            if a["blocked_by"]:
                key = normalised_reason(a["blocked_by"])
                out["blocked_by"][key] = out["blocked_by"].get(key, 0) + 1
        if not r["agree"] or r["wrong_roster"]:
            out["findings"].append({"seed": r["seed"], "match": r["match"], "kind": r["kind"],
                                    "room_keys": len(r["room_keys"]), "wrong_roster": r["wrong_roster"],
                                    "situations": r["situations"]})
    return out


def table(fig):
    rows = [("", "clean", "bot", "duplicate name")]

    def row(label, fn):
        rows.append((label,) + tuple(fn(fig["by_kind"][k]) if k in fig["by_kind"] else "-"
                                     for k in ("clean", "bot", "duplicate name")))

    row("matches", lambda g: str(g["matches"]))
    row("all completed agents agree", lambda g: "%d/%d (%s)" % (
        g["agree"], g["some_agent_completed"], percent(g["agree"], g["some_agent_completed"])))
    row("split into several rooms", lambda g: str(g["split"]))
    row("some agent's roster wrong", lambda g: str(g["wrong_roster"]))
    row("agents that completed", lambda g: "%d/%d (%s)" % (
        g["agents_completed"], g["agents"], percent(g["agents_completed"], g["agents"])))
    row("rooms per match (n:matches)", lambda g: " ".join(
        "%s:%d" % kv for kv in g["rooms_per_match"].items()))
    row("last arrival -> room_created",
        lambda g: "p50 %s  p90 %s  max %s s" % tuple(
            "-" if v is None else "%.1f" % v
            for v in (g["seconds_to_room"]["median"], g["seconds_to_room"]["p90"],
                      g["seconds_to_room"]["max"])))
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    lines = ["  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() for r in rows]
    lines.insert(1, "  ".join("-" * w for w in widths))
    if fig["blocked_by"]:
        lines.append("")
        lines.append("agents that never completed, by what they last logged as blocked_by:")
        for reason, n in sorted(fig["blocked_by"].items(), key=lambda kv: -kv[1]):
            lines.append("  %4d  %s" % (n, reason))
    if fig["findings"]:
        lines.append("")
        lines.append("matches to look at (replay: tools/simulate --seed S --match N%s):" % "".join(
            " --rate " + r for r in fig["rate_options"]))
        for f in fig["findings"]:
            lines.append("  --seed %s --match %d  %s: %d room keys%s  [%s]" % (
                f["seed"], f["match"], f["kind"], f["room_keys"],
                ", WRONG ROSTER" if f["wrong_roster"] else "", ", ".join(f["situations"])))
    return "\n".join(lines)


def print_links(result):
    print("\n%-5s %-20s %-22s %s" % ("slot", "player", "steamid", "room link (or why none)"))
    for a in result["agents"]:
        name = harness_printable(a["name"])[:20]
        print("%-5s %-20s %-22s %s" % (a["slot"], name, a["steamid"], a["url"] or "-- " + a["blocked_by"]))
    print("\nrooms at the room server: %d" % result["rooms_at_server"])


def harness_printable(text):
    return "".join(c if c.isprintable() else "?" for c in text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--matches", type=int, default=10)
    parser.add_argument("--seed", default="1")
    parser.add_argument("--match", type=int, help="play only this match of the seed")
    parser.add_argument("--agents", type=int, default=10, help="players running the agent (1-10)")
    parser.add_argument("--preset", choices=["native", "win64"], default="native")
    parser.add_argument("--build-dir")
    parser.add_argument("--json", help="where to write the figures (default build/simulate/...)")
    parser.add_argument("--links", action="store_true", help="print every agent's room link")
    parser.add_argument("--keep", action="store_true", help="keep the agents' folders")
    parser.add_argument("--quiet", action="store_true", help="no line per match")
    parser.add_argument("--rate", action="append", default=[], metavar="NAME=P",
                        help="draw a situation at another rate (see tools/sim_match.py), to hunt for one kind")
    args = parser.parse_args()
    if not 1 <= args.agents <= 10:
        parser.error("--agents must be 1 to 10")
    build = Path(args.build_dir or ROOT / "build" / args.preset).resolve()
    load_modules(args.preset, build)
    for item in args.rate:
        name, _, value = item.partition("=")
        if name not in sim_match.RATES:
            parser.error("--rate: no situation %r (one of %s)" % (name, ", ".join(sim_match.RATES)))
        sim_match.RATES[name] = float(value)

    indexes = [args.match] if args.match is not None else list(range(args.matches))
    out = Path(args.json) if args.json else ROOT / "build" / "simulate" / time.strftime(
        "results-%Y%m%d-%H%M%S.json")
    out.parent.mkdir(parents=True, exist_ok=True)
    results = []
    started = time.monotonic()

    def summary():
        fig = figures(results)
        fig.update({"seed": args.seed, "agents": args.agents, "preset": args.preset,
                    "rate_options": args.rate, "seconds": round(time.monotonic() - started, 1),
                    "rates": sim_match.RATES, "results": results})
        # Written after every match, so that a long run cut short keeps its figures.
        out.write_text(json.dumps(fig, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
        return fig

    for n in indexes:
        match = sim_match.generate_match(args.seed, n, args.agents)
        begun = time.monotonic()
        result = run_match(match, args)
        results.append(result)
        summary()
        if not args.quiet:
            print("match %3d  %-14s %2d/%d completed  %d key(s)  %d room(s)%s  %.1fs  [%s]" % (
                n, result["kind"], result["completed"], len(result["agents"]), len(result["room_keys"]),
                result["rooms_at_server"], "  WRONG ROSTER" if result["wrong_roster"] else "",
                time.monotonic() - begun, ", ".join(match["situations"])), flush=True)
        if args.links:
            print_links(result)
    fig = summary()
    print()
    print(table(fig))
    print("\n%d matches in %.0f s (%s build, %d agents per match)" % (
        len(results), fig["seconds"], args.preset, args.agents))
    print("figures: %s" % out)
    clean = fig["by_kind"].get("clean", {})
    failed = clean.get("split", 0) or any(g["wrong_roster"] for g in fig["by_kind"].values())
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
