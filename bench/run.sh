#!/usr/bin/env bash
# Builds the agent and the benchmark programs in Release (in build-bench/) and prints the
# benchmark table. Every figure is measured beside a baseline in the same run, agent and baseline
# alternating; figures are medians over the repetitions.
#
# Settings (environment):
#   BENCH_MB            size of the throughput stream in MiB (default 50)
#   BENCH_REPS          timed runs of each side (default 5)
#   BENCH_LAT_ROUNDS    timed offer-to-bid round trips per latency run (default 20000)
#   BENCH_TRACE_ROUNDS  open_rounds in the trace stream (default 100)
#   BENCH_MICRO         0 skips the micro-benchmarks
#   BENCH_PIECES        write sizes (bytes) the throughput floor is run with; each run keeps the
#                       fastest (default 4096 8192 16384 32768 65536)
#   BENCH_BUILD         build folder (default build-bench)
#   BENCH_NO_BUILD      1 uses the programs already built there instead of building them
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
mb=${BENCH_MB:-50}
reps=${BENCH_REPS:-5}
lat_rounds=${BENCH_LAT_ROUNDS:-20000}
trace_rounds=${BENCH_TRACE_ROUNDS:-100}
micro=${BENCH_MICRO:-1}
read -r -a pieces <<<"${BENCH_PIECES:-4096 8192 16384 32768 65536}"

if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target bench_programs >/dev/null
fi

bin=$build/bin
data=$build/bench/data
rm -rf "$data"
mkdir -p "$data"
# The benchmark gateway's folder goes first on PATH; build-bench/bin (which may hold the real
# gateway) is never on it.
throughput_path="$build/bench/throughput:$PATH"
latency_path="$build/bench/latency:$PATH"

fail() {
  echo "bench: $*" >&2
  exit 1
}

# field FILE KEY: the values of KEY=value on every line of FILE, one a line.
field() {
  sed -n "s/.*\<$2=\([-0-9.]*\).*/\1/p" "$1"
}

# median: the median of the numbers on standard input.
median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "nan"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# calc EXPRESSION: evaluates a floating-point expression.
calc() {
  awk "BEGIN { printf \"%.${2:-2}f\", $1 }"
}

# Runs the agent (or a baseline) against the throughput gateway with its standard output into a
# pipe read by cat; appends the gateway's result line to $1.
throughput_run() {
  local result=$1 stream=$2
  shift 2
  BENCH_STREAM=$stream BENCH_RESULT=$result PATH=$throughput_path "$@" | cat >/dev/null
  local status=("${PIPESTATUS[@]}")
  [ "${status[0]}" -eq 0 ] || fail "$* exited with status ${status[0]}"
}

# Captures the agent's output on a stream and checks that it bid where the stream's model says.
capture() {
  local stream=$1 bids=$2 out=$3
  BENCH_STREAM=$stream BENCH_RESULT=$out.result PATH=$throughput_path "$bin/buyer" >"$out" ||
    fail "the agent failed on $stream"
  local expected got
  expected=$(wc -l <"$bids")
  got=$(field "$out.result" bids)
  [ "$expected" -eq "$got" ] || fail "the agent sent $got bids on $stream, the model expects $expected"
}

echo "== generating streams (MiB: $mb, trace rounds: $trace_rounds)" >&2
"$bin/stream_gen" sessions "$data/sessions.txt" "$data/sessions.bids" "$mb" 1 >"$data/sessions.info"
"$bin/stream_gen" trace "$data/trace.txt" "$data/trace.bids" "$trace_rounds" 1 >"$data/trace.info"
"$bin/stream_gen" trace "$data/trace0.txt" "$data/trace0.bids" 0 1 >/dev/null
capture "$data/sessions.txt" "$data/sessions.bids" "$data/sessions.out"
capture "$data/trace.txt" "$data/trace.bids" "$data/trace.out"
capture "$data/trace0.txt" "$data/trace0.bids" "$data/trace0.out"

in_bytes=$(stat -c %s "$data/sessions.txt")
out_bytes=$(stat -c %s "$data/sessions.out")
trace_in=$(stat -c %s "$data/trace.txt")
trace_out=$(stat -c %s "$data/trace.out")
trace0_out=$(stat -c %s "$data/trace0.out")

echo "== throughput and trace: $reps runs each, agent and floor (${pieces[*]} byte writes) alternating" >&2
for ((i = 1; i <= reps; i++)); do
  throughput_run "$data/tp_agent" "$data/sessions.txt" "$bin/buyer"
  for piece in "${pieces[@]}"; do
    throughput_run "$data/tp_base_$piece" "$data/sessions.txt" \
      "$bin/io_baseline" "$data/sessions.txt" "$data/sessions.out" "$data/sessions.bids" "$piece"
  done
  throughput_run "$data/tr_agent" "$data/trace.txt" "$bin/buyer"
  for piece in "${pieces[@]}"; do
    throughput_run "$data/tr_base_$piece" "$data/trace.txt" \
      "$bin/io_baseline" "$data/trace.txt" "$data/trace.out" "$data/trace.bids" "$piece"
  done
done
for f in tp_agent tr_agent "${pieces[@]/#/tp_base_}" "${pieces[@]/#/tr_base_}"; do
  [ "$(field "$data/$f" complete | sort -u)" = 1 ] || fail "a $f run did not write its whole stream"
done

# fastest KIND: for each repetition, the floor's fastest time over the piece sizes (ns), one a
# line; the piece size that was fastest goes to $data/KIND_winners.
fastest() {
  local files=()
  for piece in "${pieces[@]}"; do
    field "$data/${1}_$piece" elapsed_ns >"$data/${1}_$piece.ns"
    files+=("$data/${1}_$piece.ns")
  done
  paste "${files[@]}" | awk -v sizes="${pieces[*]}" -v winners="$data/${1}_winners" '
    BEGIN { split(sizes, size, " ") }
    { best = 1; for (k = 2; k <= NF; k++) if ($k < $best) best = k
      print $best; print size[best] > winners }'
}
# winner KIND: the piece size most often fastest, in KiB.
winner() {
  sort "$data/${1}_winners" | uniq -c | sort -k1,1nr -k2,2n | awk 'NR == 1 { print $2 / 1024 }'
}

echo "== offer-to-bid latency: $reps runs each of $lat_rounds round trips" >&2
for ((i = 1; i <= reps; i++)); do
  for side in agent echo; do
    program=$bin/buyer
    [ "$side" = echo ] && program=$bin/echo_peer
    for pin in pinned unpinned; do
      launch=()
      [ "$pin" = pinned ] && launch=(taskset -c 0)
      BENCH_ROUNDS=$lat_rounds BENCH_RESULT=$data/lat_${side}_$pin PATH=$latency_path \
        "${launch[@]}" "$program" | cat >/dev/null
      status=("${PIPESTATUS[@]}")
      [ "${status[0]}" -eq 0 ] || fail "latency run of $program ($pin) exited with ${status[0]}"
    done
  done
done

if [ "$micro" != 0 ]; then
  echo "== micro-benchmarks" >&2
  "$bin/micro_bench" --benchmark_format=csv --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true 2>/dev/null >"$data/micro.csv"
fi

# --- the table -------------------------------------------------------------------------------
mib=1048576
tp_agent_s=$(field "$data/tp_agent" elapsed_ns | median | awk '{ print $1 / 1e9 }')
tp_base_s=$(fastest tp_base | median | awk '{ print $1 / 1e9 }')
tr_agent_s=$(field "$data/tr_agent" elapsed_ns | median | awk '{ print $1 / 1e9 }')
tr_base_s=$(fastest tr_base | median | awk '{ print $1 / 1e9 }')
rss_agent=$(field "$data/tp_agent" peer_hwm_kb | median)
rss_target=4096
trace_bytes=$(calc "($trace_out - $trace0_out) / $trace_rounds" 0)

printf '\n'
printf 'Stream: %.1f MiB in, %.1f MiB out (%s); median of %s runs each.\n' \
  "$(calc "$in_bytes / $mib")" "$(calc "$out_bytes / $mib")" "$(cat "$data/sessions.info")" "$reps"
printf '\n%-48s %14s %14s %8s\n' "figure" "agent" "baseline" "ratio"
row() { printf '%-48s %14s %14s %8s\n' "$1" "$2" "$3" "$(calc "$2 / $3")"; }
row "throughput: time (s)" "$(calc "$tp_agent_s" 3)" "$(calc "$tp_base_s" 3)"
row "throughput: input (MiB/s)" "$(calc "$in_bytes / $mib / $tp_agent_s" 1)" \
  "$(calc "$in_bytes / $mib / $tp_base_s" 1)"
row "throughput: output (MiB/s)" "$(calc "$out_bytes / $mib / $tp_agent_s" 1)" \
  "$(calc "$out_bytes / $mib / $tp_base_s" 1)"
row "peak resident set, throughput run (KiB; target)" "$rss_agent" "$rss_target"
row "trace: one open_round, full tables (us)" \
  "$(calc "$tr_agent_s * 1e6 / $trace_rounds" 1)" "$(calc "$tr_base_s * 1e6 / $trace_rounds" 1)"
printf '%-48s %14s\n' "trace: bytes printed per open_round" "$trace_bytes"
printf '%-48s %14s %14s\n' "floor's fastest write size (KiB, most runs)" "" \
  "$(winner tp_base) / $(winner tr_base)"
for pin in pinned unpinned; do
  for key in median p99 p999; do
    a=$(field "$data/lat_agent_$pin" "${key}_ns" | median)
    e=$(field "$data/lat_echo_$pin" "${key}_ns" | median)
    row "latency $pin: $key (us)" "$(calc "$a / 1000" 2)" "$(calc "$e / 1000" 2)"
  done
done
if [ -s "$data/micro.csv" ]; then
  # micro NAME: "real_time_ns units" of the median row.
  micro_row() {
    awk -F, -v name="\"BM_$1_median\"" '$1 == name { print $3, $11 }' "$data/micro.csv"
  }
  micro_pair() {
    local label=$1 unit_label=$2
    read -r at au < <(micro_row "$3")
    read -r bt bu < <(micro_row "$4")
    row "micro: $label ($unit_label)" "$(calc "$at / $au" 2)" "$(calc "$bt / $bu" 2)"
  }
  micro_pair "word reader" "ns/word" GetWord SplitBaseline
  micro_pair "message loop over a session" "ns/message" DispatchSession SessionCopyBaseline
  micro_pair "dispatch of one offer" "ns" DispatchOffer SplitOfferBaseline
  read -r tt tu < <(micro_row Trace)
  read -r ct cu < <(micro_row TraceCopyBaseline)
  row "micro: trace, full tables, no I/O (us)" "$(calc "$tt / 1000" 1)" "$(calc "$ct / 1000" 1)"
fi
printf '\n%s\n' "Baselines: throughput and trace: the floor, a program started like the agent that
loads the agent's captured output into memory first, then reads the same input in 4 KiB reads,
bids at the same offsets and after each read writes the output level with its input in writes
of one size; each run keeps the fastest of the sizes tried (${pieces[*]} bytes; the line
above gives the size most often fastest, throughput / trace). Latency: a peer that answers each
offer line at once. Memory: the 4 MiB target. Micro (in one process, no system calls): a plain
word-splitting loop echoing through the same log buffer; the agent's own log of the session, or
of the trace, copied through the log buffer line by line."
