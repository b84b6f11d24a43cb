#!/usr/bin/env bash
# Runs one Windows program under Wine with a prefix inside the build tree, made on first use.
# The prefix lives beside the program's bin/ folder so every preset keeps its own.
set -u
prog=$1; shift
bindir=$(cd "$(dirname "$prog")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(dirname "$bindir")/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1
fi
exec "$wine" "$prog" "$@"
