"""The Windows programs under Wine: ServiceControlPeer.exe and GatewayStubService.exe installed
in Wine's service control manager, GatewayControl.exe starting and stopping the stub gateway
through the peer, its command lines as written and its message boxes (on an Xvfb display), and
a smaller load run, on the Wine desktop the tray's tests use (wine_desktop.py)."""
import os
import pathlib

import pytest

from conftest import ROOT, USAGE, programs
from wine_desktop import PROGRAMS, WineDesktop, missing_tools, wait_until

GATEWAY = "KELVARO Gateway V3"
MIXED = "KeLvAro Gateway V3"
SECOND = "GatewayStubB"
BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))


def reaches(wine, service, state):
    return wait_until(lambda: wine.query(service) == (0, state), 30, "%s in state %d" % (service, state))


@pytest.fixture(scope="module")
def wine():
    assert not missing_tools(), "missing tools: %s" % ", ".join(missing_tools())
    programs(BIN, PROGRAMS + ["ipcprobe.exe", "winlaunch.exe"])
    desk = WineDesktop(BIN, BIN.parent / "e2e-wineprefix", stubs=[(GATEWAY, "--start-delay", 1000, "--stop-delay", 500), (SECOND,)])
    yield desk
    desk.close()


@pytest.mark.parametrize("line, fail, out", [
    ("GatewayControl.exe a b c d e", None, USAGE + "exit 2\n"),
    # Blanks after the program name are a console run without words, not the tray.
    ("GatewayControl.exe   ", None, USAGE + "exit 2\n"),
    ("GatewayControl.exe \t ", None, USAGE + "exit 2\n"),
    ("GatewayControl.exe stop:5", None, "Invalid command line parameter stop:5!\nexit 2\n"),
    ("GatewayControl.exe start", "shell32.dll!CommandLineToArgvW", "box Error: CommandLineToArgvW failed\nexit 0\n"),
])
def test_command_line_as_written_gives_text_box_and_exit_code(wine, line, fail, out):
    assert wine.run("winlaunch.exe", *(["--fail", fail] if fail else []), line) == (0, out)


def test_console_starts_and_stops_real_service_through_peer(wine):
    steps = [
        ("stop", "%s service is already stopped!\n" % MIXED),
        ("start", "Trying to start %s service ...\n%s service started!\n" % (MIXED, MIXED)),
        ("start", "%s service is already started!\n" % MIXED),
        ("stop", "Trying to stop %s service ...\n%s service stopped!\n" % (MIXED, MIXED)),
    ]
    for command, text in steps:
        assert wine.run("GatewayControl.exe", command) == (0, text), command
    assert wine.query(GATEWAY) == (0, 1)


def test_concurrent_clients_each_get_the_state_of_their_own_service(wine):
    wine.run("scclient.exe", "start", GATEWAY)
    reaches(wine, GATEWAY, 4)
    clients = [wine.start("scclient.exe", "--count", 25, "--expect-state", state, "query", service)
               for service, state in [(GATEWAY, 4), (SECOND, 1)] * 2]
    results = [c.communicate(timeout=300)[0] for c in clients]
    assert results == ["answers 25 ok 25 wrong 0 failed 0\n"] * 4
    wine.run("scclient.exe", "stop", GATEWAY)
    reaches(wine, GATEWAY, 1)


def test_console_without_peer_fails_and_next_peer_adopts_block_a_client_holds(wine):
    assert wine.run("ServiceControlPeer.exe", "--uninstall")[0] == 0
    peers, holder = [], None
    try:
        assert wine.run("GatewayControl.exe", "start:1") == (
            1, "Trying to start %s service ...\nFailed to start the %s service within 1s!\n" % (MIXED, MIXED))
        for _ in range(2):
            peers.append(wine.start("ServiceControlPeer.exe"))
            assert peers[-1].stdout.readline() == "serving ServiceControl_Ombrelin\n"
            if holder is None:  # keeps the block open while its peer dies
                holder = wine.start("ipcprobe.exe", "hold-block", "ServiceControl_Ombrelin", 524, 0, 600000)
                assert holder.stdout.readline() == "ready\n"
                peers[-1].kill()
                peers[-1].wait()
        assert wine.query(GATEWAY) == (0, 1)
    finally:
        for p in [*peers, holder]:
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        wine.install_peer()
