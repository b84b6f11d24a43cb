#!/usr/bin/env bash
# The demo: builds the program natively and shows what it does today: the console tool's
# answers to wrong command lines, start and stop of a simulated gateway through scpeer (the
# POSIX service-control peer), a start that does not finish in time, the Windows tray under Wine
# on Xvfb clicked through by scripts/tray_demo.py, which saves its screenshots in
# build/tray-demo, and at the end what the framework logged: the standard logger's ring printed
# as the CSV lines a log file holds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j2 >/dev/null
bin=build/native/bin
# The process-level tests use the same block and semaphore: wait until no run of them is on.
exec 9>/tmp/gatewaycontrol-e2e.lock
flock 9
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
peer=""
start_peer() {
  local log
  log=$(mktemp)
  "$bin/scpeer" "$@" >"$log" 2>&1 &
  peer=$!
  for _ in $(seq 100); do
    grep -q '^serving' "$log" && break
    sleep 0.1
  done
  echo "(scpeer $* is serving: $(head -n1 "$log"))"
  rm -f "$log"
}
stop_peer() {
  kill "$peer" && wait "$peer" || true
  peer=""
  echo "(scpeer stopped)"
  echo
}
trap '[ -z "$peer" ] || kill "$peer" 2>/dev/null || true' EXIT

echo "== Console mode against scpeer: a gateway that takes 1 s to start and 0.5 s to stop =="
start_peer --start-delay 1000 --stop-delay 500
run start
run stop
run stop
stop_peer
echo "== A gateway that needs 5 s to start, asked to be running within 2 s =="
start_peer --start-delay 5000
run start:2
stop_peer
exec 9>&- # the tray demo waits for the same lock itself
echo
echo "== The Windows tray under Wine on Xvfb, against the stub gateway service =="
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target GatewayControl ServiceControlPeer GatewayStubService scclient >/dev/null
python3 scripts/tray_demo.py build/tray-demo
echo
echo "== What the framework logged at start-up: the standard logger's ring as CSV lines =="
"$bin/framework_demo"
