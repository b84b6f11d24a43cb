"""The Windows installer under Wine, one machine's life in order: a silent install, the installed
program at work, an upgrade to the next version, a reboot and a log-on, a silent uninstall."""
import os
import pathlib
import re
import subprocess

import pytest

from conftest import ROOT, programs
from wine_desktop import GATEWAY, PROGRAMS, TRAY_WINDOW, WineDesktop, missing_tools, wait_until

BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))
MSI, NEXT_MSI = (pathlib.Path(os.environ.get(name, "")) for name in ("GC_MSI", "GC_MSI_NEXT"))
WINDOWS_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"


@pytest.fixture(scope="module")
def desk():
    assert not missing_tools(), "missing tools: %s" % ", ".join(missing_tools())
    programs(BIN, PROGRAMS)
    programs(MSI.parent, [MSI.name, NEXT_MSI.name])
    desk = WineDesktop(BIN, BIN.parent / "e2e-package-prefix", stubs=[(GATEWAY, "--start-delay", 500)])
    desk.drive = pathlib.Path(desk.env["WINEPREFIX"]) / "drive_c"
    desk.programs = desk.drive / "Program Files" / "Gateway Control"
    # The installer brings its own peer; a run that broke off may have left an installation.
    desk.run("ServiceControlPeer.exe", "--uninstall")
    for msi in (MSI, NEXT_MSI):
        msiexec(desk, "/x", msi)
    yield desk
    desk.close()


def wine(desk, program, *args):
    """Exit code and output of one of Wine's own programs."""
    return desk.run(desk.drive / "windows" / "system32" / program, *args)


def msiexec(desk, action, msi):
    return wine(desk, "msiexec.exe", action, "Z:" + str(msi).replace("/", "\\"), "/qn")[0]


def installation(desk):
    """The installed programs, the Start-menu entries (a per-machine one lands in the user's menu
    under Wine), the state of the peer's service, whether the Run value is there, and the number
    of installed products of this name."""
    menus = [desk.drive / "ProgramData", *desk.drive.glob("users/*/AppData/Roaming")]
    return (sorted(p.name for p in desk.programs.glob("*")),
            [p.name for m in menus for p in m.glob("Microsoft/Windows/Start Menu/Programs/Gateway Control*/*")],
            re.findall(r"STATE\s+:\s+(\d+)", wine(desk, "sc.exe", "query", "GatewayServiceControlPeer")[1]),
            wine(desk, "reg.exe", "query", WINDOWS_KEY + "Run", "/v", "GatewayControl")[0] == 0,
            wine(desk, "reg.exe", "query", WINDOWS_KEY + "Uninstall", "/s")[1].count("REG_SZ    Gateway Control\n"))


def reboot(desk):
    """Ends every program and service of the prefix; the next program boots it again."""
    subprocess.run(["wineserver", "-k"], env=desk.env)
    subprocess.run(["wineserver", "-p"], env=desk.env, check=True)


def test_install_run_upgrade_boot_log_on_and_uninstall(desk):
    installed = (["GatewayControl.exe", "Master.cfg", "ServiceControlPeer.exe"], ["Gateway Control.lnk"], ["4"], True, 1)
    assert (msiexec(desk, "/i", MSI), installation(desk)) == (0, installed)
    for command, state in (("start", 4), ("stop", 1)):
        assert desk.run(desk.programs / "GatewayControl.exe", command)[0] == 0
        assert desk.query(GATEWAY) == (0, state)
    assert (msiexec(desk, "/i", NEXT_MSI), installation(desk)) == (0, installed)
    assert (msiexec(desk, "/i", MSI) != 0, installation(desk)) == (True, installed)  # no way back

    reboot(desk)
    wait_until(lambda: desk.query(GATEWAY) == (0, 1), 60, "the peer's service started with the machine")
    assert not desk.window("--name", TRAY_WINDOW, min_size=16)
    try:
        # Wine's log-on: wineboot without switches starts the programs of the Run keys.
        subprocess.run(["wine", "wineboot"], env=desk.env, stdout=subprocess.DEVNULL, timeout=60, check=True)
        wait_until(lambda: desk.window("--name", TRAY_WINDOW, min_size=16), 60, "the tray icon after the log-on")
    finally:
        reboot(desk)  # ends the tray, which holds its program file

    assert (msiexec(desk, "/x", NEXT_MSI), installation(desk)) == (0, ([], [], [], False, 0))
