#!/usr/bin/env bash
# The arrows between folders, as ARCHITECTURE.md draws them: the product code of each folder (every
# file but its unit tests, *_test.cc) includes headers of its own folder and of the folders it
# uses, nothing else, and never test code (tests/). Each include that breaks an arrow is reported
# as file:line. Usage: check_layout.sh SOURCE_DIR
set -euo pipefail
cd "$1"

# Folder -> the project folders its product code may include besides its own. A sub-folder with
# its own row (tournament/db) is a folder of its own: its files are held to its row, not to its
# parent's, and an include of it is named by the sub-folder.
declare -A uses=(
  [buyer]=""
  [wire]=""
  [cli]=""
  [engine]="wire"
  [session]="engine wire cli"
  [sim]="engine wire cli"
  [gateway]="session engine wire"
  [marketd]="session engine wire cli"
  [tournament]="tournament/file tournament/db tournament/run tournament/slurm engine cli"
  [tournament/file]="engine wire"
  [tournament/db]="tournament/file engine"
  [tournament/run]="tournament/db tournament/file engine"
  [tournament/slurm]="tournament/db tournament/file"
  [report]="tournament/db engine cli"
  [checker]="engine cli"
)
# Files (by name prefix) held to fewer arrows than their folder: the scripted bidder market_peer,
# the soak's crowd and the monitor benchmark use wire/ or nothing.
declare -A narrower=(
  [marketd/peer]="wire cli"
  [marketd/soak]="wire"
  [marketd/monitor_bench]="wire"
)

# The project's top-level folders: an include naming one of them is a project include.
projects=" $(find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' -printf '%f ') "

status=0
for folder in "${!uses[@]}"; do
  [ -d "$folder" ] || continue
  # The sub-folders with rows of their own are checked on their own.
  skip=()
  for other in "${!uses[@]}"; do
    case "$other" in "$folder"/*) skip+=(--exclude-dir="${other##*/}") ;; esac
  done
  while IFS=: read -r file line text; do
    case "$file" in *_test.cc) continue ;; esac
    path=${text#*\"}
    target=${path%%/*}
    case "$projects" in *" $target "*) ;; *) continue ;; esac
    rest=${path#*/}
    case "$rest" in */*) [ -n "${uses[$target/${rest%%/*}]+set}" ] && target=$target/${rest%%/*} ;; esac
    [ "$target" = "$folder" ] && continue
    allowed=${uses[$folder]}
    from="$folder/"
    for prefix in "${!narrower[@]}"; do
      case "$file" in "$prefix"*) allowed=${narrower[$prefix]} from="$prefix*" ;; esac
    done
    case " $allowed " in *" $target "*) continue ;; esac
    if [ "$target" = tests ]; then
      why="product code includes test code"
    else
      why="no arrow $from -> $target/ in ARCHITECTURE.md"
    fi
    echo "$file:$line: $text: $why" >&2
    status=1
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"/]+/' \
             --include='*.cc' --include='*.h' --include='*.in' "${skip[@]}" "$folder" || true)
done
exit $status
