#!/usr/bin/env bash
# One networked market session on loopback: marketd serving scenarios/network.toml, three
# scripted network bidders (Pia, Quin, Ravi) and the agent, whose gateway relays to marketd.
#
# Usage: marketd/run_network.sh BUILD_DIR
# The live monitor is served on MONITOR_HTTP ([HOST:]PORT, default 127.0.0.1:0: a free port); its
# URL is printed. MONITOR_WAIT=SECONDS holds the buyers back that long, time to open the page.
# Writes into out/network/: buyer.log (the agent's log), results.json, LOGIN.log (each bidder's
# messages), peer-LOGIN.out (its report) and transcript.txt (marketd's). The market's summary goes
# to the terminal. Exits with the agent's status.
set -euo pipefail

build=${1:?usage: run_network.sh BUILD_DIR}
bin=$(cd "$build/bin" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
logs=$PWD/out/network
mkdir -p "$logs"
rm -f "$logs/port" "$logs/http-port"

"$bin/marketd" --scenario "$root/scenarios/network.toml" --listen 127.0.0.1:0 \
  --port-file "$logs/port" --results "$logs/results.json" \
  --transcript "$logs/transcript.txt" --http "${MONITOR_HTTP:-127.0.0.1:0}" \
  --http-port-file "$logs/http-port" > "$logs/marketd.out" &
server=$!
pids=()
cleanup() {
  for pid in "${pids[@]}" "$server"; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# The port, once marketd listens (at most 10 s).
for _ in $(seq 100); do
  [ -s "$logs/port" ] && grep -q '^marketd monitor on' "$logs/marketd.out" && break
  kill -0 "$server" 2>/dev/null || { echo "marketd did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$logs/port" ] || { echo "marketd did not start listening" >&2; exit 1; }
address=127.0.0.1:$(cat "$logs/port")
echo "marketd listening on $address"
echo "live monitor: $(sed -n 's/^marketd monitor on //p' "$logs/marketd.out")"
sleep "${MONITOR_WAIT:-0}"

bidder() {  # LOGIN PASSWORD THRESHOLD
  "$bin/market_peer" --connect "$address" --login "$1" --password "$2" \
    --bid-at-or-below "$3" --log-dir "$logs" --timeout 120 > "$logs/peer-$1.out" &
  pids+=($!)
}
bidder Pia pia-pw 1900
bidder Quin quin-pw 1800
bidder Ravi ravi-pw 2000

status=0
MARKET_ADDRESS=$address PATH="$bin:$PATH" timeout 180 "$bin/buyer" > "$logs/buyer.log" || status=$?
for pid in "${pids[@]}"; do wait "$pid" || true; done
pids=()
wait "$server" || true
cat "$logs"/peer-*.out
echo "The agent's log is in out/network/buyer.log, the results in out/network/results.json;"
echo "the agent exited with status $status."
exit $status
