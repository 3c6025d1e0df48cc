"""A shading bidder: bids on a good while its price is at most (n - 1) / n of the good's resale
price, n the buyers present in the auction (the last buyers list), and within the agent's
credit: with values uniform and no reserve, the risk-neutral equilibrium of a descending auction.

    PATH=build/bin:$PATH python3 agents/python/shading_bidder.py
"""

import sys

from market_agent import run


def decide(agent, message):
    n = max(agent.n, 1)
    return message.price <= agent.credit and message.price * n <= agent.good.resale * (n - 1)


if __name__ == "__main__":
    sys.exit(run(decide))
