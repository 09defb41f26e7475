"""The observing loop end to end: the real agent follows a console.log that
this test writes to, answers GSI, warns about a silent console.log and stops
on Ctrl+C whatever its clients do."""

import socket
import time
import unittest

import harness
from harness import Agent

T = "12/06 21:14:03 "
BLOCK = [T + line for line in harness.fake_cs2.status_lines(harness.PLAYERS[:2], "8512345")]


class MainLoopTest(unittest.TestCase):
    def test_console_log_lines_reach_the_agent_once_and_whole(self):
        agent = Agent(self, console_log=T + "execing vantor\n").start()   # old lines are not read

        def append(text, mode="ab"):
            with open(agent.paths["console_log"], mode) as log:
                log.write(text.encode())
            time.sleep(0.45)   # a little more than one pass

        # A status block in several writes, a line cut across passes, CR LF and LF.
        append("\n".join(BLOCK[:4]) + "\n")
        append("\r\n".join(BLOCK[4:8]) + "\r\n" + BLOCK[8][:20])
        append(BLOCK[8][20:] + "\n" + "\n".join(BLOCK[9:]) + "\r\n")
        # The three ways to ask for the room, the first split across passes.
        append(T + "execing van")
        append("tor\r\n" + T + "execing vantor_room\n" + T + "[Console] Unknown command: vantor\n")
        # Half a block, then CS2 restarts: the new, shorter console.log is read
        # from byte 0 by a fresh parser, so the half block never completes.
        append("\n".join(BLOCK[:6]) + "\n")
        append("\n".join(BLOCK[8:]) + "\n" + T + "execing vantor\n", "wb")
        agent.wait("room_requested", 4)
        agent.stop()
        self.assertEqual([r["how"] for r in agent.events("room_requested")],
                         ["exec vantor", "exec vantor_room", "typed in the console", "exec vantor"])
        self.assertEqual(agent.events("room_requested")[0]["line"], T + "execing vantor")
        self.assertEqual(len(agent.events("log_rotated")), 1)
        self.assertEqual([len(s["players"]) for s in agent.events("status_snapshot")], [2])

    def test_gsi_silence_warning_comes_once_while_on_a_map(self):
        agent = Agent(self).start()
        agent.gsi({"map": {"name": "de_mirage", "mode": "competitive", "phase": "warmup", "round": 0}})
        began = time.monotonic()
        agent.wait("error", where="console_log_silent", timeout=90)
        self.assertGreater(time.monotonic() - began, 55)
        time.sleep(1.0)
        self.assertEqual(agent.stop().out.count("WARNING: GSI says you are on de_mirage"), 1)

    def test_clients_that_hang_do_not_hold_the_stop(self):
        agent = Agent(self).start()
        idle = socket.create_connection(("127.0.0.1", agent.port), timeout=10)
        half = socket.create_connection(("127.0.0.1", agent.port), timeout=10)
        half.sendall(b"POST / HTTP/1.1\r\nContent-Length: 4000\r\n\r\n{\"map\":")
        self.addCleanup(idle.close)
        self.addCleanup(half.close)
        agent.stop(within=1.5)   # one pass, then a stop that waits for no client
        self.assertEqual(agent.events("stopped")[0]["gsi_malformed"], 2)


if __name__ == "__main__":
    harness.main()
