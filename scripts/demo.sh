#!/usr/bin/env bash
# The demo: builds the program natively and shows what it does today.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j2 >/dev/null
bin=build/native/bin
run() {
  echo "\$ gatewaycontrol $*"
  set +e
  "$bin/gatewaycontrol" "$@"
  echo "(exit code $?)"
  set -e
  echo
}
echo "== Console mode: wrong command lines =="
run a b c d e
run foo
echo "== Framework start-up and shut-down with the program's component list =="
"$bin/framework_demo"
