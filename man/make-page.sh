#!/usr/bin/env bash
# Writes one program's manual page with help2man from what the program prints for --help and
# --version, so the page follows the program; an include file adds what --help does not say (the
# exit statuses, examples).
#   man/make-page.sh OUT PROGRAM INCLUDE [--usage LINE] [--version VERSION] [--subcommands LIST]
#     OUT                the page, gzipped (NAME.1.gz)
#     PROGRAM            the built program
#     INCLUDE            the help2man include file (man/NAME.h2m)
#     --usage LINE       the program's interface is fixed and has no --help (it is never run):
#                        LINE is its usage, the include file holds its NAME and the rest
#     --version VERSION  the program prints no version: its page carries NAME VERSION
#     --subcommands LIST also each `PROGRAM SUBCOMMAND --help`, LIST separated by spaces
# help2man runs a stand-in named like the program (this script, linked into a temporary folder),
# which answers --help and --version from the settings above. The program's own folder in its
# output (a default beside the program) reads "(this program's folder)".
set -euo pipefail

answer() {
  local name
  name=$(basename "$MAKE_PAGE_PROGRAM")
  case "${1:-}" in
    --help)
      if [ -n "$MAKE_PAGE_USAGE" ]; then
        printf 'Usage: %s\n' "$MAKE_PAGE_USAGE"
        return
      fi
      local text sub
      text=$("$MAKE_PAGE_PROGRAM" --help)
      for sub in $MAKE_PAGE_SUBCOMMANDS; do
        # A heading of its own (help2man wants the line after it indented), and its first line
        # (what it does) a paragraph before its usage.
        local sub_help
        sub_help=$("$MAKE_PAGE_PROGRAM" "$sub" --help)
        text+=$'\n\n'"$name $sub:"$'\n'"  ${sub_help/$'\n'/$'\n\n'}"
      done
      printf '%s\n' "${text//"$(dirname "$MAKE_PAGE_PROGRAM")"/"(this program's folder)"}"
      ;;
    --version)
      if [ -n "$MAKE_PAGE_VERSION" ]; then
        printf '%s %s\n' "$name" "$MAKE_PAGE_VERSION"
      else
        "$MAKE_PAGE_PROGRAM" --version
      fi
      ;;
    *)
      echo "make-page.sh: the stand-in answers only --help and --version" >&2
      exit 2
      ;;
  esac
}

if [ -n "${MAKE_PAGE_PROGRAM:-}" ]; then
  answer "$@"
  exit 0
fi

usage() {
  echo "usage: man/make-page.sh OUT PROGRAM INCLUDE [--usage LINE] [--version VERSION]" \
    "[--subcommands LIST]" >&2
  exit 2
}
[ $# -ge 3 ] || usage
out=$1 program=$2 include=$3
shift 3
export MAKE_PAGE_USAGE="" MAKE_PAGE_VERSION="" MAKE_PAGE_SUBCOMMANDS=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --usage) MAKE_PAGE_USAGE=$2 ;;
    --version) MAKE_PAGE_VERSION=$2 ;;
    --subcommands) MAKE_PAGE_SUBCOMMANDS=$2 ;;
    *) usage ;;
  esac
  shift 2
done
program=$(realpath "$program")
name=$(basename "$program")

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ln -s "$(realpath "$0")" "$tmp/$name"

name_option=()
if [ -z "$MAKE_PAGE_USAGE" ]; then
  # The first line of --help is "NAME: what it does"; its first sentence, without asides in
  # parentheses, names the page.
  summary=$("$program" --help | head -n 1 | sed 's/ ([^)]*)//g')
  summary=${summary#"$name: "}
  summary=${summary%%. *}
  name_option=(--name "${summary%.}")
fi

MAKE_PAGE_PROGRAM=$program help2man --no-info --section 1 --include "$include" \
  "${name_option[@]}" --output "$tmp/page" "$tmp/$name"
gzip -9 -n -c "$tmp/page" > "$out.part"
mv "$out.part" "$out"
