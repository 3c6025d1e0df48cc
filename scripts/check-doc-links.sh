#!/usr/bin/env bash
# Checks every relative link of the Markdown files in git (README.md, ARCHITECTURE.md, docs/):
# the file must exist and, for FILE#ANCHOR, FILE must have a heading with that anchor (GitHub's
# rule: lower case, punctuation but '-' and '_' dropped, spaces as '-'). Prints one line per
# broken link; exits 1 if there is any. Usage: scripts/check-doc-links.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

anchors() {
  grep -E '^#{1,6} ' "$1" | sed -E 's/^#+ +//' | tr 'A-Z' 'a-z' | sed -E 's/[^a-z0-9 _-]//g; s/ /-/g'
}

# The Markdown files in git, or outside a checkout every one but the build trees'.
pages=$(git ls-files --cached --others --exclude-standard '*.md' 2>/dev/null ||
        find . -name '*.md' -not -path './build*' -not -path './out/*')

broken=0
while IFS= read -r page; do
  dir=$(dirname "$page")
  # Every ](target) of the page, one a line, without a title after the target.
  while IFS= read -r target; do
    case "$target" in
      http://* | https://* | mailto:*) continue ;;
    esac
    file=${target%%#*}
    anchor=""
    [[ "$target" == *'#'* ]] && anchor=${target#*#}
    if [ -z "$file" ]; then
      path=$page
    else
      path=$dir/$file
    fi
    if [ ! -e "$path" ]; then
      echo "$page: broken link: $target (no $path)"
      broken=1
    elif [ -n "$anchor" ] && ! anchors "$path" | grep -qx -- "$anchor"; then
      echo "$page: broken link: $target (no heading #$anchor in $path)"
      broken=1
    fi
  done < <(grep -oE '\]\([^) ]+' "$page" | sed 's/^](//')
done <<< "$pages"
exit "$broken"
