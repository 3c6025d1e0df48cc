#!/usr/bin/env bash
# Product code never includes test code: outside tests/, bench/ and fuzz/, only unit tests
# (*_test.cc) may include a header from tests/. Usage: check_layout.sh SOURCE_DIR
set -euo pipefail
cd "$1"
found=$(grep -rlE '^#include "tests/' --include='*.cc' --include='*.h' \
          buyer wire cli engine session sim gateway marketd tournament report checker 2>/dev/null | grep -v '_test\.cc$' || true)
if [ -n "$found" ]; then
  echo "product files that include test code:" >&2
  echo "$found" >&2
  exit 1
fi
