"""A buyer agent's side of the market protocol (docs/protocol.md), on the standard library alone.

Agent starts RemoteControl (found along PATH) as its child on two pipes, logs in, yields each
message the market sends as a Message, keeps the market's state (auction, round, goods, buyers,
the good under the hammer and its price in force, the agent's credit, sanctions and purchases)
and ends cleanly when the market's output ends: it closes its end of the command pipe and waits
for the gateway, which it stops if it lingers. Python 3.9 or later.

It imports little: an agent is started once per session, and the interpreter's start-up with the
modules it loads is most of a short session's time (subprocess, dataclasses and typing would
more than double it). The gateway is started with os.posix_spawnp for that reason.
"""

from __future__ import annotations

import os
import sys
import time
from collections.abc import Iterator
from types import SimpleNamespace

INITIAL_CREDIT = 50000  # every buyer's credit at the start of each auction

# Each message kind and its fields after the tag: name:type, type "s" (a word) or "i" (a number).
FIELDS = {
    "accept": (), "deny": ("reason:s",), "open_auction": ("number:i",),
    "open_round": ("number:i",), "end_round": ("number:i",), "end_auction": ("number:i",),
    "offer": ("good:s", "price:i"), "collision": ("good:s", "price:i"),
    "sold": ("buyer:s", "price:i"), "out_of_market": ("good:s", "reserve:i"),
    "sanction": ("buyer:s", "fine:i"), "expulsion": ("buyer:s",), "closed_market": (),
}


class Good:
    """A good as the market describes it; resale is what it is worth to the agent."""

    __slots__ = ("id", "kind", "seller", "initial", "resale")
    __hash__ = None  # compared by value and mutable: not hashable

    def __init__(self, id: str, kind: str, seller: str, initial: int, resale: int):
        self.id, self.kind, self.seller = id, kind, seller
        self.initial, self.resale = initial, resale

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Good) and all(
            getattr(self, field) == getattr(other, field) for field in Good.__slots__)

    def __repr__(self) -> str:
        return (f"Good(id={self.id!r}, kind={self.kind!r}, seller={self.seller!r}, "
                f"initial={self.initial!r}, resale={self.resale!r})")


class Gateway:
    """The gateway child on two pipes: `commands` (text, written line by line) goes to its
    standard input, `messages` (text) comes from its standard output."""

    def __init__(self, argv: list[str]):
        to_child, commands = os.pipe()  # not inherited: only their copies on 0 and 1 are
        messages, from_child = os.pipe()
        try:
            self.pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=[
                (os.POSIX_SPAWN_DUP2, to_child, 0), (os.POSIX_SPAWN_DUP2, from_child, 1)])
        except BaseException:
            os.close(commands)
            os.close(messages)
            raise
        finally:
            os.close(to_child)
            os.close(from_child)
        self.commands = open(commands, "w", encoding="utf-8", errors="replace", buffering=1)
        self.messages = open(messages, "r", encoding="utf-8", errors="replace")
        self.returncode: int | None = None

    def wait(self, timeout: float | None = None) -> int | None:
        """The exit status (minus the signal's number when a signal ended it), once the gateway
        has exited within `timeout` seconds (None: however long it takes); None while it runs."""
        if self.returncode is not None:
            return self.returncode
        if timeout is None:
            pid, status = os.waitpid(self.pid, 0)
        else:  # looked at often at first: a gateway whose input has ended exits at once
            deadline, pause = time.monotonic() + timeout, 0.0005
            while True:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
                left = deadline - time.monotonic()
                if pid or left <= 0:
                    break
                time.sleep(min(pause, left))
                pause = min(pause * 2, 0.05)
        if pid:
            self.returncode = os.waitstatus_to_exitcode(status)
        return self.returncode

    def stop(self, name: str) -> None:  # sends "SIGTERM" or "SIGKILL" unless it has been reaped
        if self.returncode is None:
            import signal  # only here: it costs as much to import as the rest of this module
            os.kill(self.pid, getattr(signal, name))


class Message(SimpleNamespace):
    """One line from the market: .kind is its tag ("unknown" for a line this library cannot
    read), .line the line; the fields of FIELDS are attributes, as are .names (buyers), .goods
    (goods, a list of Good) and .good (good, a Good)."""


def parse(line: str) -> Message:
    words = line.split()
    message = Message(kind=words[0] if words else "", line=line)
    kind = message.kind
    try:
        if kind == "buyers":
            message.names = words[1:]
        elif (kind == "goods" and len(words) % 5 == 1) or (kind == "good" and len(words) == 6):
            rest = words[1:]
            message.goods = [Good(rest[i], rest[i + 1], rest[i + 2], int(rest[i + 3]),
                                  int(rest[i + 4])) for i in range(0, len(rest), 5)]
            if kind == "good":
                message.good = message.goods.pop()
                del message.goods
        elif kind in FIELDS and len(words) == len(FIELDS[kind]) + 1:
            named = [field.split(":") for field in FIELDS[kind]]
            message.__dict__.update({name: int(word) if type_ == "i" else word
                                     for (name, type_), word in zip(named, words[1:])})
        else:
            message.kind = "unknown"
    except ValueError:
        message.kind = "unknown"
    return message


class Agent:  # the agent's link to the market, and what it knows of the market
    def __init__(self, login: str | None = None, password: str | None = None,
                 gateway: str = "RemoteControl"):
        self.login = login or os.environ.get("MARKET_LOGIN", "CLogin")
        password = password or os.environ.get("MARKET_PASSWORD", "TGatekeep")
        self.admitted, self.closed = False, False  # accept, closed_market have come
        self.denied: str | None = None  # the reason
        self.auction = self.round = 0
        self.goods: dict = {}  # id -> Good, this auction's, in the order they come
        self.buyers: list[str] = []
        self.good: Good | None = None  # under the hammer
        self.price: int | None = None  # in force: a bid now buys at it
        self.credit, self.sanctions, self.expelled = INITIAL_CREDIT, 0, False  # this auction's
        self.bought: list[tuple] = []  # (auction, good id, price)
        self.returncode: int | None = None
        self._gateway = Gateway([gateway, self.login])
        self._send(f"admission {self.login} {password}")

    @property
    def n(self) -> int:  # the buyers present in the auction, the agent among them
        return len(self.buyers)

    def can_bid(self) -> bool:
        return self.price is not None and not self.expelled and not self.closed

    def bid(self) -> bool:
        """Bids at the price in force; False (nothing sent) when no price is in force for us."""
        return self.can_bid() and self._send("bid")

    def exit(self) -> None:  # leaves the market: the gateway closes its output at once
        self._send("exit")

    def messages(self) -> Iterator[Message]:
        """Each market message in turn, the state already updated; ends at end of output."""
        for line in self._gateway.messages:
            message = parse(line.rstrip("\n"))
            self._update(message)
            yield message
        self.close()

    def close(self, wait: float = 5.0) -> int:
        """Closes the command pipe and waits for the gateway: SIGTERM after `wait` seconds,
        SIGKILL two seconds later. Returns its exit status."""
        if self.returncode is None:
            gateway = self._gateway
            for stream in (gateway.commands, gateway.messages):
                try:
                    stream.close()
                except OSError:  # what could not be written is lost with the gateway
                    pass
            for stop, grace in ((None, wait), ("SIGTERM", 2.0), ("SIGKILL", None)):
                if stop:
                    gateway.stop(stop)
                self.returncode = gateway.wait(grace)
                if self.returncode is not None:
                    break
        return self.returncode

    def __enter__(self) -> Agent:  # "with Agent() as agent": closed however the block ends
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def _send(self, line: str) -> bool:
        try:
            self._gateway.commands.write(line + "\n")
            self._gateway.commands.flush()
        except (ValueError, OSError):  # the gateway is gone (a broken pipe), or we closed it
            return False
        return True

    def _update(self, m: Message) -> None:
        me = getattr(m, "buyer", None) == self.login
        if m.kind == "accept":
            self.admitted = True
        elif m.kind == "deny":
            self.denied = m.reason
        elif m.kind == "open_auction":
            self.auction, self.round, self.goods, self.buyers = m.number, 0, {}, []
            self.credit, self.sanctions, self.expelled = INITIAL_CREDIT, 0, False
        elif m.kind == "buyers":
            self.buyers = m.names
        elif m.kind == "goods":
            self.goods = {g.id: g for g in m.goods}
        elif m.kind == "open_round":
            self.round = m.number
        elif m.kind == "good":
            self.good, self.price = m.good, None
        elif m.kind in ("offer", "collision"):
            self.price = m.price
        elif m.kind in ("sold", "out_of_market"):
            if m.kind == "sold" and me:
                self.credit -= m.price
                self.bought.append((self.auction, self.good.id if self.good else "", m.price))
            self.good, self.price = None, None
        elif m.kind == "sanction":
            self.price = None
            self.sanctions += me
        elif m.kind == "expulsion":
            self.expelled = self.expelled or me
        elif m.kind == "closed_market":
            self.closed, self.good, self.price = True, None, None


def run(decide, **agent_args) -> int:
    """Plays a whole session: decide(agent, message) is asked at each price in force and bids
    when it returns True. Returns 0 when the market closed and the gateway exited 0."""
    started = time.monotonic()
    try:
        agent = Agent(**agent_args)
    except OSError as error:
        print(f"cannot start the market gateway: {error}", file=sys.stderr)
        return 1
    with agent:
        for message in agent.messages():
            if message.kind in ("offer", "collision") and agent.can_bid() and \
                    decide(agent, message):
                agent.bid()
    status = agent.returncode
    print(f"{agent.login}: bought {len(agent.bought)} goods in {time.monotonic() - started:.1f} s"
          f", denied {agent.denied}, gateway exit {status}")
    return 0 if agent.closed and status == 0 else 1
