"""GSI end to end: real POSTs to the real agent's listener, the match events
they cause, the counters logged at stop, and a second agent on a taken port."""

import json
import socket
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import harness  # noqa: E402

DATA = Path(__file__).resolve().parent / "data"
TOKEN = "Fh3kQ9vT2mXc8LpA"
REPLY = b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"


def exchange(port, data, timeout=15.0):
    """Sends raw bytes, half-closes, returns everything the agent answers."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        reply = b""
        try:
            while chunk := s.recv(4096):
                reply += chunk
        except ConnectionResetError:
            pass
        return reply


def post(port, body):
    if isinstance(body, str):
        body = body.encode("utf-8")
    head = ("POST / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/json\r\n"
            "Content-Length: %d\r\n\r\n" % (port, len(body))).encode("ascii")
    return exchange(port, head + body)


def fixture(name, **changes):
    payload = json.loads((DATA / name).read_text(encoding="utf-8"))
    for section, values in changes.items():
        payload.setdefault(section, {}).update(values)
    return json.dumps(payload)


class GsiAgentTest(harness.AgentTestCase):
    def start_agent(self, env, extra=()):
        paths = env.make_steam(console_log="")
        env.data_dir.mkdir(parents=True, exist_ok=True)
        (env.data_dir / "agent.json").write_text(
            json.dumps({"api_base_url": "", "gsi_token": TOKEN, "gsi_port": self.port}))
        agent = env.start_agent(["--no-tray", "--no-write-cfg", "--console-log",
                                 env.agent_path(paths["console_log"])] + list(extra))
        self.assertTrue(agent.wait_for_output("watching -- press Ctrl+C to stop."),
                        agent.stdout() + agent.stderr())
        return agent

    def setUp(self):
        super().setUp()
        self.port = harness.free_port()

    def test_a_match_from_the_menu_and_back(self):
        agent = self.start_agent(self.env, ["--debug"])
        self.assertIn("gsi: listening on 127.0.0.1:%d" % self.port, agent.stdout())

        # Replies come from the listener thread, whatever the main loop does.
        for body in (fixture("menu.json"), fixture("warmup_mirage.json"),
                     fixture("warmup_mirage.json", provider={"timestamp": 1733512470}),
                     fixture("observer_switch.json"), fixture("live_round3.json", auth={"token": "wrong"}),
                     "{not json"):
            self.assertEqual(post(self.port, body), REPLY)
        self.assertEqual(exchange(self.port, b"POST / HTTP/1.1\r\nHost: x\r\n\r\n"), REPLY)
        self.assertEqual(exchange(self.port, b"POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\n{}"), b"")
        self.assertEqual(post(self.port, fixture("menu.json")), REPLY)
        self.assertTrue(agent.wait_for_output("back in the menu"), agent.stdout())

        time.sleep(0.5)
        agent.interrupt()
        result = agent.wait(30)
        self.assertEqual(result.code, 0, result)
        self.assertIn("match started on de_mirage (competitive) -- building roster", result.out)
        self.assertIn("gsi player: 76561198211873064 'Шаман ☾' team=CT (2 known from GSI so far)", result.out)

        names = [r["event"] for r in self.env.records()
                 if r["event"] in ("match_started", "match_ended", "gsi_phase_change", "gsi_event")]
        self.assertEqual(names, [
            "gsi_event", "gsi_phase_change",                       # menu
            "gsi_event", "match_started", "gsi_phase_change",      # warmup
            "gsi_event",                                           # same phase, later clock
            "gsi_event", "gsi_phase_change",                       # spectating, live round 5
            "gsi_event", "match_ended", "gsi_phase_change",        # menu again
        ])
        self.assertEqual(self.env.events("match_ended")[0]["map"], "de_mirage")
        errors = [(e["where"], e["detail"]) for e in self.env.events("error")]
        self.assertIn(("gsi_auth", "token mismatch"), errors)
        self.assertIn(("gsi_payload", "not a JSON object"), errors)
        # The payload that started the match merged its player into the old
        # record; the next one names it again in the new record.
        new_players = [(p["steamid"], p["block"]) for p in self.env.events("gsi_player_new")]
        self.assertEqual(new_players.count(("76561198044120577", "player")), 2)
        self.assertIn(("76561197960287930", "added"), new_players)
        stopped = self.env.events("stopped")[-1]
        self.assertEqual((stopped["gsi_requests"], stopped["gsi_malformed"]), (7, 2))

    def test_a_second_agent_on_the_same_port_runs_without_gsi(self):
        first = self.start_agent(self.env)
        second_env = harness.AgentEnv("gsi-second")
        self.addCleanup(second_env.close)
        second = self.start_agent(second_env)
        taken = "cannot bind 127.0.0.1:%d (already in use?)" % self.port
        self.assertIn("gsi: " + taken, second.stdout())

        # The first one still answers and handles payloads.
        self.assertEqual(post(self.port, fixture("warmup_mirage.json")), REPLY)
        self.assertTrue(first.wait_for_output("match started on de_mirage"), first.stdout())
        for agent in (second, first):
            agent.interrupt()
            self.assertEqual(agent.wait(30).code, 0)
        self.assertIn(("gsi_listen", taken), [(e["where"], e["detail"]) for e in second_env.events("error")])
        self.assertEqual(second_env.events("stopped")[-1]["gsi_requests"], 0)


if __name__ == "__main__":
    harness.main()
