#!/usr/bin/env bash
# Checks on a tiny stream that the benchmark pieces fit together and measure what they claim to:
#   - the agent sends exactly the bids the stream generator's model of its rule predicts;
#   - the I/O floor writes the agent's output byte for byte, whatever its write size, and sends
#     the same bids;
#   - the trace stream fills all 21 auctions' tables (200 goods and 100 buyers each);
#   - the latency gateway gets a "bid" for every offer from both the agent and the echo peer.
#
#   smoke.sh BIN_DIR THROUGHPUT_GATEWAY_DIR LATENCY_GATEWAY_DIR
set -euo pipefail

bin=$1
throughput_path="$2:$PATH"
latency_path="$3:$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "bench smoke: $*" >&2
  exit 1
}

field() { sed -n "s/.*\<$2=\([-0-9.]*\).*/\1/p" "$1"; }

"$bin/stream_gen" sessions "$work/s.txt" "$work/s.bids" 0.5 7 >/dev/null
expected=$(wc -l <"$work/s.bids")
[ "$expected" -gt 0 ] || fail "the session stream has no bids"

BENCH_STREAM=$work/s.txt BENCH_RESULT=$work/agent.result PATH=$throughput_path \
  "$bin/buyer" >"$work/agent.out" || fail "the agent failed on the session stream"
[ "$(field "$work/agent.result" bids)" -eq "$expected" ] ||
  fail "the agent sent $(field "$work/agent.result" bids) bids, the model predicts $expected"
[ "$(field "$work/agent.result" complete)" -eq 1 ] || fail "the gateway did not write the stream"
[ "$(grep -c '^bid$' "$work/agent.out")" -eq "$expected" ] || fail "the agent's log misses bids"

# Write sizes that divide the output unevenly, the default and the largest bench/run.sh tries.
for piece in 1000 4096 65536; do
  rm -f "$work/base.result"
  BENCH_STREAM=$work/s.txt BENCH_RESULT=$work/base.result PATH=$throughput_path \
    "$bin/io_baseline" "$work/s.txt" "$work/agent.out" "$work/s.bids" "$piece" >"$work/base.out" ||
    fail "the baseline failed ($piece byte writes)"
  cmp -s "$work/agent.out" "$work/base.out" ||
    fail "the baseline's output differs from the agent's ($piece byte writes)"
  [ "$(field "$work/base.result" bids)" -eq "$expected" ] ||
    fail "the baseline's bids differ ($piece byte writes)"
done

"$bin/stream_gen" trace "$work/t.txt" "$work/t.bids" 2 >/dev/null
BENCH_STREAM=$work/t.txt BENCH_RESULT=$work/trace.result PATH=$throughput_path \
  "$bin/buyer" >"$work/trace.out" || fail "the agent failed on the trace stream"
[ "$(grep -c '^ id: ' "$work/trace.out")" -eq $((2 * 21 * 200)) ] ||
  fail "the traces do not show 21 full goods tables twice"
[ "$(grep -c '^ na: ' "$work/trace.out")" -eq $((2 * 21 * 100)) ] ||
  fail "the traces do not show 21 full buyer tables twice"

for program in buyer echo_peer; do
  BENCH_ROUNDS=300 BENCH_WARMUP=10 BENCH_RESULT=$work/latency.$program PATH=$latency_path \
    "$bin/$program" >/dev/null || fail "$program failed the latency loop"
  [ "$(field "$work/latency.$program" rounds)" -eq 300 ] || fail "$program: rounds missing"
done
echo "bench smoke: ok ($expected bids)"
