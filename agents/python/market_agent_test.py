"""market_agent against a scripted gateway: a shell script that writes a session's messages and
records the agent's commands, so that the state the library keeps is checked line by line."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from market_agent import INITIAL_CREDIT, Agent, parse  # noqa: E402

SESSION = """accept
open_auction 1
buyers CLogin Vera
goods g1 tea Ana 1000 1200 g3 gold Ana 60000 65000
open_round 1
good g1 tea Ana 1000 1200
offer g1 900
collision g1 1050
sold CLogin 1050
weather g1 sunny
good g3 gold Ana 60000 65000
offer g3 60000
sanction CLogin 6500
offer g3 60000
sanction CLogin 6500
expulsion CLogin
buyers Vera
offer g3 60000
out_of_market g3 59800
end_round 1
end_auction 1
open_auction 2
buyers CLogin Vera Otto
goods g4 wine Cruz 800 1000
open_round 1
good g4 wine Cruz 800 1000
offer g4 800
sold Vera 800
end_round 1
end_auction 2
closed_market
"""


class ScriptedGateway:
    """A 'gateway' that prints `lines`, records what it reads and exits with `status`."""

    def __init__(self, test, lines, status=0):
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)
        self.path = os.path.join(self.dir.name, "gateway")
        self.commands = os.path.join(self.dir.name, "commands")
        with open(os.path.join(self.dir.name, "lines"), "w") as out:
            out.write(lines)
        with open(self.path, "w") as out:
            out.write(f"#!/bin/sh\necho \"$#:$1\" > '{self.commands}'\n"
                      f"cat '{self.dir.name}/lines'\nexec >&-\n"
                      f"cat >> '{self.commands}'\nexit {status}\n")
        os.chmod(self.path, 0o755)

    def received(self):
        with open(self.commands) as f:
            return f.read().splitlines()


class MarketAgentTest(unittest.TestCase):
    def test_parse_types_every_field_and_refuses_what_it_cannot_read(self):
        good = parse("good g1 tea Ana 1000 1200").good
        self.assertEqual((good.id, good.kind, good.resale), ("g1", "tea", 1200))
        self.assertEqual(parse("offer g1 900").price, 900)
        self.assertEqual(parse("sanction CLogin 6500").fine, 6500)
        self.assertEqual(len(parse("goods a t s 1 2 b t s 3 4").goods), 2)
        for line in ["", "offer g1", "offer g1 nine", "goods a t s 1", "sold", "weather x",
                     "good g1 tea Ana 1000 1200 extra"]:
            self.assertEqual(parse(line).kind, "unknown", line)

    def test_state_follows_a_session_and_bids_only_while_a_price_is_in_force(self):
        gateway = ScriptedGateway(self, SESSION)
        seen = []
        with Agent(login="CLogin", password="pw", gateway=gateway.path) as agent:
            self.assertFalse(agent.bid())  # nothing in force yet
            for m in agent.messages():
                seen.append((m.kind, agent.credit, agent.expelled, agent.n, agent.price))
                if m.kind == "offer" and m.line in ("offer g1 900", "offer g3 60000",
                                                    "offer g4 800"):
                    self.assertEqual(agent.bid(), not agent.expelled)
        state = {kind: rest for kind, *rest in seen}
        self.assertEqual(agent.returncode, 0)
        self.assertTrue(agent.admitted and agent.closed)
        self.assertEqual(agent.bought, [(1, "g1", 1050)])
        self.assertEqual(seen[8], ("sold", INITIAL_CREDIT - 1050, False, 2, None))
        self.assertEqual(seen[9][0], "unknown")
        self.assertEqual(seen[16], ("buyers", INITIAL_CREDIT - 1050, True, 1, None))
        self.assertEqual(state["open_auction"], [INITIAL_CREDIT, False, 0, None])
        self.assertEqual(agent.n, 3)
        self.assertEqual(agent.sanctions, 0)  # counted per auction
        # The admission, then one bid at each price in force while not expelled: g1 900, g3
        # 60000 twice, g4 800; none at the offer after the expulsion.
        self.assertEqual(gateway.received(),
                         ["1:CLogin", "admission CLogin pw", "bid", "bid", "bid", "bid"])

    def test_end_of_input_without_close_ends_cleanly_with_the_gateways_status(self):
        gateway = ScriptedGateway(self, "accept\nopen_auction 1\nbuyers CLogin\n", status=1)
        with Agent(gateway=gateway.path) as agent:
            kinds = [m.kind for m in agent.messages()]
        self.assertEqual(kinds, ["accept", "open_auction", "buyers"])
        self.assertFalse(agent.closed)
        self.assertEqual(agent.returncode, 1)
        self.assertFalse(agent.bid())  # the pipe is closed: nothing sent, no exception

    def test_a_denial_is_kept(self):
        gateway = ScriptedGateway(self, "deny bad_password\n", status=1)
        with Agent(gateway=gateway.path) as agent:
            list(agent.messages())
        self.assertEqual(agent.denied, "bad_password")
        self.assertFalse(agent.admitted)

    def test_a_gateway_that_lingers_is_stopped_with_sigterm_then_sigkill(self):
        # It never exits by itself: the status says which signal ended it.
        for name, prelude, status in [("obeys SIGTERM", "", -15),
                                      ("ignores SIGTERM", "trap '' TERM\n", -9)]:
            with self.subTest(name):
                gateway = ScriptedGateway(self, "")
                with open(gateway.path, "w") as out:
                    out.write(f"#!/bin/sh\n{prelude}echo accept\nexec >&-\nexec sleep 60\n")
                agent = Agent(gateway=gateway.path)
                self.assertEqual(next(agent.messages()).kind, "accept")
                self.assertEqual(agent.close(wait=0.05), status)
                self.assertEqual(agent.returncode, status)
                self.assertFalse(agent.bid())  # the pipe is closed: nothing sent, no exception

if __name__ == "__main__":
    unittest.main()
