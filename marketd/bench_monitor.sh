#!/usr/bin/env bash
# The live monitor's cost to the market's clock: the same session twice on loopback, marketd with
# --http both times, one honest bidder timing the gaps between the prices it receives; first with
# no viewer, then with VIEWERS (50) viewers attached to /events, STALLED (1) of them never reading.
# Prints p50 / p99 / max gap over the tick for both runs and their ratio. A viewer receives about
# 36 KB in this session, which the kernel alone would hold for the stalled one; so both runs set
# a 16 KiB kernel send buffer per connection and the viewers' queue limit HTTP_QUEUE_LIMIT (4096
# bytes, far below the default): the stalled viewer is then dropped mid-session, and its drop is
# part of what is measured.
#
# Usage: marketd/bench_monitor.sh BUILD_DIR (a Release build is meant)
set -euo pipefail

build=${1:?usage: bench_monitor.sh BUILD_DIR}
bin=$(cd "$build/bin" && pwd)
viewers=${VIEWERS:-50}
stalled=${STALLED:-1}
queue_limit=${HTTP_QUEUE_LIMIT:-4096}
tick_ms=20
work=$(mktemp -d)
server=
trap '[ -n "$server" ] && kill $server 2>/dev/null; rm -rf "$work"' EXIT

# Nobody else bids: three goods walk down 201 prices each, about 600 ticks (12 s).
cat > "$work/bench.toml" <<TOML
tick_ms = $tick_ms
price_step = 10
admission_window_ms = 0
min_buyers = 1
[[registry]]
login = "Hana"
password = "bench-pw"
[[auctions]]
goods = [
  { id = "g1", kind = "k", seller = "s", initial = 3000, resale = 900, reserve = 1000 },
  { id = "g2", kind = "k", seller = "s", initial = 3000, resale = 900, reserve = 1000 },
  { id = "g3", kind = "k", seller = "s", initial = 3000, resale = 900, reserve = 1000 },
]
TOML

run() {  # VIEWERS STALLED
  rm -f "$work/port" "$work/http-port"
  "$bin/marketd" --scenario "$work/bench.toml" --listen 127.0.0.1:0 --port-file "$work/port" \
    --http 0 --http-port-file "$work/http-port" --http-queue-limit "$queue_limit" \
    --send-buffer 16384 > /dev/null 2> "$work/marketd.err" &
  server=$!
  for _ in $(seq 100); do
    [ -s "$work/http-port" ] && break
    sleep 0.1
  done
  [ -s "$work/http-port" ] || { cat "$work/marketd.err" >&2; exit 1; }
  "$bin/market_monitor_bench" --market "$(cat "$work/port")" --http "$(cat "$work/http-port")" \
    --login Hana --password bench-pw --tick-ms $tick_ms --viewers "$1" --stalled "$2" \
    | tee -a "$work/figures"
  wait $server
  server=
  grep '^Monitor:' "$work/marketd.err" || true
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
run 0 0
run "$viewers" "$stalled"
awk '{ for (i = 1; i <= NF; ++i) { if ($i == "p50") p50[NR] = $(i + 1) + 0;
                                   if ($i == "p99") p99[NR] = $(i + 1) + 0;
                                   if ($i == "max") mx[NR] = $(i + 1) + 0 } }
     END { printf "ratio with viewers / without: p50 %.3f, p99 %.3f, max %.3f\n",
           p50[2] / p50[1], p99[2] / p99[1], mx[2] / mx[1] }' "$work/figures"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
