#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one.
#   fuzz/run.sh [SECONDS] [TARGET...]   run each target for SECONDS (default 60)
#   fuzz/run.sh replay [TARGET...]      only replay the committed corpus and regression cases
# New inputs go to build-fuzz/corpus/TARGET; the committed seeds in fuzz/corpus/TARGET and the
# crash regressions in fuzz/regressions/TARGET are read, never written. Exits non-zero on any
# finding; a crash input is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DMARKET_FUZZ=ON >/dev/null
cmake --build build-fuzz -j 2 --target $(printf '%s_fuzzer ' "${targets[@]}")

mkdir -p build-fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  binary=build-fuzz/bin/${target}_fuzzer
  seeds=(fuzz/corpus/$target)
  [ -d fuzz/regressions/$target ] && seeds+=(fuzz/regressions/$target)
  if [ "$mode" = replay ]; then
    echo "== $target: replaying ${seeds[*]}"
    "$binary" -runs=0 "${seeds[@]}"
  else
    work=build-fuzz/corpus/$target
    mkdir -p "$work"
    echo "== $target: fuzzing for $mode s"
    dict=(); [ -f fuzz/$target.dict ] && dict=(-dict=fuzz/$target.dict)
    "$binary" -max_total_time="$mode" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "${dict[@]}" \
      -artifact_prefix=build-fuzz/findings/${target}- "$work" "${seeds[@]}"
  fi
done
