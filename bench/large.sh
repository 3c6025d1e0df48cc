#!/usr/bin/env bash
# The largest valid session beside the default one: market-sim runs one session of each scenario
# with its results written, in a Release build (build-bench/), and this prints each one's peak
# memory (maximum resident set size, from /usr/bin/time -v), wall time and results size.
#
# Settings (environment):
#   BENCH_BUILD     build folder (default build-bench)
#   BENCH_NO_BUILD  1 uses the market-sim already built there instead of building it
#   BENCH_LARGE     the large scenario (default scenarios/sim_largest.toml)
#   BENCH_SEED      the sessions' seed (default: each scenario's own)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
large=${BENCH_LARGE:-$root/scenarios/sim_largest.toml}

fail() {
  echo "bench-large: $*" >&2
  exit 1
}

[ -x /usr/bin/time ] || fail "needs /usr/bin/time (GNU time) for the peak memory"
if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target market-sim >/dev/null
fi
sim=$build/bin/market-sim
[ -x "$sim" ] || fail "no market-sim in $build/bin"

data=$build/bench/large
rm -rf "$data"
mkdir -p "$data"

seed_args=()
[ -n "${BENCH_SEED:-}" ] && seed_args=(--seed "$BENCH_SEED")

printf '%-22s %12s %10s %14s\n' scenario "peak MiB" "time s" "results MB"
for scenario in "$root/scenarios/default.toml" "$large"; do
  name=$(basename "$scenario" .toml)
  results=$data/$name.json
  /usr/bin/time -v -o "$data/$name.time" "$sim" "$scenario" "${seed_args[@]}" \
    --results "$results" >"$data/$name.out" || fail "market-sim failed on $scenario"
  seed=$(sed -n 's/.*, seed \([0-9][0-9]*\):.*/\1/p' "$data/$name.out" | head -n 1)
  peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\).*/\1/p' "$data/$name.time")
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): \(.*\)/\1/p' "$data/$name.time")
  seconds=$(awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; printf "%.2f", s }' \
    <<<"$wall")
  bytes=$(stat -c %s "$results")
  printf '%-22s %12.1f %10s %14.2f   (seed %s)\n' "$name" "$(awk "BEGIN { print $peak_kb / 1024 }")" \
    "$seconds" "$(awk "BEGIN { print $bytes / 1e6 }")" "${seed:-?}"
done
echo "measured with: /usr/bin/time -v $sim SCENARIO --results FILE (files in $data)"
