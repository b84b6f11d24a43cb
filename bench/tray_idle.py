#!/usr/bin/env python3
"""What the tray costs while it only watches: CPU time (user + system) of the tray process over
a stretch of idle polling against a live peer that reports the gateway running, natively on
the terminal desktop (gatewaycontrol against scpeer) and as GatewayControl.exe under Wine on
Xvfb (against ServiceControlPeer.exe and the stub gateway), and the native tray's peak
resident memory. Prints one line per platform.

    bench/tray_idle.py [--seconds 60] [--native-bin DIR] [--wine-bin DIR] [--skip-native|--skip-wine]
"""
import argparse
import fcntl
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from wine_desktop import GATEWAY, STATE_RUNNING, Tray, WineDesktop, wait_until  # noqa: E402


def cpu_seconds(pid):
    """User plus system time of all threads of a process so far, from the scheduler's own
    nanosecond count (the clock-tick fields are too coarse for an idle process)."""
    tasks = pathlib.Path("/proc/%d/task" % pid).iterdir()
    return sum(int((t / "schedstat").read_text().split()[0]) for t in tasks) / 1e9


def peak_rss_kib(pid):
    for line in pathlib.Path("/proc/%d/status" % pid).read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    raise AssertionError("no VmHWM for %d" % pid)


def idle_share(pid, seconds):
    """CPU seconds the process used over the next seconds, and that as % of one core."""
    before = cpu_seconds(pid)
    time.sleep(seconds)
    used = cpu_seconds(pid) - before
    return used, 100.0 * used / seconds


def native(bin_dir, seconds):
    peer = subprocess.Popen([str(bin_dir / "scpeer"), GATEWAY + "=running"], stdout=subprocess.PIPE, text=True)
    assert peer.stdout.readline().startswith("serving"), "scpeer did not come up"
    with tempfile.TemporaryDirectory() as runtime:
        tray = subprocess.Popen([str(bin_dir / "gatewaycontrol")], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                text=True, env=dict(os.environ, XDG_RUNTIME_DIR=runtime))
        try:
            while not tray.stdout.readline().endswith("(running)\n"):
                assert tray.poll() is None, "the tray ended"
            used, share = idle_share(tray.pid, seconds)
            print("native: %.4f s CPU in %d s of idle polling = %.3f %% of one core; peak RSS %.2f MiB"
                  % (used, seconds, share, peak_rss_kib(tray.pid) / 1024))
        finally:
            tray.kill()
            tray.wait()
            peer.terminate()
            peer.wait()


def wine(bin_dir, seconds):
    with tempfile.TemporaryDirectory() as shots:
        desk = WineDesktop(bin_dir, bin_dir.parent / "e2e-wineprefix", shots)
        try:
            desk.service("start", STATE_RUNNING)
            tray = Tray(desk)
            wait_until(lambda: desk.query() == (0, STATE_RUNNING), 10, "gateway running")
            time.sleep(2)  # the icon has turned to running and the start-up is over
            used, share = idle_share(tray.process.pid, seconds)
            print("wine:   %.4f s CPU in %d s of idle polling = %.3f %% of one core (the tray process; "
                  "peak RSS %.2f MiB)" % (used, seconds, share, peak_rss_kib(tray.process.pid) / 1024))
            tray.process.kill()
            tray.process.wait()
        finally:
            desk.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--native-bin", type=pathlib.Path, default=ROOT / "build" / "native-release" / "bin")
    parser.add_argument("--wine-bin", type=pathlib.Path, default=ROOT / "build" / "windows" / "bin")
    parser.add_argument("--skip-native", action="store_true")
    parser.add_argument("--skip-wine", action="store_true")
    args = parser.parse_args()
    # The process-level tests use the same block and semaphore: one of us at a time.
    with open("/tmp/gatewaycontrol-e2e.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not args.skip_native:
            native(args.native_bin, args.seconds)
        if not args.skip_wine:
            wine(args.wine_bin, args.seconds)


if __name__ == "__main__":
    main()
