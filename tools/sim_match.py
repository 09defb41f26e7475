"""The seeded match generator of tools/simulate: one CS2 match of ten players
as every player's agent sees it (Python 3 standard library only).

generate_match(seed, index, agents) gives a plain dict: the players (SteamID64,
server slot, team, names, when they join, leave, come back), which of them run
the agent, each agent's own Steam view (a tools/fake_steamclient fixture with
times relative to the match start), the steps of the match in time order, the
room service's first answers and the situations drawn. The same seed and index
always give the same match, so `tools/simulate --seed S --match N` replays it.

Times are seconds after the moment every agent is watching (t = 0).
"""

import random

STEAM_BASE = 76561197960265728  # SteamID64 of account 0; bots get small account numbers
BOT_NAMES = ["Zane", "Vitaliy", "Kask", "Rock", "Moe", "Ringo", "Shawn", "Wolf"]

# How often each situation is drawn: per match unless the comment says otherwise.
RATES = {
    "friends": 0.2,            # per pair of players: they are Steam friends
    "friend_in_cs2": 0.9,      # per friend in the match: Steam places them in CS2
    "late_join": 0.3,          # one player connects 4-7 s after the others
    "pending_row": 0.5,        # per late or reconnecting player: a pending row first
    "reconnect": 0.15,         # one player drops and comes back
    "same_name": 0.05,         # two players with the very same name
    "near_name": 0.15,         # two names that differ in case, an invisible character or a trailing blank
    "name_change": 0.1,        # a player renames in Steam during the match
    "exotic_names": 0.3,       # names with emoji, other scripts, apostrophes, escape sequences
    "unknown_persona": 0.1,    # per co-play entry: "[unknown]" until the agent requests it
    "namesake": 0.03,          # per agent: an old co-play entry or a friend elsewhere has a player's name
    "bot": 0.1,                # a player leaves and a bot takes the slot
    "leaver": 0.1,             # an eleventh player joins, leaves for good, and another takes the slot;
                               # the leaver's co-play entry stays in every Steam view
    "back_to_back": 0.15,      # per agent: players of the match before, met 1-5 min before this one
    "stale_coplay": 0.1,       # per agent: Steam has not refreshed a player's co-play entry for this
                               # match: only an older one, or none (a friend in the party)
    "early_status": 0.5,       # per agent: the first status is typed before everyone is in
    "spectate": 0.3,           # per agent: the player dies and GSI names the players watched
    "api_503": 0.15,           # the room service answers 503 first
    "api_slow": 0.1,           # the room service answers the first request after 2 s
}

PLAIN_NAMES = [
    "kestrel", "nova", "blue fish", "Shaikh Kebab", "tomek", "ValveFan", "xX_sn1per_Xx", "mira",
    "Alex", "alexei", "Kirill", "jonny", "Lark", "Nico", "dusty", "h0ly", "PapaSmurf", "q", "ZyWoO fan",
    "ropz jr", "daisy", "Bjorn", "lemon", "Gizmo", "sparrow", "cat on keyboard", "OLOF", "m0nk",
    "Trinity", "Neo", "Ghost", "owl", "tarik", "pepega", "frosty", "Kuba", "jan", "Sven", "Hugo",
]
EXOTIC_NAMES = [
    ":umbrella2:\U0001d7d5\U0001d41e\U0001d426\U0001d429\U0001d41e\U0001d42b", "mira \u2764",
    "\u0141ukasz", "\u00d0eadeye", "\u6700\u5f37", "\U0001f525sniper\U0001f525", "\u0421\u0430\u0448\u0430",
    "o'neil", "it's me", "\x1b[31mred\x1b[0m", "\x1b]0;pwned\x07title", "\u00c9lodie", "\u00e9lodie",
    "  spaced", "tab\there", "\u202eevil", "\u0645\u062d\u0645\u062f", "\U0001f47e",
]


def _near_variant(name, rng):
    """A name that the eye takes for `name`: other case, an invisible character
    inside, or a trailing blank."""
    kind = rng.choice(["case", "invisible", "blank"])
    if kind == "case" and name.lower() != name.upper():
        swapped = name.swapcase()
        if swapped != name:
            return swapped, "case"
    if kind == "invisible" and len(name) > 1:
        return name[:1] + "\u200b" + name[1:], "invisible"
    return name + " ", "trailing blank"


def _names(rng, situations):
    pool = list(PLAIN_NAMES)
    if rng.random() < RATES["exotic_names"]:
        situations.append("exotic names")
        picked = rng.sample(EXOTIC_NAMES, rng.randint(2, 4)) + rng.sample(pool, 10)
    else:
        picked = rng.sample(pool, 10)
    names = []
    for name in picked:
        if name not in names:
            names.append(name)
    names = names[:10]
    rng.shuffle(names)
    if rng.random() < RATES["same_name"]:
        situations.append("same name")
        names[1] = names[0]
    elif rng.random() < RATES["near_name"]:
        names[1], how = _near_variant(names[0], rng)
        situations.append("near name (%s)" % how)
    return names


def generate_match(seed, index, agents=10):
    """The match `index` of the run `seed`, with `agents` of the ten players
    running the agent."""
    rng = random.Random("%s/%s" % (seed, index))
    situations = []
    names = _names(rng, situations)
    accounts = rng.sample(range(10_000_000, 1_500_000_000), 10 + 30)
    players = []
    for i in range(10):
        players.append({
            "steamid": STEAM_BASE + accounts[i], "slot": i + 2, "team": "CT" if i < 5 else "T",
            "name": names[i], "join": round(rng.uniform(0.0, 1.5), 2),
            "leave": None, "rejoin": None, "pending_from": None, "new_name": None, "rename_at": None,
        })
    spare_ids = [STEAM_BASE + a for a in accounts[10:]]
    order = list(range(10))
    rng.shuffle(order)  # who plays which special part
    specials = iter(order)

    if rng.random() < RATES["late_join"]:
        p = players[next(specials)]
        p["join"] = round(rng.uniform(4.0, 7.0), 2)
        situations.append("late join")
        if rng.random() < RATES["pending_row"]:
            p["pending_from"] = round(p["join"] - rng.uniform(1.5, 3.0), 2)
            situations.append("pending row becomes a player")
    if rng.random() < RATES["reconnect"]:
        p = players[next(specials)]
        p["leave"] = round(rng.uniform(3.0, 5.0), 2)
        p["rejoin"] = round(p["leave"] + rng.uniform(2.0, 3.5), 2)
        situations.append("reconnect")
        if rng.random() < RATES["pending_row"]:
            p["pending_from"] = round(p["rejoin"] - 1.0, 2)
    bot = None
    if rng.random() < RATES["bot"]:
        p = players[next(specials)]
        p["leave"] = round(rng.uniform(5.0, 9.0), 2)
        account = rng.randint(1, 9)
        bot = {"slot": p["slot"], "steamid": STEAM_BASE + account, "team": p["team"],
               "name": rng.choice(BOT_NAMES), "at": round(p["leave"] + 0.5, 2),
               "replaces": players.index(p)}
        situations.append("bot takes a leaver's slot")
    if rng.random() < RATES["name_change"]:
        p = players[next(specials)]
        p["rename_at"] = round(rng.uniform(2.0, 6.0), 2)
        p["new_name"] = p["name"] + rng.choice(["_", " (new)", "2", "\u2606"])
        situations.append("name changed during the match")

    leaver = None
    if rng.random() < RATES["leaver"]:
        # Someone joins first and leaves for good while the server fills up; a
        # player of the match takes the freed slot, and one more comes after
        # the leaver has gone, so no block ever shows the leaver with nine others.
        p, q = players[next(specials)], players[next(specials)]
        account = spare_ids.pop()
        joined = round(rng.uniform(0.2, 1.0), 2)
        leaver = {"steamid": account, "slot": 12, "team": p["team"],
                  "name": rng.choice([n for n in PLAIN_NAMES if n not in names]),
                  "join": joined, "leave": round(joined + rng.uniform(1.0, 2.0), 2), "rejoin": None,
                  "pending_from": None, "new_name": None, "rename_at": None}
        for late in (p, q):
            late["join"] = max(late["join"], round(leaver["leave"] + rng.uniform(0.5, 2.0), 2))
        situations.append("a leaver's co-play entry stays")

    arrivals = [p["join"] for p in players] + [p["rejoin"] for p in players if p["rejoin"]]
    last_arrival = max(arrivals)
    end = max([last_arrival] + ([bot["at"]] if bot else [])) + 12.0

    running = sorted(rng.sample(range(10), agents))
    friends = set()
    for i in range(10):
        for j in range(i + 1, 10):
            if rng.random() < RATES["friends"]:
                friends.add((i, j))
    if friends:
        situations.append("friends")

    reservation = str(rng.randint(10 ** 6, 10 ** 9))
    api_script = []
    if rng.random() < RATES["api_503"]:
        api_script.append("503")
        situations.append("room service 503 first")
    elif rng.random() < RATES["api_slow"]:
        api_script.append("slow:2")
        situations.append("room service slow first")

    views = {}
    steps = []
    for a in running:
        me = players[a]
        view, noted = _steam_view(rng, a, players, friends, spare_ids, leaver)
        for note in noted:
            if note not in situations:
                situations.append(note)
        views[a] = view
        steps.append((max(0.0, me["join"] - 0.3), a, "menu", None))
        steps.append((me["join"], a, "map", None))
        if me["leave"] is not None:
            steps.append((me["leave"], a, "menu", None))
            if me["rejoin"] is not None:
                steps.append((me["rejoin"], a, "map", None))
        # The first `exec vantor`, then the scoreboard's status blocks.
        present_from = me["rejoin"] or me["join"]
        if rng.random() < RATES["early_status"]:
            first = me["join"] + rng.uniform(0.3, 1.5)
            if "status before everyone is in" not in situations and first < last_arrival:
                situations.append("status before everyone is in")
        else:
            first = last_arrival + rng.uniform(0.3, 2.0)
        steps.append((round(first, 2), a, "exec", None))
        t = max(first, present_from) + rng.uniform(3.0, 5.0)
        while t < end - 0.5:
            if present(me, t):
                steps.append((round(t, 2), a, "status", None))
            t += rng.uniform(3.0, 5.0)
        if rng.random() < RATES["spectate"]:
            for _ in range(rng.randint(1, 3)):
                at = round(rng.uniform(2.0, end - 3.0), 2)
                targets = [j for j in range(10) if j != a]
                if bot and at >= bot["at"] and rng.random() < 0.5:
                    steps.append((at, a, "watch", "bot"))
                else:
                    steps.append((at, a, "watch", rng.choice(targets)))
            if "spectating" not in situations:
                situations.append("spectating")
    steps.sort(key=lambda s: (s[0], s[1]))

    duplicate = len({p["name"] for p in players}) < 10
    kind = "bot" if bot else ("duplicate name" if duplicate else "clean")
    return {"seed": seed, "index": index, "players": players, "bot": bot, "leaver": leaver,
            "agents": running,
            "friends": sorted(friends), "reservation": reservation, "api_script": api_script,
            "views": views, "steps": steps, "last_arrival": last_arrival, "end": end,
            "situations": situations, "kind": kind}


def _steam_view(rng, a, players, friends, spare_ids, leaver=None):
    """The fake Steam client's fixture for the agent of player `a`; co-play
    times are relative to the match start ("time_offset")."""
    me = players[a]
    noted = []
    coplay, friend_list = [], []
    # A player whose co-play entry Steam has not refreshed for this match.
    stale, stale_how = None, None
    if rng.random() < RATES["stale_coplay"]:
        stale = rng.choice([j for j in range(10) if j != a])
        stale_how = rng.choice(["older entry", "friend in the party"])
        noted.append("co-play not refreshed (%s)" % stale_how)
    for j, p in enumerate(players):
        if j == a:
            continue
        is_friend = (min(a, j), max(a, j)) in friends or stale_how == "friend in the party" and j == stale
        entry = {"steamid": str(p["steamid"]), "appid": 730, "time_offset": int(p["join"]),
                 "persona": p["name"], "relationship": 3 if is_friend else 0}
        if rng.random() < RATES["unknown_persona"]:
            entry.update({"persona": "[unknown]", "resolves_to": p["name"], "after_requests": 1})
            if "persona not yet known" not in noted:
                noted.append("persona not yet known")
        if p["new_name"]:
            # The agent's Steam client learns the new name during the match.
            entry["resolves_to"] = p["new_name"]
            entry["after_reads"] = 1 + int(p["rename_at"] / 5.0)
            entry.pop("after_requests", None)
        if j == stale and stale_how == "older entry":
            entry["time_offset"] = -rng.randint(3600, 30 * 86400)
        if j != stale or stale_how == "older entry":
            coplay.append(entry)
        if j == stale and stale_how == "friend in the party":
            friend_list.append({"steamid": str(p["steamid"]), "persona": p["name"], "history": [p["name"]],
                                "game_id": 730})
        elif is_friend:
            friend = {"steamid": str(p["steamid"]), "persona": p["name"], "history": [p["name"]]}
            if p["new_name"] and rng.random() < 0.5:
                friend["persona"] = p["new_name"]
                friend["history"] = [p["new_name"], p["name"]]
            if rng.random() < RATES["friend_in_cs2"]:
                friend["game_id"] = 730
            friend_list.append(friend)
    # Strangers of earlier matches and friends elsewhere, named from the pool.
    used = {p["name"] for p in players}
    others = [n for n in PLAIN_NAMES if n not in used]
    spare = list(spare_ids)
    rng.shuffle(spare)
    for _ in range(rng.randint(0, 6)):
        coplay.append({"steamid": str(spare.pop()), "appid": 730 if rng.random() < 0.8 else 570,
                       "time_offset": -rng.randint(86400, 30 * 86400), "persona": rng.choice(others)})
    for _ in range(rng.randint(0, 8)):
        friend_list.append({"steamid": str(spare.pop()), "persona": rng.choice(others),
                            "history": []})
    if leaver is not None:
        coplay.append({"steamid": str(leaver["steamid"]), "appid": 730, "time_offset": int(leaver["join"]),
                       "persona": leaver["name"]})
    if rng.random() < RATES["back_to_back"]:
        # The match before ended a few minutes ago: its players are still this match's by co-play time.
        for _ in range(rng.randint(2, 5)):
            coplay.append({"steamid": str(spare.pop()), "appid": 730, "time_offset": -rng.randint(60, 280),
                           "persona": rng.choice(others)})
        noted.append("back-to-back matches")
    if rng.random() < RATES["namesake"]:
        victim = rng.choice([j for j in range(10) if j != a])
        name = players[victim]["name"]
        if rng.random() < 0.5:
            coplay.append({"steamid": str(spare.pop()), "appid": 730,
                           "time_offset": -rng.randint(86400, 30 * 86400), "persona": name})
        else:
            friend = {"steamid": str(spare.pop()), "persona": name, "history": [name]}
            if victim % 2:
                friend["game_id"] = 730   # playing CS2, in another match
            friend_list.append(friend)
        noted.append("namesake in a Steam view")
    rng.shuffle(coplay)
    return {"self": {"steamid": str(me["steamid"]), "persona": me["name"]},
            "coplay": coplay, "friends": friend_list}, noted


def name_in_game(player, t):
    """The name the server prints for a player at time t: a Steam rename shows
    in game only after the player reconnects."""
    if player["new_name"] and player["rejoin"] is not None and player["rejoin"] >= player["rename_at"] \
            and t >= player["rejoin"]:
        return player["new_name"]
    return player["name"]


def present(player, t):
    """Whether the player is connected at time t."""
    if player["join"] > t:
        return False
    gone = player["leave"] is not None and player["leave"] <= t
    return not gone or (player["rejoin"] is not None and t >= player["rejoin"])


def status_rows(match, t):
    """The rows of a status block printed at time t, in slot order."""
    rows = []
    bot = match["bot"]
    for p in match["players"]:
        if present(p, t):
            rows.append({"kind": "player", "slot": p["slot"], "name": name_in_game(p, t)})
        elif bot and bot["slot"] == p["slot"] and t >= bot["at"]:
            rows.append({"kind": "bot", "slot": p["slot"], "name": bot["name"]})
        elif p["pending_from"] is not None and p["pending_from"] <= t:
            rows.append({"kind": "pending"})
    leaver = match.get("leaver")
    if leaver and present(leaver, t):
        rows.append({"kind": "player", "slot": leaver["slot"], "name": leaver["name"]})
    return rows


def humans_of(match):
    """Every human who played in the match (a leaver included)."""
    return {p["steamid"] for p in match["players"] + [match["leaver"]] if p}
