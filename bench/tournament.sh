#!/usr/bin/env bash
# A tournament of SESSIONS virtual-time sessions (default 1,000,000) of the default scenario with
# four built-in bidders (tournament_bench's own file, from its --print-file), run with --jobs 2
# and then shown, beside market-sim playing the same sessions (the same seeds) on one thread.
# Prints each one's wall and CPU time (user + system) and peak memory (maximum resident set size,
# from /usr/bin/time -v), the database's size, the load average before and after, and each figure
# against its target.
#
# Usage: bash bench/tournament.sh [SESSIONS]
# Settings (environment):
#   BENCH_BUILD     build folder (default build-bench)
#   BENCH_NO_BUILD  1 uses the programs already built there instead of building them
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BENCH_BUILD:-$root/build-bench}")
sessions=${1:-1000000}

fail() {
  echo "bench-tournament: $*" >&2
  exit 1
}

[ -x /usr/bin/time ] || fail "needs /usr/bin/time (GNU time) for the peak memory"
[[ $sessions =~ ^[1-9][0-9]*$ ]] || fail "SESSIONS must be a positive whole number"
if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target tournament market-sim tournament_bench >/dev/null
fi
for program in tournament market-sim tournament_bench; do
  [ -x "$build/bin/$program" ] || fail "no $program in $build/bin"
done

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
cp "$root/scenarios/default.toml" "$data/default.toml"
"$build/bin/tournament_bench" --print-file "$sessions" >"$data/bench.toml"

# Runs a command under GNU time; prints "wall cpu peak_mib" for it.
measure() {
  local out=$data/time.txt
  /usr/bin/time -v -o "$out" "$@" >/dev/null
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0; for (i = 1; i <= n; ++i) wall = wall * 60 + t[i] }
    /User time/ { cpu += $2 }
    /System time/ { cpu += $2 }
    /Maximum resident/ { peak = $2 / 1024 }
    END { printf "%.2f %.2f %.1f\n", wall, cpu, peak }' "$out"
}

echo "load before: $(uptime)"
read -r run_wall run_cpu run_peak < <(cd "$data" && measure "$build/bin/tournament" run bench.toml --db bench.db --jobs 2)
read -r show_wall show_cpu show_peak < <(cd "$data" && measure "$build/bin/tournament" show --db bench.db)
read -r sim_wall sim_cpu sim_peak < <(cd "$data" && measure "$build/bin/market-sim" default.toml --seed 1 --sessions "$sessions")
db_bytes=$(stat -c %s "$data/bench.db")
echo "load after:  $(uptime)"

printf '%-34s %10s %10s %10s\n' "" "wall s" "CPU s" "peak MiB"
printf '%-34s %10s %10s %10s\n' "tournament run, --jobs 2" "$run_wall" "$run_cpu" "$run_peak"
printf '%-34s %10s %10s %10s\n' "tournament show" "$show_wall" "$show_cpu" "$show_peak"
printf '%-34s %10s %10s %10s\n' "market-sim, one thread" "$sim_wall" "$sim_cpu" "$sim_peak"
awk -v s="$sessions" -v b="$db_bytes" -v rw="$run_wall" -v sw="$show_wall" -v mw="$sim_wall" \
  -v rp="$run_peak" 'BEGIN {
    printf "database: %.1f MiB, %.0f bytes a session\n", b / 1048576, b / s
    printf "targets (at 1,000,000 sessions): run under 60 s wall: %s; within 2x of market-sim: %.2fx %s;\n",
      rw < 60 ? "met" : "missed", rw / mw, rw <= 2 * mw ? "met" : "missed"
    printf "  peak under 256 MiB: %s; database under 1 GiB: %s; show under 1 s: %s\n",
      rp < 256 ? "met" : "missed", b < 1073741824 ? "met" : "missed", sw < 1 ? "met" : "missed"
  }'
