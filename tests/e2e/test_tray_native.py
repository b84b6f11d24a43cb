"""gatewaycontrol without arguments on the terminal desktop against scpeer: the tooltip line that
follows the gateway, menu commands typed as lines, the exit question, the second instance, and
the faults of the peer: none running, one that stops answering, one that restarts."""
import os
import queue
import signal
import subprocess
import threading
import time

import pytest

from conftest import run

GATEWAY = "KELVARO Gateway V3"
TITLE = "KELVARO Quendra - x64"
RUNNING = TITLE + "(running)\n"
STOPPED = TITLE + "(stopped)\n"
EXIT_QUESTION = (TITLE + ": Exiting the Gateway Control does not shutdown the gateway, but only quits this control "
                 "application. \n")
# The channel's own time-out is 500 polls of 10 ms; the bounds are generous on purpose.
CHANNEL_TIMEOUT_MAX_S = 9.0
PROMPT_WAIT_S = 10.0


class Tray:
    """A running tray: lines go to its standard input; its standard output and error come back
    as one stream of lines, read by a thread of their own ("" marks their end)."""

    def __init__(self, bin_dir, env, prefix=()):
        self.process = subprocess.Popen([*prefix, str(bin_dir / "gatewaycontrol")], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1,
                                        env=env)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put("")

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def expect(self, wanted, timeout_s=PROMPT_WAIT_S):
        """Reads lines until one equals wanted; the seconds it took."""
        begin = time.monotonic()
        while (left := begin + timeout_s - time.monotonic()) > 0:
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                break
            self.seen.append(line)
            if line == wanted:
                return time.monotonic() - begin
            assert line != "", "the tray ended; it printed %r" % self.seen
        raise AssertionError("no %r within %s s; the tray printed %r" % (wanted, timeout_s, self.seen))

    def close(self):
        """Ends the input; the exit code and what the tray printed after the last expected line."""
        self.process.stdin.close()
        code = self.process.wait(timeout=30)
        rest = "".join(iter(lambda: self.lines.get(timeout=10), ""))
        return code, rest


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


def test_tray_follows_gateway_that_its_menu_starts_and_stops_clean_under_memcheck(peer, tray, memcheck):
    p = peer("-v", "--start-delay", "300", GATEWAY)
    t = tray(memcheck)
    t.expect(STOPPED)
    t.send("start")
    t.expect(RUNNING)
    t.send("Stop")
    t.expect(STOPPED)
    t.send("exit")  # stopped: no question
    assert t.close() == (0, "")
    _, log = p.stop()
    requests = [line.split(" -> ")[0] for line in log.splitlines() if line.startswith("request ")]
    assert 'request 1 "%s"' % GATEWAY in requests and 'request 2 "%s"' % GATEWAY in requests


def test_exit_while_running_asks_and_cancel_keeps_tray_and_gateway(peer, tray, bin_dir):
    peer(GATEWAY + "=running")
    t = tray()
    t.expect(STOPPED)
    t.expect(RUNNING)
    for answer in ["cancel", "ok"]:
        t.send("exit")
        t.expect(EXIT_QUESTION)
        t.send(answer)
        if answer == "cancel":
            t.expect("Continue?\n")
            t.expect("OK or Cancel?\n")
            t.send("about")  # still there: the About strip names the gateway
            t.expect(GATEWAY + "\n")
    assert t.close() == (0, "Continue?\nOK or Cancel?\n"), t.seen
    assert run([bin_dir / "scclient", "query", GATEWAY], 30)[1].split()[:4] == ["result", "0", "state", "4"]


def test_greyed_item_and_unknown_word_choose_nothing(peer, tray):
    p = peer("-v", GATEWAY + "=running")
    t = tray()
    t.expect(RUNNING)
    t.send("start")
    t.expect("Start Gateway is greyed\n")
    t.send("restart")
    t.expect('unknown command "restart": start, stop, edge, about or exit (or the item\'s id); '
             "an empty line closes the menu\n")
    t.send("")
    t.send("40003")
    t.expect(GATEWAY + "\n")
    assert t.close() == (0, "")
    _, log = p.stop()
    assert "request 1 " not in log


def test_second_instance_shows_warning_ends_with_0_and_first_keeps_running(peer, tray, bin_dir):
    first = tray()
    first.expect(STOPPED)
    code, out, _, err = run([bin_dir / "gatewaycontrol"], 30, env=tray.env)
    assert (code, out) == (0, "")
    assert err == ("Warning: Gateway Control: Another instance of the gateway control application is already "
                   "running. Please check for the following symbol in your taskbars status area:\n")
    first.send("about")
    first.expect(GATEWAY + "\n")
    assert first.close() == (0, "")
    second = tray()  # the end of the first one let go of the marker
    second.expect(STOPPED)
    assert second.close() == (0, "")


def test_without_peer_icon_shows_stopped_and_tray_answers_between_polls(peer, tray):
    t = tray()
    t.expect(STOPPED)
    for _ in range(3):
        t.send("about")
        assert t.expect(GATEWAY + "\n") < CHANNEL_TIMEOUT_MAX_S
    assert t.close() == (0, "")


def test_silent_peer_delays_menu_by_at_most_one_request_timeout_and_tray_catches_up(peer, tray):
    p = peer(GATEWAY + "=running")
    t = tray()
    t.expect(RUNNING)
    p.process.send_signal(signal.SIGSTOP)
    try:
        # Every tick now waits out the channel's time-out; lines are still taken between ticks.
        t.expect(STOPPED, CHANNEL_TIMEOUT_MAX_S * 2)
        for _ in range(2):
            time.sleep(1)  # into the next tick's wait
            t.send("about")
            assert t.expect(GATEWAY + "\n", CHANNEL_TIMEOUT_MAX_S * 2) < CHANNEL_TIMEOUT_MAX_S
    finally:
        p.process.send_signal(signal.SIGCONT)
    t.expect(RUNNING, CHANNEL_TIMEOUT_MAX_S)
    assert t.close() == (0, "")


def test_tray_survives_peer_restart_and_shows_its_state(peer, tray):
    p = peer(GATEWAY + "=running")
    t = tray()
    t.expect(RUNNING)
    assert p.stop()[0] == 0
    t.expect(STOPPED)
    peer(GATEWAY + "=running")
    t.expect(RUNNING)
    t.send("exit")
    t.expect(EXIT_QUESTION)
    t.send("o")
    assert t.close() == (0, "Continue?\nOK or Cancel?\n")
