"""The console tool, the client helper and scpeer as separate processes on this machine: the
whole road of a request from the command line through "ServiceControlMutex" and the block
"ServiceControl_Ombrelin" to the simulated service and back."""
import mmap
import signal
import struct
import subprocess
import time

import pytest

from conftest import BLOCK_FILE, parse_single, read_line, run

GATEWAY = "KELVARO Gateway V3"
MIXED = "KeLvAro Gateway V3"
# The protocol's own time-out: 500 polls of 10 ms; the bounds are generous on purpose.
CHANNEL_TIMEOUT_MIN_S = 4.5
CHANNEL_TIMEOUT_MAX_S = 9.0


def console(bin_dir, *words, timeout_s=60):
    return run([bin_dir / "gatewaycontrol", *words], timeout_s)


def client(bin_dir, *words):
    return run([bin_dir / "scclient", *words], 30)


# ---- the console tool against a live peer ---------------------------------------------------

@pytest.mark.parametrize("state, command, text", [
    ("running", "start", MIXED + " service is already started!\n"),
    ("stopped", "stop", MIXED + " service is already stopped!\n"),
])
def test_console_reports_service_already_in_requested_state(bin_dir, peer, state, command, text):
    p = peer("-v", "%s=%s" % (GATEWAY, state))
    code, out, _ = console(bin_dir, command)
    assert (code, out) == (0, text)
    _, log = p.stop()
    assert "request 3 " in log and "request 1 " not in log and "request 2 " not in log, log


@pytest.mark.parametrize("peer_args, command, texts, min_s", [
    (["--start-delay", "1000", GATEWAY], "start",
     ["Trying to start %s service ...\n" % MIXED, "%s service started!\n" % MIXED], 1.0 + 4.0),
    (["--stop-delay", "500", GATEWAY + "=running"], "stop",
     ["Trying to stop %s service ...\n" % MIXED, "%s service stopped!\n" % MIXED], 0.5 + 2.0),
])
def test_console_drives_service_into_requested_state(bin_dir, peer, peer_args, command, texts, min_s):
    peer(*peer_args)
    code, out, seconds = console(bin_dir, command)
    assert (code, out) == (0, "".join(texts))
    # The pending time and the final pause must both have passed.
    assert seconds >= min_s


@pytest.mark.parametrize("peer_args, words, text", [
    (["--start-delay", "5000", GATEWAY], ["start:2"],
     "Failed to start the %s service within 2s!\n" % MIXED),
    (["--stop-delay", "5000", GATEWAY + "=running"], ["stop", "1"],
     "Failed to stop the %s service within 1s!\n" % MIXED),
])
def test_console_fails_when_state_not_reached_in_time(bin_dir, peer, peer_args, words, text):
    peer(*peer_args)
    code, out, seconds = console(bin_dir, *words)
    assert code == 1
    assert out.endswith(text) and out.startswith("Trying to"), out
    assert seconds < 10


def test_console_falls_back_to_configured_name_when_mixed_case_unknown(bin_dir, peer):
    p = peer("-v", "--exact-case", GATEWAY)
    code, out, _ = console(bin_dir, "start")
    assert (code, out) == (0, "Trying to start %s service ...\n%s service started!\n" % (MIXED, MIXED))
    _, log = p.stop()
    requests = [line for line in log.splitlines() if line.startswith("request ")]
    # Each query is tried with the older spelling first and answered only for the exact one.
    assert requests[0] == 'request 3 "%s" -> result 1060 state 0' % MIXED
    assert requests[1] == 'request 3 "%s" -> result 0 state 1' % GATEWAY
    assert 'request 1 "%s" -> result 0 state 0' % GATEWAY in requests


def test_console_without_peer_times_out_with_exit_code_1(bin_dir, peer):
    code, out, seconds = console(bin_dir, "start:1")
    assert (code, out) == (1, "Trying to start %s service ...\nFailed to start the %s service within 1s!\n"
                           % (MIXED, MIXED))
    assert seconds < 5  # every open fails at once; no 5 s waits


def test_console_with_peer_that_refuses_every_request_keeps_state_unknown(bin_dir, peer):
    peer("--result", "1062", GATEWAY + "=running")
    code, out, _ = console(bin_dir, "start:1")
    # The refused queries never report the running state, so the start is attempted and fails.
    assert code == 1 and out.startswith("Trying to start"), out


def test_console_cuts_overlong_service_name_and_fails_cleanly(bin_dir, peer):
    peer(GATEWAY)
    name = "N" * 600
    code, out, seconds = console(bin_dir, "start:1", "1", name)
    assert code == 1
    assert out == ("Trying to start %s service ...\nFailed to start the %s service within 1s!\n"
                   % ("N" * 254, "N" * 254))


# ---- single requests through the client -----------------------------------------------------

@pytest.mark.parametrize("peer_args, expected", [
    (["--state", "4", GATEWAY], {"result": 0, "state": 4}),
    (["--state", "1", GATEWAY + "=running"], {"result": 0, "state": 1}),
    (["--exact-case", GATEWAY], {"result": 0, "state": 1}),
    # A refused request leaves the caller's state variable as it was (0).
    (["--result", "1234", GATEWAY + "=running"], {"result": 1234, "state": 0}),
    (["Other"], {"result": 1060, "state": 0}),
])
def test_query_returns_peer_answer(bin_dir, peer, peer_args, expected):
    peer(*peer_args)
    code, out, _ = client(bin_dir, "query", GATEWAY)
    answer = parse_single(out)
    assert code == 0 and {k: answer[k] for k in expected} == expected


@pytest.mark.parametrize("peer_args", [["--silent"], ["--handshake", "7"]])
def test_request_to_peer_that_never_marks_answer_fails_after_channel_timeout(bin_dir, peer, peer_args):
    peer(*peer_args, GATEWAY)
    code, out, _ = client(bin_dir, "query", GATEWAY)
    answer = parse_single(out)
    assert answer["result"] == 1
    assert CHANNEL_TIMEOUT_MIN_S * 1000 <= answer["ms"] <= CHANNEL_TIMEOUT_MAX_S * 1000


def test_early_answer_mark_does_not_hang_client(bin_dir, peer):
    peer("--answer-early", GATEWAY + "=running")
    code, out, _ = client(bin_dir, "--count", "5", "query", GATEWAY)
    # Whatever the early reads saw, all five requests end long before the channel time-out.
    assert out.startswith("answers 5 "), out
    code, out, _ = client(bin_dir, "query", GATEWAY)
    assert parse_single(out)["ms"] < CHANNEL_TIMEOUT_MIN_S * 1000


def test_overlong_name_is_refused_by_client(bin_dir, peer):
    peer(GATEWAY)
    code, out, _ = client(bin_dir, "query", "x" * 512)
    assert parse_single(out) ["result"] == 2  # RES_PARAMETER, nothing sent


def test_peer_dying_mid_request_costs_one_timeout_and_next_peer_takes_over(bin_dir, peer):
    dying = peer("--die-at", "2", GATEWAY + "=running")
    code, out, _ = client(bin_dir, "--count", "2", "--expect-state", "4", "query", GATEWAY)
    assert out == "answers 2 ok 1 wrong 0 failed 1\n"
    assert dying.process.wait(timeout=5) == 3
    assert BLOCK_FILE.exists()  # a killed peer cannot remove its block
    peer(GATEWAY + "=running")  # the next peer replaces the dead one's block
    code, out, _ = client(bin_dir, "query", GATEWAY)
    assert parse_single(out)["result"] == 0 and parse_single(out)["state"] == 4


def test_abandoned_service_control_mutex_does_not_block_next_request(bin_dir, peer):
    peer(GATEWAY + "=running")
    holder = subprocess.Popen([str(bin_dir / "ipcprobe"), "hold-mutex", "ServiceControlMutex", "60000"],
                              stdout=subprocess.PIPE, text=True)
    try:
        assert read_line(holder, 10) == "held\n"
        holder.send_signal(signal.SIGKILL)
        holder.wait()
        code, out, seconds = client(bin_dir, "query", GATEWAY)
        assert parse_single(out)["result"] == 0 and parse_single(out)["state"] == 4
    finally:
        if holder.poll() is None:
            holder.kill()


def test_block_of_wrong_size_left_by_another_program_gives_result_code(bin_dir, peer):
    holder = subprocess.Popen([str(bin_dir / "ipcprobe"), "hold-block", "ServiceControl_Ombrelin", "100", "0",
                               "60000"], stdout=subprocess.PIPE, text=True)
    try:
        assert read_line(holder, 10) == "ready\n"
        code, out, _ = client(bin_dir, "query", GATEWAY)
        answer = parse_single(out)
        assert code == 0 and answer["result"] != 0
        # A block is handed out for every size its memory pages hold, as on Windows: the request
        # lands in the block's page, no one answers it, and the client waits out its time-out.
        assert CHANNEL_TIMEOUT_MIN_S * 1000 <= answer["ms"] <= CHANNEL_TIMEOUT_MAX_S * 1000
    finally:
        holder.kill()
        holder.wait()


# ---- load -----------------------------------------------------------------------------------

def test_concurrent_clients_each_get_the_state_of_their_own_service(bin_dir, peer):
    p = peer(GATEWAY + "=running", "Second Service=stopped")
    clients = []
    for n in range(8):
        service, state = (GATEWAY, 4) if n % 2 == 0 else ("second service", 1)
        clients.append(subprocess.Popen(
            [str(bin_dir / "scclient"), "--count", "200", "--expect-state", str(state), "query", service],
            stdout=subprocess.PIPE, text=True))
    results = [c.communicate(timeout=120)[0] for c in clients]
    assert results == ["answers 200 ok 200 wrong 0 failed 0\n"] * 8
    assert p.process.poll() is None


# ---- the peer itself ------------------------------------------------------------------------

@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_peer_removes_block_when_it_ends(bin_dir, peer, sig):
    p = peer(GATEWAY)
    assert BLOCK_FILE.stat().st_size == 524
    code, _ = p.stop(sig)
    assert code == 0 and not BLOCK_FILE.exists()


def test_second_peer_refuses_block_served_by_live_one(bin_dir, peer):
    peer(GATEWAY)
    code, out, _ = run([bin_dir / "scpeer", GATEWAY], 10)
    assert code == 1
    code, out, _ = client(bin_dir, "query", GATEWAY)
    assert parse_single(out)["result"] == 0  # the first one still serves


@pytest.mark.parametrize("args", [["--handshake", "1"], ["--result"], ["--poll-us", "0"], ["--idle-ms", "0"],
                                  ["X=paused"], ["--bogus"]])
def test_peer_rejects_bad_command_line(bin_dir, args):
    code, _, _ = run([bin_dir / "scpeer", *args], 10)
    assert code in (1, 2)
    assert not BLOCK_FILE.exists()


def voluntary_switches(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("voluntary_ctxt_switches:"):
                return int(line.split()[1])
    raise AssertionError("no switch count for %d" % pid)


def test_idle_peer_sleeps_until_a_client_opens_the_block(bin_dir, peer):
    # Looking at the block on its own only once a minute, the peer can answer these requests in
    # time only because each client's open of the block wakes it.
    p = peer("--idle-ms", "60000", GATEWAY + "=running", "Second Service")
    code, out, _ = client(bin_dir, "--count", "20", "--expect-state", "4", "query", GATEWAY)
    assert (code, out) == (0, "answers 20 ok 20 wrong 0 failed 0\n")
    code, out, _ = console(bin_dir, "start")  # a state change over several requests
    assert code == 0 and out.endswith("service is already started!\n")
    before = voluntary_switches(p.process.pid)
    time.sleep(1.0)
    # Asleep between requests: a peer looking every 250 us would have woken thousands of times.
    assert voluntary_switches(p.process.pid) - before < 20


class RawBlock:
    """The block seen directly, as a client that does not follow the protocol would."""

    def __init__(self):
        self.file = open(BLOCK_FILE, "r+b")
        self.map = mmap.mmap(self.file.fileno(), 524)

    def word(self, offset):
        return struct.unpack_from("<I", self.map, offset)[0]

    def request(self, handshake, command, name_bytes, result_before=0xDEADBEEF):
        struct.pack_into("<II", self.map, 4, command, result_before)
        self.map[12:12 + len(name_bytes)] = name_bytes
        struct.pack_into("<I", self.map, 0, handshake)

    def wait_answer(self, timeout_s=2.0):
        end = time.monotonic() + timeout_s
        while time.monotonic() < end:
            if self.word(0) == 3:
                return True
            time.sleep(0.001)
        return False

    def close(self):
        self.map.close()
        self.file.close()


@pytest.fixture
def raw(peer):
    peer(GATEWAY + "=running")
    block = RawBlock()
    yield block
    block.close()


@pytest.mark.parametrize("handshake", [0, 2, 7, 0xFFFFFFFF])
def test_peer_ignores_handshake_other_than_pending(raw, handshake):
    raw.request(handshake, 3, GATEWAY.encode() + b"\0")
    time.sleep(0.1)
    assert (raw.word(0), raw.word(8)) == (handshake, 0xDEADBEEF)


@pytest.mark.parametrize("command", [0, 4, 9, 0xFFFFFFFF])
def test_peer_refuses_unknown_command(raw, command):
    raw.request(1, command, GATEWAY.encode() + b"\0")
    assert raw.wait_answer()
    assert raw.word(8) not in (0, 0xDEADBEEF)


def test_peer_refuses_name_without_terminator(raw):
    raw.request(1, 3, b"K" * 512)
    assert raw.wait_answer()
    assert raw.word(8) not in (0, 0xDEADBEEF)
    assert raw.map[12:16] == b"KKKK"  # no state written over the name


def test_peer_answers_raw_query_with_state(raw):
    raw.request(1, 3, GATEWAY.lower().encode() + b"\0")
    assert raw.wait_answer()
    assert (raw.word(8), raw.word(12)) == (0, 4)
