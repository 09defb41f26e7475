#!/usr/bin/env python3
"""Writes a sample CS2 console.log (as the game writes it with -condebug) for
trying `vantor-agent --replay`: time prefixes, channel tags, CR LF line ends,
ordinary game chatter, and three status blocks of a ten-player match with
both row shapes (with and without the address column), a ghost 65535 row,
bots and names in every kind of UTF-8.

    python3 examples/make_sample_console_log.py build/console.log

The functions are also used by the replay tests and the throughput benchmark.
"""

import sys
from pathlib import Path

# Ten players of one match; the local player sits in slot 2.
PLAYERS = [
    (1, "03:12", 4, "172.18.0.1:37738", ":umbrella2:\U0001d7d5\U0001d41e\U0001d426\U0001d429\U0001d41e\U0001d42b"),
    (2, "03:12", 3, "172.18.0.1:37740", "Shaikh Kebab"),
    (3, "03:11", 21, "10.0.0.17:27005", "O'Neil"),
    (4, "03:10", 35, "10.0.0.23:27005", "  spaced out  "),
    (5, "03:10", 12, "192.168.1.5:27005", "\u30b9\u30ca\u30a4\u30d1\u30fc"),
    (6, "03:09", 48, "172.18.0.9:27005", "\u0416\u0435\u043d\u044f \U0001f525"),
    (7, "03:09", 9, "172.18.0.3:27005", "zero\u200bwidth"),
    (8, "03:08", 64, "172.18.0.4:27005", "fl\u00f6rian"),
    (9, "03:08", 17, "172.18.0.5:27005", "[AIM] s1mple fan"),
    (10, "03:07", 5, "172.18.0.6:27005", "\U0001f47b ghost"),
]

RESERVATION = "90195584187195394:1:2"


def stamp(clock):
    """The 15-character time prefix: "12/06 21:14:03 "."""
    hours, rest = divmod(clock, 3600)
    minutes, seconds = divmod(rest, 60)
    return f"12/06 {hours % 24:02d}:{minutes:02d}:{seconds:02d} "


def status_block(clock, players, with_address=True, ghost=True, bots=(), source_slot=2,
                 hibernating=False):
    """The lines of one `status` block, each with its time prefix."""
    humans = len(players)
    prefix = stamp(clock) + "[Client] "
    note = "hibernating" if hibernating else "not hibernating"
    header = "rate adr name" if with_address else "rate name"
    lines = [
        "----- Status -----",
        "Server:  Running [172.18.0.2:27015]",
        "Client:  Connected to 172.18.0.2:27015",
        f"source   : slot {source_slot}",
        "hostname : Valve Counter-Strike 2 eu_west Server (srcds3012-fra2.271.9)",
        "spawn    : 1",
        "version  : 1.40.4.6/14046 9842 secure  public",
        "steamid  : [A:1:3954317314:28821] (90195584187195394)",
        "udp/ip   : 172.18.0.2:27015 os(Linux) type(dedicated)",
        f"players  : {humans} humans, {len(bots)} bots (10 max) ({note}) (reserved {RESERVATION})",
        "loaded spawngroups  : 1",
        "---------players--------",
        f"  id     time ping loss      state   {header}",
    ]
    if ghost:
        lines.append("65535 [NoChan]    0    0 challenging      0 ''")
    for slot, time, ping, address, name in players:
        adr = f" {address}" if with_address else ""
        lines.append(f"{slot:>4} {time:>8} {ping:>4}    0     active 786432{adr} '{name}'")
    for slot, name in bots:
        lines.append(f"{slot:>4}      BOT    0    0     active      0 '{name}'")
    lines.append("#end")
    return [prefix + line for line in lines]


def chatter(clock, count):
    """Ordinary console lines of a running game."""
    samples = [
        "[SteamNetSockets] [#2913145023 UDP steamid:90195584187195394@172.18.0.2:27015] "
        "Received 1 packet(s), 0 lost",
        "[Client] CL:  ChangeGameUIState: CSGO_GAME_UI_STATE_INGAME -> CSGO_GAME_UI_STATE_INGAME",
        "[SoundSystem] Sound not found: player/footsteps/new/concrete_03",
        "[Client] RemovePredictedEntities(1)",
        "[Networking] Processing 3 unreliable messages",
        "Damage Given to \"O'Neil\" - 27 in 1 hit",
        "[Client] CGameRulesGameSystem::GameShutdown uninitialized 0",
        "[Panorama] CSGO_GAME_UI_STATE_INGAME: Scoreboard opened",
    ]
    return [stamp(clock + i // 4) + samples[i % len(samples)] for i in range(count)]


def sample_lines():
    lines = [
        stamp(75600) + "[Client] Client: Connected to 172.18.0.2:27015",
        stamp(75600) + "[Client] Loading map \"de_mirage\"",
    ]
    lines += chatter(75601, 40)
    # The player typed `exec vantor` while the server was still filling up.
    lines.append(stamp(75620) + "[Client] execing vantor")
    lines += status_block(75620, PLAYERS[:7], with_address=False,
                          bots=((11, "Vitaliy"), (12, "Rock")))
    lines += chatter(75621, 60)
    lines.append(stamp(75700) + "[Client] execing vantor")
    lines += status_block(75700, PLAYERS, ghost=True)
    lines += chatter(75701, 40)
    # A block cut short by the game's exit is never returned.
    lines += status_block(75800, PLAYERS)[:14]
    return lines


def sample_bytes():
    return "".join(line + "\r\n" for line in sample_lines()).encode("utf-8")


def main(argv):
    if len(argv) != 2:
        print("usage: make_sample_console_log.py OUTPUT", file=sys.stderr)
        return 2
    out = Path(argv[1])
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_bytes(sample_bytes())
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
