#!/usr/bin/env bash
# Builds and runs every test: native (GCC, Debug), native-asan (clang ASan+UBSan, with the
# fuzz targets), native-tsan (clang ThreadSanitizer) and windows (MinGW-w64, under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
echo "=== format ==="
unformatted=$(git ls-files '*.cpp' '*.h' | while read -r f; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || echo "$f"
done)
if [ -n "$unformatted" ]; then
  echo "not formatted with .clang-format:"; echo "$unformatted"; exit 1
fi
presets=${PRESETS:-"native native-asan native-tsan windows"}
status=0
for preset in $presets; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  ctest --preset "$preset" -j1 || status=1
done
if [[ " $presets " == *" windows "* ]]; then
  WINEPREFIX=$PWD/build/windows/wineprefix wineserver -k 2>/dev/null || true
fi
exit $status
