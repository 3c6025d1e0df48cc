#!/usr/bin/env bash
# Checks that each bash completion offers exactly the long options the program's --help lists (for
# tournament, per subcommand, and its subcommands), so a completion cannot drift from the program.
#   scripts/check-completions.sh BIN_DIR COMPLETIONS_DIR
set -euo pipefail
[ $# -eq 2 ] || {
  echo "usage: scripts/check-completions.sh BIN_DIR COMPLETIONS_DIR" >&2
  exit 2
}
bin=$1 completions=$2
failed=0

# The long options in the option lines of a --help text, sorted, one a line.
help_options() {
  sed -n 's/^ \{1,\}\(-[A-Za-z0-9],\)\{0,1\}\(--[a-z][a-z0-9-]*\).*/\2/p' | sort -u
}

# What the completion function of PROGRAM offers for the command line WORDS... (the last word is
# the one being completed), sorted, one a line.
offered() {
  local program=$1
  shift
  bash -c '
    source "$1"
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    function=$(complete -p "$1" | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
    "$function" 2>/dev/null
    printf "%s\n" "${COMPREPLY[@]}"' check "$completions/$program" "$program" "$@" | sort -u
}

compare() {  # WHAT EXPECTED OFFERED
  if [ -z "$2" ]; then
    echo "FAIL: $1: nothing read from --help" >&2
    failed=1
  elif [ "$2" != "$3" ]; then
    echo "FAIL: $1" >&2
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/  /' >&2 || true
    failed=1
  else
    echo "ok: $1"
  fi
}

for program in marketd market-sim market-report; do
  compare "$program options" \
    "$("$bin/$program" --help | help_options)" "$(offered "$program" --)"
done

subcommands=$("$bin/tournament" --help | sed -n '/^Subcommands:/,$s/^  \([a-z][a-z-]*\) .*/\1/p' | sort)
compare "tournament subcommands" "$subcommands" "$(offered tournament "" | grep -v '^-')"
compare "tournament options" "$("$bin/tournament" --help | help_options)" \
  "$(offered tournament - )"
for sub in $subcommands; do
  compare "tournament $sub options" "$("$bin/tournament" "$sub" --help | help_options)" \
    "$(offered tournament "$sub" --)"
done
exit "$failed"
