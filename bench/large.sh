#!/usr/bin/env bash
# The largest valid session beside the default one, in a Release build (build-bench/): market-sim
# runs one session of each scenario with its results written, and market-report makes the
# session page from those results. For each, this prints the peak memory (maximum resident set
# size, from /usr/bin/time -v), the wall time and the size of what it wrote; and the load average,
# since the times depend on it.
#
# Settings (environment):
#   BENCH_BUILD     build folder (default build-bench)
#   BENCH_NO_BUILD  1 uses the programs already built there instead of building them
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
  cmake --build "$build" -j 2 --target market-sim market-report >/dev/null
fi
sim=$build/bin/market-sim
report=$build/bin/market-report
[ -x "$sim" ] || fail "no market-sim in $build/bin"
[ -x "$report" ] || fail "no market-report in $build/bin"

data=$build/bench/large
rm -rf "$data"
mkdir -p "$data"

seed_args=()
[ -n "${BENCH_SEED:-}" ] && seed_args=(--seed "$BENCH_SEED")

# Peak MiB and wall seconds from a /usr/bin/time -v file.
peak_mib() {
  sed -n 's/.*Maximum resident set size (kbytes): \([0-9]*\).*/\1/p' "$1" |
    awk '{ printf "%.1f", $1 / 1024 }'
}
seconds() {
  sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): \(.*\)/\1/p' "$1" |
    awk -F: '{ s = 0; for (i = 1; i <= NF; ++i) s = s * 60 + $i; printf "%.2f", s }'
}
megabytes() { stat -c %s "$1" | awk '{ printf "%.2f", $1 / 1e6 }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-14s | %-30s | %-30s\n' "" "market-sim --results" "market-report (session page)"
printf '%-14s | %9s %8s %11s | %9s %8s %11s\n' scenario "peak MiB" "time s" "results MB" \
  "peak MiB" "time s" "page MB"
for scenario in "$root/scenarios/default.toml" "$large"; do
  name=$(basename "$scenario" .toml)
  results=$data/$name.json
  page=$data/$name.html
  /usr/bin/time -v -o "$data/$name.sim.time" "$sim" "$scenario" "${seed_args[@]}" \
    --results "$results" >"$data/$name.out" || fail "market-sim failed on $scenario"
  seed=$(sed -n 's/.*, seed \([0-9][0-9]*\):.*/\1/p' "$data/$name.out" | head -n 1)
  /usr/bin/time -v -o "$data/$name.report.time" "$report" "$results" -o "$page" \
    >"$data/$name.report.out" 2>&1 || fail "market-report failed on $results"
  printf '%-14s | %9s %8s %11s | %9s %8s %11s   (seed %s)\n' "$name" \
    "$(peak_mib "$data/$name.sim.time")" "$(seconds "$data/$name.sim.time")" \
    "$(megabytes "$results")" "$(peak_mib "$data/$name.report.time")" \
    "$(seconds "$data/$name.report.time")" "$(megabytes "$page")" "${seed:-?}"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "measured with: /usr/bin/time -v $sim SCENARIO --results FILE, then"
echo "  /usr/bin/time -v $report FILE -o PAGE (files in $data)"
