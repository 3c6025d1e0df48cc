#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each one.
#   fuzz/run.sh [SECONDS] [TARGET...]   fuzz each target for SECONDS (default 60)
#   fuzz/run.sh replay [TARGET...]      only replay the named seeds and the regressions
#   fuzz/run.sh merge [TARGET...]       shrink each working corpus to the inputs that add coverage
# TARGET is a folder name of fuzz/seeds/ (all of them when none is given). The working corpus of a
# target is build-fuzz/corpus/TARGET: a run starts from it and from the named seeds in
# fuzz/seeds/TARGET and the regressions in fuzz/regressions/TARGET, and writes new inputs only to
# it. Exits non-zero on any finding; a crash input is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dir in fuzz/seeds/*/; do targets+=("$(basename "$dir")"); done
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DMARKET_FUZZ=ON >/dev/null
cmake --build build-fuzz -j 2 --target $(printf '%s_fuzzer ' "${targets[@]}")

mkdir -p build-fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  binary=build-fuzz/bin/${target}_fuzzer
  seeds=(fuzz/seeds/$target)
  [ -d fuzz/regressions/$target ] && seeds+=(fuzz/regressions/$target)
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  case "$mode" in
    replay)
      echo "== $target: replaying ${seeds[*]}"
      "$binary" -runs=0 "${seeds[@]}"
      ;;
    merge)
      echo "== $target: merging $work"
      rm -rf "$work.merging"
      mkdir "$work.merging"
      "$binary" -merge=1 -timeout=10 -rss_limit_mb=2048 "$work.merging" "$work"
      rm -rf "$work"
      mv "$work.merging" "$work"
      echo "   $(ls "$work" | wc -l) inputs kept"
      ;;
    *)
      echo "== $target: fuzzing for $mode s"
      dict=()
      [ -f fuzz/$target.dict ] && dict=(-dict=fuzz/$target.dict)
      "$binary" -max_total_time="$mode" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "${dict[@]}" -artifact_prefix=build-fuzz/findings/${target}- "$work" "${seeds[@]}"
      ;;
  esac
done
