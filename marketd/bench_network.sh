#!/usr/bin/env bash
# The load benchmark of marketd: 100 scripted bidders on 100 connections on loopback play a whole
# session of scenarios/load.toml. Prints messages per second, the offer-to-bid response times at
# the server, the server's CPU time and peak memory, and checks that no bid was lost: the bids
# each connection sent equal the bids the server recorded from it.
#
# Usage: marketd/bench_network.sh BUILD_DIR (a Release build is meant)
set -euo pipefail

build=${1:?usage: bench_network.sh BUILD_DIR}
bin=$(cd "$build/bin" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT

"$bin/marketd" --scenario "$root/scenarios/load.toml" --listen 127.0.0.1:0 \
  --port-file "$work/port" --results "$work/results.json" > /dev/null 2> "$work/marketd.err" &
server=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  sleep 0.1
done
if [ ! -s "$work/port" ]; then
  echo "marketd did not start listening" >&2
  cat "$work/marketd.err" >&2
  exit 1
fi

# Thresholds 2600 down to 1700 in steps of 100: some bid at once, many collide.
peer_status=0
"$bin/market_peer" --connect "127.0.0.1:$(cat "$work/port")" --login b --password load-pw \
  --count 100 --bid-at-or-below 2600 --spread 100 --timeout 600 > "$work/peers.out" ||
  peer_status=$?
server_status=0
wait $server || server_status=$?

sent=$(awk '{ split($2, a, "="); s += a[2] } END { print s + 0 }' "$work/peers.out")
recorded=$(grep -o '"login": "b[0-9]*", "bids": [0-9]*' "$work/results.json" |
  awk '{ s += $NF } END { print s + 0 }')
# Per connection: what it sent against what the server recorded from it.
mismatched=$(join <(awk '{ split($2, a, "="); print $1, a[2] }' "$work/peers.out" | sort) \
  <(grep -o '"login": "b[0-9]*", "bids": [0-9]*' "$work/results.json" |
    sed 's/"login": "\(b[0-9]*\)", "bids": \([0-9]*\)/\1 \2/' | sort) |
  awk '$2 != $3' | wc -l)
connections=$(grep -c 'end=closed_market' "$work/peers.out" || true)

echo "marketd load benchmark: 100 connections, scenarios/load.toml"
grep -E '^(Server|Bids):' "$work/marketd.err"
echo "connections that saw the market close: $connections of 100"
echo "bids sent by the bidders: $sent; recorded by the server: $recorded;" \
  "connections that differ: $mismatched"
if [ "$peer_status" -ne 0 ] || [ "$server_status" -ne 0 ] || [ "$sent" -ne "$recorded" ] ||
   [ "$mismatched" -ne 0 ] || [ "$connections" -ne 100 ]; then
  echo "FAILED: bids lost or a session fault (marketd $server_status, bidders $peer_status)" >&2
  exit 1
fi
echo "no bid lost"
