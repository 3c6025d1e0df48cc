#!/usr/bin/env bash
# Installs the Debian packages a tier of the build needs beyond the base system, without
# recommended packages. Safe to run again: it only installs what is missing.
#   scripts/install-deps.sh run    build the programs and run them (make run): compiler, CMake,
#                                  Ninja and the libraries the programs use
#   scripts/install-deps.sh test   the run tier, plus what the tests, benchmarks and fuzz targets
#                                  need (make check, make bench, make fuzz-smoke): GoogleTest,
#                                  Google Benchmark, clang, clang-format, headless Chromium; and
#                                  what makes and tests the package (make deb, make package-test):
#                                  help2man, dpkg-shlibdeps (dpkg-dev), man (man-db)
#   scripts/install-deps.sh        the test tier
#   scripts/install-deps.sh --list TIER   prints the tier's packages, installs nothing
set -euo pipefail

run_packages=(g++ cmake ninja-build
              libtomlplusplus-dev nlohmann-json3-dev libcli11-dev libboost-dev libsqlite3-dev)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang clang-format chromium python3
               help2man dpkg-dev man-db)

usage() {
  echo "usage: scripts/install-deps.sh [--list] [run|test]" >&2
  exit 2
}

list=0
if [ "${1:-}" = --list ]; then
  list=1
  shift
fi
[ $# -le 1 ] || usage
case "${1:-test}" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) usage ;;
esac

if [ "$list" -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
