#!/usr/bin/env bash
# The stepped clock's benchmark (make bench-stepped), in a Release build (build-bench/):
#  1. the default session through make run's path (the agent starting its gateway, process start
#     included), on the stepped clock against the real clock's 40 ms ticks;
#  2. ticks per second of the agent on the stepped clock (bench/stepped_ticks.toml: every tick an
#     offer the agent reads and lets pass) against the floor for one tick measured in the same run
#     (stepped_floor: a pipe round trip to /bin/cat plus one look of the agent watch);
#  3. make tournament's file (tournament/demo.toml: the buyer and the Python example agent, 30
#     seeds, 10 ms ticks) through marketd on the stepped clock against the same on the real clock,
#     one run each, --jobs BENCH_TOURNAMENT_JOBS, and beside them its floor: the same lineup and
#     sessions on a market without goods (no tick: the processes' start, the logins and the close);
#  4. with BENCH_THOUSAND=1: 1,000 seeds of the buyer against 4 built-in bidders on the stepped
#     clock (the demo's lineup without the Python agent), --jobs BENCH_TOURNAMENT_JOBS.
# Figures 1 and 2 are medians over the repetitions.
#
# Settings (environment):
#   BENCH_REPS          stepped runs of the default session, and runs of the tick rate (default 5)
#   BENCH_REAL_REPS     real-clock runs of the default session (default 3; about 6 s each)
#   BENCH_FLOOR_ROUNDS  rounds of the floor program (default 20000)
#   BENCH_BUILD         build folder (default build-bench)
#   BENCH_NO_BUILD      1 uses the programs already built there
#   BENCH_TOURNAMENT    0 skips figures 3 and 4
#   BENCH_TOURNAMENT_JOBS  sessions at once in figures 3 and 4 (default: the number of cores, as
#                          make tournament)
#   BENCH_THOUSAND      1 adds figure 4 (under a minute on 2 cores is the target)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
reps=${BENCH_REPS:-5}
real_reps=${BENCH_REAL_REPS:-3}
floor_rounds=${BENCH_FLOOR_ROUNDS:-20000}

if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target buyer remote_control stepped_floor marketd tournament \
    >/dev/null
fi
bin=$build/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "bench-stepped: $*" >&2
  exit 1
}

median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

calc() {
  awk "BEGIN { printf \"%.${2:-2}f\", $1 }"
}

# session CLOCK [SCENARIO]: runs the agent as make run does; prints the wall time in ms.
session() {
  local clock=$1 scenario=${2:-}
  local start end
  start=$(date +%s%N)
  PATH="$bin:$PATH" MARKET_CLOCK=$clock MARKET_SCENARIO=$scenario \
    MARKET_RESULTS="$work/results.json" "$bin/buyer" >/dev/null 2>"$work/summary.txt" ||
    fail "the agent's session on the $clock clock failed: $(tail -3 "$work/summary.txt")"
  end=$(date +%s%N)
  grep -q '"completed": true' "$work/results.json" || fail "the $clock session did not complete"
  calc "($end - $start) / 1e6" 3
}

# late: the agent's late ticks in the last session's results.
late() {
  sed -n 's/.*"late_ticks": \([0-9]*\).*/\1/p' "$work/results.json" | head -1
}

echo "bench-stepped: $(nproc) cores, load average $(cut -d" " -f1-3 /proc/loadavg), $reps stepped and $real_reps real runs"

# 1. The default session.
: >"$work/stepped.ms"
: >"$work/real.ms"
lates=0
for ((i = 0; i < reps; i++)); do
  session stepped >>"$work/stepped.ms"
  echo >>"$work/stepped.ms"
  lates=$((lates + $(late)))
  if ((i < real_reps)); then
    session real >>"$work/real.ms"
    echo >>"$work/real.ms"
  fi
done
stepped_ms=$(median <"$work/stepped.ms")
real_ms=$(median <"$work/real.ms")
printf '%-58s %10s %10s %8s\n' "default session (make run's path)" "stepped" "real" "speed-up"
printf '%-58s %8s ms %7s ms %7sx\n' "wall time, process start included (median)" \
  "$stepped_ms" "$real_ms" "$(calc "$real_ms / $stepped_ms" 1)"
echo "  late ticks over the stepped runs: $lates; targets: at least 50x, stepped under 120 ms"

# 2. Ticks per second against the floor.
: >"$work/rate"
: >"$work/floor"
for ((i = 0; i < reps; i++)); do
  ms=$(session stepped "$root/bench/stepped_ticks.toml")
  ticks=$(grep -o '"offer"\|"collision"' "$work/results.json" | wc -l)
  [ "$(late)" = 0 ] || fail "the tick-rate session had $(late) late ticks"
  calc "$ticks / ($ms / 1000)" 0 >>"$work/rate"
  echo >>"$work/rate"
  "$bin/stepped_floor" "$floor_rounds" >"$work/floor.out" || fail "stepped_floor failed"
  ns=$(sed -n 's/.*ns_per_round=\([0-9.]*\).*/\1/p' "$work/floor.out")
  calc "1e9 / $ns" 0 >>"$work/floor"
  echo >>"$work/floor"
done
rate=$(median <"$work/rate")
floor=$(median <"$work/floor")
printf '%-58s %10s %10s %8s\n' "ticks per second, one agent ($ticks ticks a session)" "agent" "floor" "floor/agent"
printf '%-58s %10s %10s %7sx\n' "stepped clock against a round trip + one idle look" "$rate" "$floor" \
  "$(calc "$floor / $rate" 2)"
echo "  target: the agent within 3x of the floor"

# 3 and 4. Tournaments through marketd.
[ "${BENCH_TOURNAMENT:-1}" = 1 ] || exit 0
jobs=${BENCH_TOURNAMENT_JOBS:-$(nproc)}
# python3 as make tournament runs it: the interpreter's folder first on PATH when python3 is a shim
# in front of it.
py_dir=$(python3 -c 'import os, sys; print(os.path.dirname(sys.executable))' 2>/dev/null || true)
[ "$py_dir" != "$(dirname "$(command -v python3)")" ] || py_dir=
# tournament FILE: runs it from the demo's folder (agents' paths are relative to it); prints the
# wall time in ms, then the CPU time (user and system) of the runner and every process it started.
tournament() {
  local start end TIMEFORMAT='%U %S'
  rm -f "$work/t.db" "$work/t.db-wal" "$work/t.db-shm"
  start=$(date +%s%N)
  { time PATH="${py_dir:+$py_dir:}$PATH" PYTHONDONTWRITEBYTECODE=1 \
    "$bin/tournament" run "$1" --db "$work/t.db" --jobs "$jobs" >"$work/t.out" 2>&1; } \
    2>"$work/t.cpu" || fail "tournament $1 failed: $(tail -3 "$work/t.out")"
  end=$(date +%s%N)
  echo "$(calc "($end - $start) / 1e6" 0) $(awk '{ printf "%.0f", ($1 + $2) * 1000 }' "$work/t.cpu")"
}
sed 's/^clock = "stepped"/clock = "real"/' "$root/tournament/demo.toml" >"$root/tournament/.bench-tournament.toml"
trap 'rm -rf "$work" "$root/tournament/.bench-tournament.toml"' EXIT
read -r t_stepped cpu_stepped < <(tournament "$root/tournament/demo.toml")
read -r t_real cpu_real < <(tournament "$root/tournament/.bench-tournament.toml")
# The floor: the demo's file on a market of one auction without goods.
printf '[[registry]]\nlogin = "CLogin"\npassword = "TGatekeep"\n\n[[auctions]]\nrounds = 1\n' \
  >"$work/no-goods.toml"
sed "s#^scenarios = .*#scenarios = [\"$work/no-goods.toml\"]#" "$root/tournament/demo.toml" \
  >"$root/tournament/.bench-tournament.toml"
read -r t_floor cpu_floor < <(tournament "$root/tournament/.bench-tournament.toml")
sessions=$(sed -n 's/^seeds = .*count = \([0-9]*\).*/\1/p' "$root/tournament/demo.toml")
printf '%-58s %10s %10s %8s\n' "make tournament ($sessions seeds, --jobs $jobs)" "stepped" "real" "speed-up"
printf '%-58s %8s ms %7s ms %7sx\n' "wall time, 10 ms ticks" "$t_stepped" "$t_real" \
  "$(calc "$t_real / $t_stepped" 1)"
printf '%-58s %8s ms %7s ms %7sx\n' "floor: the same sessions without a tick (start, login, close)" \
  "$t_floor" "$t_real" "$(calc "$t_real / $t_floor" 1)"
echo "  a session: wall time / sessions: stepped $(calc "$t_stepped / $sessions" 1) ms," \
  "floor $(calc "$t_floor / $sessions" 1) ms; CPU time of all its processes: stepped" \
  "$(calc "$cpu_stepped / $sessions" 1) ms, floor $(calc "$cpu_floor / $sessions" 1) ms," \
  "real $(calc "$cpu_real / $sessions" 1) ms"
echo "  python3: $("${py_dir:+$py_dir/}python3" -c 'import sys; print(sys.executable)')"
echo "  target: at least 20x"

[ "${BENCH_THOUSAND:-0}" = 1 ] || exit 0
# The demo's file without the Python agent's entry, over 1,000 seeds.
python3 - "$root/tournament/demo.toml" >"$root/tournament/.bench-tournament.toml" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
text = re.sub(r"(?m)^seeds = .*$", "seeds = { base = 1, count = 1000 }", text)
parts = text.split("  [[lineups.entries]]\n")
print("  [[lineups.entries]]\n".join(p for p in parts if "command = " not in p), end="")
PY
read -r t_thousand _ < <(tournament "$root/tournament/.bench-tournament.toml")
printf '%-58s %8s ms\n' "1,000 seeds, the buyer against 4 built-in bidders, stepped" "$t_thousand"
echo "  target: under 60000 ms on 2 cores"
