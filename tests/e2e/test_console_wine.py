"""The Windows programs under Wine: ServiceControlPeer.exe and GatewayStubService.exe installed
in Wine's service control manager, GatewayControl.exe starting and stopping the stub gateway
through the peer, its command lines as written and its message boxes (on an Xvfb display), and
a smaller load run. The tests use a Wine prefix of their own beside the build's bin folder."""
import os
import pathlib
import shutil
import subprocess
import time

import pytest

from conftest import ROOT, USAGE, programs

GATEWAY = "KELVARO Gateway V3"
MIXED = "KeLvAro Gateway V3"
SECOND = "GatewayStubB"
BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))


class Wine:
    """Runs the programs of the Windows build in the tests' own prefix and X display."""

    def __init__(self, display):
        self.wine = shutil.which("wine") or shutil.which("wine64")
        assert self.wine and shutil.which("Xvfb"), "wine and Xvfb are needed"
        self.env = dict(os.environ, WINEPREFIX=str(BIN.parent / "e2e-wineprefix"), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display)

    def start(self, program, *args):
        return subprocess.Popen([self.wine, str(BIN / program), *map(str, args)], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def run(self, program, *args):
        """(exit code, standard output) of a program run to its end."""
        out = (process := self.start(program, *args)).communicate(timeout=120)[0]
        return process.returncode, out

    def query(self, service):
        """(result, state) of one query through the peer."""
        words = self.run("scclient.exe", "query", service)[1].split()
        return (int(words[1]), int(words[3])) if len(words) == 6 else (None, None)

    def wait_for(self, service, state, timeout_s=30):
        end = time.monotonic() + timeout_s
        while time.monotonic() < end:
            if self.query(service) == (0, state):
                return True
            time.sleep(0.3)
        return False

    def install_peer(self):
        # Wine's manager may report a first start in a new prefix late; the query is what counts.
        self.run("ServiceControlPeer.exe", "--install")
        assert self.wait_for(GATEWAY, 1) or self.wait_for(GATEWAY, 4), "peer did not come up"


@pytest.fixture(scope="module")
def wine():
    programs(BIN, ["GatewayControl.exe", "ServiceControlPeer.exe", "GatewayStubService.exe", "scclient.exe",
                   "ipcprobe.exe", "winlaunch.exe"])
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp"], stdout=subprocess.PIPE, text=True)
    w = Wine(":" + xvfb.stdout.readline().strip())
    prefix = pathlib.Path(w.env["WINEPREFIX"])
    subprocess.run(["wineserver", "-k"], env=w.env, stderr=subprocess.DEVNULL)
    if not prefix.exists():
        prefix.mkdir(parents=True)
        subprocess.run([w.wine, "wineboot", "-i"], env=w.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        # A new prefix goes on setting itself up in the background; a service installed
        # meanwhile finds the manager's database locked and never gets its start request.
        subprocess.run(["wineserver", "-w"], env=w.env, timeout=300)
    # Wine ends the services of a prefix when its last ordinary process ends: keep one alive.
    keeper = w.start("ipcprobe.exe", "hold-mutex", "GatewayE2eKeeper", "1800000")
    assert keeper.stdout.readline() == "held\n"
    for name in (GATEWAY, SECOND):
        w.run("GatewayStubService.exe", "--uninstall", "--name", name)
    w.run("ServiceControlPeer.exe", "--uninstall")
    stubs = [(GATEWAY, 1000, 500), (SECOND, 0, 0)]
    for name, start_ms, stop_ms in stubs:
        assert w.run("GatewayStubService.exe", "--install", "--name", name, "--start-delay", start_ms,
                     "--stop-delay", stop_ms)[0] == 0, name
    w.install_peer()
    yield w
    w.run("ServiceControlPeer.exe", "--uninstall")
    for name, _, _ in stubs:
        w.run("GatewayStubService.exe", "--uninstall", "--name", name)
    keeper.kill()
    keeper.wait()
    subprocess.run(["wineserver", "-k"], env=w.env, stderr=subprocess.DEVNULL)
    xvfb.kill()
    xvfb.wait()


@pytest.mark.parametrize("line, fail, out", [
    ("GatewayControl.exe a b c d e", None, USAGE + "exit 2\n"),
    # Blanks after the program name are a console run without words, not the tray.
    ("GatewayControl.exe   ", None, USAGE + "exit 2\n"),
    ("GatewayControl.exe \t ", None, USAGE + "exit 2\n"),
    ("GatewayControl.exe stop:5", None, "Invalid command line parameter stop:5!\nexit 2\n"),
    ("GatewayControl.exe maintenance C:\\nonexistent\\Gateway.cfg", None, "exit 1\n"),
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
    assert wine.wait_for(GATEWAY, 4)
    clients = [wine.start("scclient.exe", "--count", 25, "--expect-state", state, "query", service)
               for service, state in [(GATEWAY, 4), (SECOND, 1)] * 2]
    results = [c.communicate(timeout=300)[0] for c in clients]
    assert results == ["answers 25 ok 25 wrong 0 failed 0\n"] * 4
    wine.run("scclient.exe", "stop", GATEWAY)
    assert wine.wait_for(GATEWAY, 1)


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
