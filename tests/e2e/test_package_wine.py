"""The Windows installer under Wine, one machine's life in order: a silent install, the installed
program at work, an upgrade to the next version, a reboot and a log-on, a silent uninstall. What
an installation leaves is read back from Wine's registry, service control manager and drive."""
import os
import pathlib
import re
import struct
import subprocess

import pytest

from conftest import ROOT, programs
from wine_desktop import GATEWAY, PROGRAMS, TRAY_WINDOW, WineDesktop, missing_tools, wait_until

BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))
MSI, NEXT_MSI = (pathlib.Path(os.environ.get(name, "")) for name in ("GC_MSI", "GC_MSI_NEXT"))
WINDOWS_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"
PEER_KEY = "HKLM\\System\\CurrentControlSet\\Services\\GatewayServiceControlPeer"
INSTALLED = "C:\\Program Files\\Gateway Control\\"


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
    """What an installation leaves: its files, the peer's service entry and state, the Run value,
    the Start-menu entries (for a link: whether it names the installed program) and the version
    of every installed product of this name."""
    def values(key, *options):
        return re.findall(r"^    (\S+)    REG_\w+    (.*?)\r?$", wine(desk, "reg.exe", "query", key, *options)[1], re.M)

    service = dict(values(PEER_KEY))
    # A per-machine Start-menu entry lands in the user's menu under Wine.
    menus = [top / "Microsoft/Windows/Start Menu/Programs"
             for top in [desk.drive / "ProgramData", *desk.drive.glob("users/*/AppData/Roaming")]]
    return {
        "files": sorted(p.name for p in desk.programs.glob("*")),
        # Wine writes the service's program path without quotes.
        "service": [service.get(k, "").replace('"', "") for k in ("Start", "ObjectName", "ImagePath")] +
                   re.findall(r"STATE\s+:\s+(\d+)", wine(desk, "sc.exe", "query", "GatewayServiceControlPeer")[1]),
        "run": dict(values(WINDOWS_KEY + "Run")).get("GatewayControl"),
        "menu": {p.name: p.is_file() and (INSTALLED + "GatewayControl.exe").encode() in p.read_bytes()
                 for menu in menus for p in menu.rglob("Gateway Control*")},
        "products": re.findall(r"DisplayName    REG_SZ    Gateway Control\r?\n    DisplayVersion    REG_SZ    (\S+)",
                               wine(desk, "reg.exe", "query", WINDOWS_KEY + "Uninstall", "/s")[1]),
    }


def installed(version):
    return {"files": ["GatewayControl.exe", "ServiceControlPeer.exe"],
            "service": ["0x2", "LocalSystem", INSTALLED + "ServiceControlPeer.exe --service", "4"],
            "run": '"%sGatewayControl.exe"' % INSTALLED,
            "menu": {"Gateway Control": False, "Gateway Control.lnk": True},
            "products": [version]}


def file_version(exe):
    """The file version in an exe's version resource, read from its fixed-size block."""
    data = exe.read_bytes()
    high, low = struct.unpack_from("<II", data, data.index(struct.pack("<I", 0xFEEF04BD)) + 8)
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def reboot(desk):
    """Ends every program and service of the prefix; the next program boots it again."""
    subprocess.run(["wineserver", "-k"], env=desk.env)
    subprocess.run(["wineserver", "-p"], env=desk.env, check=True)


def test_install_run_upgrade_boot_log_on_and_uninstall(desk):
    assert msiexec(desk, "/i", MSI) == 0
    version = file_version(desk.programs / "GatewayControl.exe")
    assert installation(desk) == installed(version)
    for command, state in (("start", 4), ("stop", 1)):
        assert desk.run(desk.programs / "GatewayControl.exe", command)[0] == 0
        assert desk.query(GATEWAY) == (0, state)

    assert msiexec(desk, "/i", NEXT_MSI) == 0
    after_upgrade = installation(desk)
    assert after_upgrade["products"] != [version] and after_upgrade == installed(after_upgrade["products"][0])

    reboot(desk)
    wait_until(lambda: desk.query(GATEWAY) == (0, 1), 60, "the peer answers after the boot")
    assert not desk.window("--name", TRAY_WINDOW, min_size=16)
    try:
        # Wine's log-on: wineboot without switches starts the programs of the Run keys.
        subprocess.run(["wine", "wineboot"], env=desk.env, stdout=subprocess.DEVNULL, timeout=60, check=True)
        wait_until(lambda: desk.window("--name", TRAY_WINDOW, min_size=16), 60, "the tray icon after the log-on")
    finally:
        reboot(desk)  # ends the tray, which holds its program file

    assert msiexec(desk, "/x", NEXT_MSI) == 0
    assert installation(desk) == {"files": [], "service": ["", "", ""], "run": None, "menu": {}, "products": []}
