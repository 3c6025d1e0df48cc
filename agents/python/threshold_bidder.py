"""A threshold bidder: bids on a good while its price is at most THRESHOLD percent of the good's
resale price (argument one, default 90) and within the agent's credit.

    PATH=build/bin:$PATH python3 agents/python/threshold_bidder.py 90
"""

import sys

from market_agent import run


def main() -> int:
    threshold = int(sys.argv[1]) if len(sys.argv) > 1 else 90

    def decide(agent, message):
        return message.price <= agent.credit and \
            message.price * 100 <= agent.good.resale * threshold

    return run(decide)


if __name__ == "__main__":
    sys.exit(main())
