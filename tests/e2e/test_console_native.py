"""The console tool, the client helper and scpeer as separate processes on this machine: the
whole road of a request from the command line through "ServiceControlMutex" and the block
"ServiceControl_Ombrelin" to the simulated service and back, and the program's own start."""
import mmap
import os
import re
import signal
import struct
import subprocess
import time

import pytest

from conftest import BLOCK_FILE, USAGE, parse_single, read_line, run

GATEWAY = "KELVARO Gateway V3"
MIXED = "KeLvAro Gateway V3"
TRYING_START = "Trying to start %s service ...\n" % MIXED
# The protocol's own time-out: 500 polls of 10 ms; the bounds are generous on purpose.
CHANNEL_TIMEOUT_MIN_S = 4.5
CHANNEL_TIMEOUT_MAX_S = 9.0


def console(bin_dir, *words):
    return run([bin_dir / "gatewaycontrol", *words])[:3]


def client(bin_dir, *words):
    return run([bin_dir / "scclient", *words], 30)[:3]


@pytest.mark.parametrize("words, code, out", [
    (["a", "b", "c", "d", "e"], 2, USAGE),
    (["stop:5"], 2, "Invalid command line parameter stop:5!\n"),
    (["Foo", "x"], 2, "Invalid command line parameter Foo!\n"),
    ([""], 2, "Invalid command line parameter !\n"),
    (["Maintenance", "/nonexistent/Gateway.cfg"], 2, "Invalid command line parameter Maintenance!\n"),
    (["maintenance", "a", "b"], 2, "Invalid command line parameter maintenance!\n"),
    # The maintenance run ends with 1 before anything else starts, whatever its outcome.
    (["maintenance", "/nonexistent/Gateway.cfg"], 1, ""),
])
def test_wrong_words_end_with_text_and_exit_code_clean_under_memcheck(bin_dir, memcheck, words, code, out):
    result = run([*memcheck, bin_dir / "gatewaycontrol", *words])
    assert result[:2] == (code, out), result[3]


def test_failed_framework_start_shows_box_and_ends_with_0(bin_dir):
    # No failure of the system reaches the result of CMInit2 (a component that fails to start
    # puts the framework in safe mode), so the debugger makes CMInit2 itself report RES_FAILED.
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")  # the leak check cannot run under ptrace
    for words in [[], ["start"]]:
        code, _, _, err = run(["gdb", "-nx", "-batch", "-ex", "break CMInit2", "-ex", "run", "-ex", "return 1",
                               "-ex", "continue", "-ex", "quit $_exitcode", "--args", bin_dir / "gatewaycontrol",
                               *words], env=env)
        assert code == 0 and "\nKELVARO Gateway V3 SysTray: CMInit failed!\n" in "\n" + err, err


def test_framework_starts_core_components_first_and_stops_after_ready(bin_dir):
    # framework_demo starts the program's own component list as the program does.
    code, out, _, _ = run([bin_dir / "framework_demo"])
    assert code == 0
    listed = re.findall(r"<cmp>(\w+)</cmp>", out)
    assert listed[:5] == ["CM", "CmpMemPool", "CmpLog", "CmpSettings", "SysFile"]
    assert len(listed) == len(set(listed)) == int(re.search(r"= 0, (\d+) components", out).group(1))
    info = [int(i) for i in re.findall(r", 0x[0-9a-f]{8}, \d+, -?\d+, (\d+), ", out)]  # CSV lines
    assert info[-3:] == [34, 35, 36] and info.count(34) == 1  # ready, shut-down, done
    assert out.splitlines()[-1] == "CMExit() = 0, 0 components left"


@pytest.mark.parametrize("state, command, text", [
    ("running", "start", MIXED + " service is already started!\n"),
    ("stopped", "stop", MIXED + " service is already stopped!\n"),
])
def test_console_reports_service_already_in_requested_state(bin_dir, peer, memcheck, state, command, text):
    p = peer("-v", "%s=%s" % (GATEWAY, state))
    code, out, _, err = run([*memcheck, bin_dir / "gatewaycontrol", command])
    assert (code, out) == (0, text), err
    _, log = p.stop()
    assert "request 3 " in log and "request 1 " not in log and "request 2 " not in log, log


@pytest.mark.parametrize("peer_args, command, text, min_s", [
    (["--start-delay", "1000", GATEWAY], "start", TRYING_START + "%s service started!\n" % MIXED, 1.0 + 4.0),
    (["--stop-delay", "500", GATEWAY + "=running"], "stop",
     "Trying to stop %s service ...\n%s service stopped!\n" % (MIXED, MIXED), 0.5 + 2.0),
])
def test_console_drives_service_into_requested_state(bin_dir, peer, peer_args, command, text, min_s):
    peer(*peer_args)
    code, out, seconds = console(bin_dir, command)
    assert (code, out) == (0, text)
    assert seconds >= min_s  # the pending time and the final pause have both passed


@pytest.mark.parametrize("peer_args, words, text", [
    (["--start-delay", "5000", GATEWAY], ["start:2"],
     TRYING_START + "Failed to start the %s service within 2s!\n" % MIXED),
    (["--stop-delay", "5000", GATEWAY + "=running"], ["stop", "1"],
     "Trying to stop %s service ...\nFailed to stop the %s service within 1s!\n" % (MIXED, MIXED)),
    # Refused queries never report the running state, so the start is tried and fails.
    (["--result", "1062", GATEWAY + "=running"], ["start:1"],
     TRYING_START + "Failed to start the %s service within 1s!\n" % MIXED),
    # Without a peer every open fails at once: no 5 s waits.
    (None, ["start:1"], TRYING_START + "Failed to start the %s service within 1s!\n" % MIXED),
])
def test_console_fails_when_state_not_reached_in_time(bin_dir, peer, peer_args, words, text):
    if peer_args is not None:
        peer(*peer_args)
    code, out, seconds = console(bin_dir, *words)
    assert (code, out) == (1, text)
    assert seconds < 10


def test_console_falls_back_to_configured_name_when_mixed_case_unknown(bin_dir, peer):
    p = peer("-v", "--exact-case", GATEWAY)
    code, out, _ = console(bin_dir, "start")
    assert (code, out) == (0, TRYING_START + "%s service started!\n" % MIXED)
    _, log = p.stop()
    requests = [line for line in log.splitlines() if line.startswith("request ")]
    # Each query is tried with the older spelling first and answered only for the exact one.
    assert requests[0] == 'request 3 "%s" -> result 1060 state 0' % MIXED
    assert requests[1] == 'request 3 "%s" -> result 0 state 1' % GATEWAY
    assert 'request 1 "%s" -> result 0 state 0' % GATEWAY in requests


@pytest.mark.parametrize("peer_args, expected", [
    (["--state", "4", GATEWAY], {"result": 0, "state": 4}),
    (["--state", "1", GATEWAY + "=running"], {"result": 0, "state": 1}),
    (["--exact-case", GATEWAY], {"result": 0, "state": 1}),
    # A refused request leaves the caller's state variable as it was (0).
    (["--result", "1234", GATEWAY + "=running"], {"result": 1234, "state": 0}),
    (["Other"], {"result": 1060, "state": 0}),
    (["--company", "Ombrelin", GATEWAY + "=running"], {"result": 0, "state": 4}),
])
def test_query_returns_peer_answer(bin_dir, peer, peer_args, expected):
    peer(*peer_args)
    code, out, _ = client(bin_dir, "query", GATEWAY)
    answer = parse_single(out)
    assert code == 0 and {k: answer[k] for k in expected} == expected


@pytest.mark.parametrize("peer_args", [["--silent"], ["--handshake", "7"]])
def test_request_to_peer_that_never_marks_answer_fails_after_channel_timeout(bin_dir, peer, peer_args):
    peer(*peer_args, GATEWAY)
    answer = parse_single(client(bin_dir, "query", GATEWAY)[1])
    assert answer["result"] == 1
    assert CHANNEL_TIMEOUT_MIN_S * 1000 <= answer["ms"] <= CHANNEL_TIMEOUT_MAX_S * 1000


def test_early_answer_mark_does_not_hang_client(bin_dir, peer):
    peer("--answer-early", GATEWAY + "=running")
    code, out, _ = client(bin_dir, "--count", "5", "query", GATEWAY)
    # Whatever the early reads saw, all five requests end long before the channel time-out.
    assert out.startswith("answers 5 "), out
    assert parse_single(client(bin_dir, "query", GATEWAY)[1])["ms"] < CHANNEL_TIMEOUT_MIN_S * 1000


def test_peer_dying_mid_request_costs_one_timeout_and_next_peer_takes_over(bin_dir, peer):
    dying = peer("--die-at", "2", GATEWAY + "=running")
    code, out, _ = client(bin_dir, "--count", "2", "--expect-state", "4", "query", GATEWAY)
    assert out == "answers 2 ok 1 wrong 0 failed 1\n"
    assert dying.process.wait(timeout=5) == 3
    assert BLOCK_FILE.exists()  # a killed peer cannot remove its block
    peer(GATEWAY + "=running")  # the next peer replaces the dead one's block
    answer = parse_single(client(bin_dir, "query", GATEWAY)[1])
    assert (answer["result"], answer["state"]) == (0, 4)


def test_abandoned_service_control_mutex_does_not_block_next_request(bin_dir, peer):
    peer(GATEWAY + "=running")
    holder = subprocess.Popen([str(bin_dir / "ipcprobe"), "hold-mutex", "ServiceControlMutex", "60000"],
                              stdout=subprocess.PIPE, text=True)
    try:
        assert read_line(holder, 10) == "held\n"
        holder.send_signal(signal.SIGKILL)
        holder.wait()
        answer = parse_single(client(bin_dir, "query", GATEWAY)[1])
        assert (answer["result"], answer["state"]) == (0, 4)
    finally:
        holder.kill()
        holder.wait()


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


@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT])
def test_peer_removes_block_when_it_ends(bin_dir, peer, sig):
    p = peer(GATEWAY)
    assert BLOCK_FILE.stat().st_size == 524
    code, _ = p.stop(sig)
    assert code == 0 and not BLOCK_FILE.exists()


def test_second_peer_refuses_block_served_by_live_one(bin_dir, peer):
    peer(GATEWAY)
    assert run([bin_dir / "scpeer", GATEWAY], 10)[0] == 1
    assert parse_single(client(bin_dir, "query", GATEWAY)[1])["result"] == 0  # the first one still serves


@pytest.mark.parametrize("args, code", [(["--handshake", "1"], 1), (["--poll-us", "0"], 1), (["--idle-ms", "0"], 1),
                                        (["--result"], 2), (["--company", ""], 2), (["X=paused"], 2), (["--bogus"], 2)])
def test_peer_rejects_bad_command_line(bin_dir, args, code):
    assert run([bin_dir / "scpeer", *args], 10)[0] == code
    assert not BLOCK_FILE.exists()


@pytest.mark.parametrize("handshake, command, name, answered, result", [
    (0, 3, GATEWAY.encode() + b"\0", False, 0xDEADBEEF),  # only handshake 1 asks
    (2, 3, GATEWAY.encode() + b"\0", False, 0xDEADBEEF),
    (0xFFFFFFFF, 3, GATEWAY.encode() + b"\0", False, 0xDEADBEEF),
    (1, 0, GATEWAY.encode() + b"\0", True, 1),  # unknown commands
    (1, 9, GATEWAY.encode() + b"\0", True, 1),
    (1, 3, b"K" * 512, True, 123),  # a name without terminator
    (1, 3, GATEWAY.lower().encode() + b"\0", True, 0),
])
def test_peer_answers_raw_requests(peer, handshake, command, name, answered, result):
    peer(GATEWAY + "=running")
    with open(BLOCK_FILE, "r+b") as file, mmap.mmap(file.fileno(), 524) as block:
        struct.pack_into("<II", block, 4, command, 0xDEADBEEF)
        block[12:12 + len(name)] = name
        struct.pack_into("<I", block, 0, handshake)
        end = time.monotonic() + (2.0 if answered else 0.1)
        while time.monotonic() < end and struct.unpack_from("<I", block, 0)[0] != 3:
            time.sleep(0.001)
        words = struct.unpack_from("<IIII", block, 0)
        assert words[0] == (3 if answered else handshake) and words[2] == result
        assert words[3] == (4 if result == 0 else struct.unpack_from("<I", name)[0])  # the state, for a query
