"""A stand-in for the CS2 client (Python 3 standard library only).

It does to the agent what the game does: it appends lines to console.log
(the "execing vantor" echo, `status` blocks shaped like the real ones with the
15-character time prefix and the [Client] channel tag, "Unknown command:
vantor") and POSTs Game State Integration payloads to the uri of
gamestate_integration_vantor.cfg in the cfg folder, with that file's token.

Used by the end-to-end tests, the benchmarks and tools/demo:

    cs2 = FakeCs2(cfg_dir, console_log, players, reservation="8512345")
    cs2.gsi_menu(); cs2.gsi_map("de_mirage", "warmup")
    cs2.exec_vantor()            # "execing vantor" and a full status block
    cs2.type_vantor()            # "Unknown command: vantor"

`players` is a list of (steamid, name) pairs; the first one is the player at
this machine (GSI reports only the local player while playing).
"""

import json
import re
import time
import urllib.request
from pathlib import Path

GSI_CFG = "gamestate_integration_vantor.cfg"
PROVIDER_NAME = "Counter-Strike: Global Offensive"


def read_gsi_target(cfg_dir):
    """(uri, token) of the agent's GSI cfg, as CS2 reads it at start-up;
    None while the file is missing or incomplete."""
    path = Path(cfg_dir) / GSI_CFG
    try:
        text = path.read_text(encoding="utf-8", errors="replace")
    except OSError:
        return None
    uri = re.search(r'"uri"\s+"([^"]*)"', text)
    token = re.search(r'"token"\s+"([^"]*)"', text)
    if not uri or not token:
        return None
    return uri.group(1), token.group(1)


def time_prefix(now=None):
    """The 15 characters CS2 writes in front of every console.log line."""
    return time.strftime("%m/%d %H:%M:%S ", time.localtime(now))


def status_lines(players, reservation, bots=0, pending=1):
    """A `status` block as the client prints it, without time prefixes."""
    rows = [{"kind": "pending"} for _ in range(pending)]
    rows += [{"kind": "player", "slot": i + 1, "name": name} for i, (_, name) in enumerate(players)]
    rows += [{"kind": "bot", "slot": len(players) + i + 1, "name": f"Bot {i}"} for i in range(bots)]
    return status_block_lines(rows, reservation)


def status_block_lines(rows, reservation, source_slot=1):
    """A `status` block of the given rows, in order: {"kind": "player" | "bot",
    "slot": id, "name": text} or {"kind": "pending"} (a slot still being
    connected). `source_slot` is the slot of the player at this machine."""
    humans = sum(1 for r in rows if r["kind"] == "player")
    bots = sum(1 for r in rows if r["kind"] == "bot")
    tail = f" (reserved {reservation})" if reservation else ""
    lines = [
        "[Client] ----- Status -----",
        "[Client] version  : 2000258/13925 2000258 secure  public",
        "[Client] steamid  : [A:1:3221422080:31046] (90267331543658496)",
        f"[Client] source   : slot {source_slot}",
        f"[Client] players  : {humans} humans, {bots} bots ({max(humans + bots, 10)} max) "
        f"(not hibernating){tail}",
        "[Client] ---------players--------",
        "[Client]   id     time ping loss      state   rate name",
    ]
    i = 0  # the how-many-th player row: its connection time and ping
    for row in rows:
        if row["kind"] == "pending":
            lines.append("[Client] 65535 [NoChan]    0    0 challenging      0 ''")
        elif row["kind"] == "bot":
            lines.append(f"[Client] {row['slot']:4d}      BOT    0    0     active      0 '{row['name']}'")
        else:
            minutes, seconds = divmod(190 - 7 * i, 60)
            lines.append(f"[Client] {row['slot']:4d}    {minutes:02d}:{seconds:02d} {4 + i % 30:4d}    0"
                         f"     active 786432 '{row['name']}'")
            i += 1
    lines.append("[Client] #end")
    return lines


class FakeCs2:
    def __init__(self, cfg_dir, console_log, players, reservation="8512345", appid=730):
        self.cfg_dir = Path(cfg_dir)
        self.console_log = Path(console_log)
        self.players = list(players)
        self.reservation = reservation
        self.appid = appid
        self.map = None
        self.phase = None
        self.round = 0

    # ---- console.log ---------------------------------------------------

    def write_lines(self, lines, now=None):
        """Appends whole lines, each with the time prefix, in one write."""
        prefix = time_prefix(now)
        text = "".join(prefix + line + "\n" for line in lines)
        self.console_log.parent.mkdir(parents=True, exist_ok=True)
        with open(self.console_log, "ab") as f:
            f.write(text.encode("utf-8"))
            f.flush()

    def status(self, players=None, reservation=None):
        """The status block alone (scoreboard or a typed `status`)."""
        self.write_lines(status_lines(self.players if players is None else players,
                                      self.reservation if reservation is None else reservation))

    def exec_vantor(self, players=None, reservation=None):
        """`exec vantor`: the echo, then the cfg's status block. Returns the time
        the block's "#end" line was written (time.monotonic())."""
        block = status_lines(self.players if players is None else players,
                             self.reservation if reservation is None else reservation)
        self.write_lines(["execing vantor"] + block)
        return time.monotonic()

    def exec_vantor_room(self):
        self.write_lines(["execing vantor_room", "[Console] ----------------------------------------"])

    def type_vantor(self):
        self.write_lines(["[Console] Unknown command: vantor"])

    # ---- Game State Integration ----------------------------------------

    def payload(self):
        steamid, name = self.players[0]
        body = {
            "provider": {"name": PROVIDER_NAME, "appid": self.appid, "version": 14043,
                         "steamid": str(steamid), "timestamp": int(time.time())},
            "player": {"steamid": str(steamid), "name": name, "activity": "menu"},
        }
        if self.map:
            body["map"] = {
                "mode": "competitive", "name": self.map, "phase": self.phase, "round": self.round,
                "team_ct": {"score": 0, "consecutive_round_losses": 0, "timeouts_remaining": 1,
                            "matches_won_this_series": 0},
                "team_t": {"score": 0, "consecutive_round_losses": 0, "timeouts_remaining": 1,
                           "matches_won_this_series": 0},
                "num_matches_to_win_series": 0,
            }
            body["player"].update({"observer_slot": 1, "team": "CT", "activity": "playing",
                                   "state": {"health": 100, "armor": 0, "helmet": False,
                                             "money": 800, "round_kills": 0}})
        return body

    def spectating(self, steamid, name, team, observer_slot):
        """A payload while this player is dead and watches another player (or a
        bot, whose SteamID64 is a stand-in): the player section is the one
        watched."""
        body = self.payload()
        body["player"] = {"steamid": str(steamid), "name": name, "team": team,
                          "observer_slot": observer_slot, "activity": "playing",
                          "state": {"health": 100, "armor": 100, "helmet": True,
                                    "money": 2400, "round_kills": 0}}
        return body

    def post(self, body=None, timeout=5.0):
        """One GSI POST with the cfg's token; the HTTP status, or None when the
        cfg is missing or nobody answers."""
        target = read_gsi_target(self.cfg_dir)
        if target is None:
            return None
        uri, token = target
        body = dict(self.payload() if body is None else body)
        body["auth"] = {"token": token}
        data = json.dumps(body, indent="\t").encode("utf-8")
        request = urllib.request.Request(uri, data=data, method="POST", headers={
            "Content-Type": "application/json",
            "User-Agent": "Valve/Steam HTTP Client 1.0 (730)",
        })
        try:
            with urllib.request.urlopen(request, timeout=timeout) as answer:
                answer.read()
                return answer.status
        except OSError:
            return None

    def gsi_menu(self):
        self.map, self.phase, self.round = None, None, 0
        return self.post()

    def gsi_map(self, map_name, phase="warmup", round_number=0):
        self.map, self.phase, self.round = map_name, phase, round_number
        return self.post()

    def wait_for_cfg(self, timeout=30.0):
        """Waits until the agent has written its GSI cfg."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if read_gsi_target(self.cfg_dir):
                return True
            time.sleep(0.05)
        return False


def demo_players(count=10, first=76561198000000001, self_name="you"):
    names = [self_name, "Shaikh Kebab", ":umbrella2:\U0001d7d5\U0001d41e\U0001d426", "kestrel",
             "mira \u2764", "\u0141ukasz", "\u00d0eadeye", "\u6700\u5f37", "nova", "blue fish"]
    return [(first + i, names[i] if i < len(names) else f"player {i}") for i in range(count)]
