"""gatewaycontrol without arguments on the terminal desktop against scpeer: the tooltip line that
follows the gateway, menu commands typed as lines, the exit question, the second instance, and
the faults of the peer: none running, one that stops answering, one that restarts. The texts of
the tooltip and the exit question are the unit tests' business; here a line's end tells them."""
import os
import queue
import signal
import subprocess
import threading
import time

import pytest

from conftest import run

GATEWAY = "KELVARO Gateway V3"
RUNNING, STOPPED, ABOUT = "(running)\n", "(stopped)\n", GATEWAY + "\n"
EXIT_QUESTION = "only quits this control application. \n"
# The channel's own time-out is 500 polls of 10 ms; the bounds are generous on purpose.
CHANNEL_TIMEOUT_MAX_S = 9.0


class Tray:
    """A running tray: lines go to its standard input; its standard output and error come back
    as one stream of lines, read by a thread of their own ("" marks their end)."""

    def __init__(self, bin_dir, env, prefix=()):
        self.process = subprocess.Popen([*prefix, str(bin_dir / "gatewaycontrol")], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1,
                                        env=env)
        self.lines, self.seen = queue.Queue(), []
        threading.Thread(target=lambda: [*map(self.lines.put, self.process.stdout), self.lines.put("")],
                         daemon=True).start()

    def send(self, *lines):
        self.process.stdin.write("".join(line + "\n" for line in lines))
        self.process.stdin.flush()

    def expect(self, ending, timeout_s=10.0):
        """Reads lines until one ends with ending; the seconds it took."""
        begin = time.monotonic()
        while (left := begin + timeout_s - time.monotonic()) > 0:
            try:
                self.seen.append(self.lines.get(timeout=left))
            except queue.Empty:
                break
            if self.seen[-1].endswith(ending):
                return time.monotonic() - begin
            assert self.seen[-1] != "", "the tray ended; it printed %r" % self.seen
        raise AssertionError("no %r within %s s; the tray printed %r" % (ending, timeout_s, self.seen))

    def close(self):
        """Ends the input; the exit code and what the tray printed after the last expected line."""
        self.process.stdin.close()
        code = self.process.wait(timeout=30)
        return code, "".join(iter(lambda: self.lines.get(timeout=10), ""))


@pytest.fixture
def tray(bin_dir, tmp_path):
    """Starts trays with their own runtime directory (the single-instance lock lives there)."""
    env = dict(os.environ, XDG_RUNTIME_DIR=str(tmp_path))
    started = []

    def start(prefix=()):
        started.append(Tray(bin_dir, env, prefix))
        return started[-1]

    start.env = env
    yield start
    for t in started:
        if t.process.poll() is None:
            t.process.kill()
            t.process.wait()


def test_menu_starts_and_stops_greys_refuses_second_instance_and_asks_before_exit(peer, tray, bin_dir, memcheck):
    p = peer("-v", "--start-delay", "300", GATEWAY)
    t = tray(memcheck)
    t.expect(STOPPED)
    t.send("start")
    t.expect(RUNNING)
    t.send("Start")
    t.expect("Start Gateway is greyed\n")
    t.send("restart")
    t.expect("an empty line closes the menu\n")
    code, out, _, err = run([bin_dir / "gatewaycontrol"], 30, env=tray.env)
    assert (code, out) == (0, "")
    assert err == ("Warning: Gateway Control: Another instance of the gateway control application is already "
                   "running. Please check for the following symbol in your taskbars status area:\n")
    t.send("exit")
    t.expect(EXIT_QUESTION)
    t.send("cancel", "", "40003")  # still there: the About strip names the gateway
    t.expect(ABOUT)
    t.send("stop")
    t.expect(STOPPED)
    t.send("exit")  # stopped: no question
    assert t.close() == (0, "")
    requests = [line.split(" -> ")[0] for line in p.stop()[1].splitlines() if line.startswith("request ")]
    assert requests.count('request 1 "%s"' % GATEWAY) == 1 and 'request 2 "%s"' % GATEWAY in requests
    second = tray()  # the end of the first one let go of the marker
    second.expect(STOPPED)
    assert second.close() == (0, "")


def test_responsive_without_peer_and_with_silent_peer_then_follows_peer_through_restart(peer, tray, bin_dir):
    t = tray()
    t.expect(STOPPED)
    t.send("about")
    assert t.expect(ABOUT) < CHANNEL_TIMEOUT_MAX_S
    p = peer(GATEWAY + "=running")
    t.expect(RUNNING)
    p.process.send_signal(signal.SIGSTOP)
    try:
        # Every tick now waits out the channel's time-out; lines are still taken between ticks.
        t.expect(STOPPED, CHANNEL_TIMEOUT_MAX_S * 2)
        for _ in range(2):
            time.sleep(1)  # into the next tick's wait
            t.send("about")
            assert t.expect(ABOUT, CHANNEL_TIMEOUT_MAX_S * 2) < CHANNEL_TIMEOUT_MAX_S
    finally:
        p.process.send_signal(signal.SIGCONT)
    t.expect(RUNNING, CHANNEL_TIMEOUT_MAX_S)
    assert p.stop()[0] == 0
    t.expect(STOPPED)
    peer(GATEWAY + "=running")
    t.expect(RUNNING)
    t.send("exit")
    t.expect(EXIT_QUESTION)
    t.send("o")
    assert t.close() == (0, "Continue?\nOK or Cancel?\n")
    assert run([bin_dir / "scclient", "query", GATEWAY], 30)[1].split()[:4] == ["result", "0", "state", "4"]
