#!/usr/bin/env bash
# Tests the Debian package (make deb) the way a user meets it: from a folder outside the checkout,
# with only the installed programs on PATH, the buyer agent plays the default session against the
# installed RemoteControl, tournament runs an installed example file (marketd, buyer, RemoteControl
# and market_peer taken from beside it), man renders every page and the completions load. It also
# checks the package's fields (Depends: runtime libraries only; every program's --version carries
# the package's version) and that nothing installed names the checkout.
#   scripts/package-test.sh [--install] PACKAGE.deb
#     default    unpack with dpkg -x into a temporary root and run from there
#     --install  install with dpkg -i into this machine (root; the package must not be installed),
#                then remove it with dpkg -r and check that every file it installed is gone
set -euo pipefail

usage() {
  echo "usage: scripts/package-test.sh [--install] PACKAGE.deb" >&2
  exit 2
}
install=0
if [ "${1:-}" = --install ]; then
  install=1
  shift
fi
[ $# -eq 1 ] || usage
[ -f "$1" ] || usage
deb=$(realpath "$1")
checkout=$(cd "$(dirname "$0")/.." && pwd)

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

programs=(buyer RemoteControl marketd market_peer market-sim tournament market-report agent-check)
completions=(tournament marketd market-sim market-report)

# The package's fields.
package=$(dpkg-deb -f "$deb" Package)
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
description=$(dpkg-deb -f "$deb" Description)
echo "package $package $version"
echo "Depends: $depends"
[[ "$depends" == *libc6* && "$depends" == *libstdc++* ]] ||
  fail "Depends lacks the C and C++ runtime libraries: $depends"
# Only libraries: nothing that builds or tests the programs.
forbidden=$(tr ',' '\n' <<<"$depends" | awk '{print $1}' |
  grep -E -- '-dev$|^(g\+\+|gcc|clang|cmake|ninja-build|help2man|python3)' || true)
[ -z "$forbidden" ] || fail "Depends names build or test packages: $forbidden"
[ "$(wc -l <<<"$description")" -ge 3 ] || fail "no long description: $description"

tmp=$(mktemp -d)
system_path=$PATH
installed=0
# A run that stops early leaves neither its files nor the package behind.
cleanup() {
  if [ "$installed" -eq 1 ]; then
    PATH=$system_path dpkg -r "$package" >/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

if [ "$install" -eq 1 ]; then
  if dpkg -s "$package" >/dev/null 2>&1; then
    echo "package-test.sh: $package is installed already; remove it first (dpkg -r $package)" >&2
    exit 2
  fi
  installed=1
  dpkg -i "$deb" >/dev/null
  prefix=/usr
  # Every file the package installed, for the check after removal.
  dpkg -L "$package" | while read -r path; do
    [ -d "$path" ] || echo "$path"
  done >"$tmp/files"
else
  dpkg -x "$deb" "$tmp/root"
  prefix=$tmp/root/usr
  find "$tmp/root" ! -type d >"$tmp/files"
fi
share=$prefix/share/$package

# Nothing installed names the checkout (its path in a text file, or compiled into a program).
if tr '\n' '\0' <"$tmp/files" | xargs -0 grep -lF -- "$checkout" >"$tmp/named"; then
  fail "installed files name the checkout $checkout: $(tr '\n' ' ' <"$tmp/named")"
else
  ok "no installed file names the checkout"
fi

# From here on, a folder outside the checkout with only the installed programs on PATH.
mkdir "$tmp/work"
cd "$tmp/work"
export PATH="$prefix/bin:/usr/bin:/bin"
unset MARKET_SCENARIO MARKET_SEED MARKET_RESULTS MARKET_TRANSCRIPT MARKET_ADDRESS

for program in "${programs[@]}"; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not installed in $prefix/bin"
done
for program in marketd market-sim tournament market-report agent-check; do
  printed=$("$program" --version)
  [ "$printed" = "$program $version" ] ||
    fail "$program --version prints '$printed', the package is $version"
done

# The default session: the installed buyer against the installed RemoteControl.
if MARKET_RESULTS=session.json buyer >buyer.log 2>summary.txt; then
  if grep -q "market closed" summary.txt && [ -s buyer.log ] && [ -s session.json ]; then
    ok "buyer played the default session ($(grep -m1 "^Market session" summary.txt))"
  else
    fail "buyer's session did not close the market: $(head -n 3 summary.txt)"
  fi
else
  fail "buyer exited with status $?: $(tail -n 3 summary.txt)"
fi
if ! market-report session.json -o session.html || [ ! -s session.html ]; then
  fail "market-report of the session failed"
fi

# An installed example tournament: the buyer agent, built-in strategies and market_peer as an
# external command, on marketd on the real clock, then a lineup on virtual time.
# tournament is run by its path with PATH left without its folder: it finds the programs it runs
# beside itself.
if PATH=/usr/bin:/bin "$prefix/bin/tournament" run "$share/tournament/mixed.toml" --db t.db \
  --jobs 2 >board.txt 2>run.err; then
  tournament show --db t.db --format csv >board.csv
  tournament show --db t.db --format csv --markets >markets.csv
  # Every entry played its 5 sessions with no crash, time-out, failed login or drop, the buyer
  # agent and market_peer among them, and no session failed.
  if python3 - <<'PY'; then
import csv, sys
board = list(csv.DictReader(open("board.csv")))
markets = list(csv.DictReader(open("markets.csv")))
faults = ("crashed", "timeouts", "no_login", "dropped")
bad = [r for r in board if r["sessions"] != "5" or any(r[f] != "0" for f in faults)]
kinds = {(r["entry"], r["kind"]) for r in board}
sys.exit(bad or not markets or any(m["failed"] != "0" for m in markets)
         or ("CLogin", "buyer") not in kinds or ("Pia", "command") not in kinds)
PY
    ok "tournament run of the installed mixed.toml: $(($(wc -l <board.csv) - 1)) entries"
  else
    fail "tournament run of mixed.toml: $(cat board.csv markets.csv)"
  fi
else
  fail "tournament run exited with status $?: $(tail -n 3 run.err)"
fi

# Each page renders without warnings (a line too long to fill is typesetting, not a fault) and
# has the sections --help does not give.
for program in "${programs[@]}"; do
  page=$prefix/share/man/man1/$program.1.gz
  if [ ! -f "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  text=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$tmp/page.txt" |
    grep -v -e 'cannot adjust line' -e 'cannot break line' >"$tmp/man.err"; col -b <"$tmp/page.txt")
  if [ -s "$tmp/man.err" ]; then
    fail "man -l $program.1.gz: $(head -n 3 "$tmp/man.err")"
  fi
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
    grep -q "^$section" <<<"$text" || fail "$program(1) has no $section section"
  done
done
ok "man -l rendered ${#programs[@]} pages"

for program in "${completions[@]}"; do
  file=$prefix/share/bash-completion/completions/$program
  bash -c 'source "$1" && complete -p "$2" >/dev/null' check "$file" "$program" ||
    fail "the completion of $program does not load from $file"
done
ok "the completions load"

cd /
if [ "$install" -eq 1 ]; then
  PATH=$system_path dpkg -r "$package" >/dev/null
  installed=0
  left=$(while read -r path; do [ ! -e "$path" ] || echo "$path"; done <"$tmp/files")
  [ -z "$left" ] || fail "dpkg -r left files behind: $left"
  [ ! -e "$share" ] || fail "dpkg -r left $share behind"
  if dpkg -s "$package" >/dev/null 2>&1; then
    fail "$package is still installed after dpkg -r"
  fi
  if [ -z "$left" ]; then ok "dpkg -r removed all $(wc -l <"$tmp/files") files"; fi
fi

if [ "$failures" -ne 0 ]; then
  echo "package-test.sh: $failures failure(s)" >&2
  exit 1
fi
echo "package-test.sh: the package works from outside the checkout ($SECONDS s)"
