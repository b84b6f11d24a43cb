#!/usr/bin/env bash
# Line and branch coverage of the product code by the whole native test suite (unit tests and
# the process-level tests), one row per product file. Installs gcovr when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if ! command -v gcovr >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq gcovr >/dev/null
fi
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j2 >/dev/null
find build/coverage -name '*.gcda' -delete
ctest --preset coverage -j1 >/dev/null || echo "(some tests failed; coverage is of what ran)"
filters=()
for dir in cm log settings memory sys tray tools include; do filters+=(--filter "$dir/"); done
for metric in "" --branches; do
  gcovr -r . build/coverage "${filters[@]}" $metric --exclude-unreachable-branches \
        --exclude-throw-branches --sort-percentage
done
