"""The edge configuration mode of GatewayControl.exe under Wine, end to end. The stub gateway is
installed from a folder of its own (a quoted image path), with a Gateway.cfg beside it whose file
system settings lie in a file of their own and name a working directory below %APPDATA%; the
system account's profile folder is prepared. Choosing the menu item and answering Yes stops the
gateway, the elevated instance writes the setting into the profile's copy of Gateway.cfg and the
gateway runs again; a working directory outside the roaming data ends in the "Could not find"
box and the manual instructions. The maintenance run started directly writes the setting. The
boxes' texts are the unit tests' business; screenshots stay in build/<preset>/edge-shots."""
import os
import pathlib
import shutil

import pytest

from conftest import ROOT, programs
from maintenance_cases import CASES, sections
from wine_desktop import GATEWAY, MENU_EDGE, PROGRAMS, STATE_RUNNING, STATE_STOPPED, Tray, WineDesktop, missing_tools, wait_until

BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))
CONFIRM, ERROR = "Activate KELVARO Edge Gateway Configuration Mode?", "Error in HandleEdgeConfigurationMode()"
MANUAL = 'Failed to modify the "Gateway.cfg" file'
PROFILE = "windows/system32/config/systemprofile/AppData/Roaming/Gateway"


class EdgeDesktop(WineDesktop):
    """The Wine desktop whose stub gateway is installed from C:\\Gateway, beside its Gateway.cfg."""

    def _install_services(self):
        self.folder = pathlib.Path(self.env["WINEPREFIX"]) / "drive_c" / "Gateway"
        self.folder.mkdir(exist_ok=True)
        stub = shutil.copy(self.bin / "GatewayStubService.exe", self.folder)
        self.run("ServiceControlPeer.exe", "--uninstall")
        self.run(stub, "--uninstall")
        assert self.run(stub, "--install")[0] == 0
        (self.folder / "Gateway.cfg").write_text("[CmpSettings]\r\nFileReference.0=SysFileMap.cfg, SysFile\r\n")
        self.install_peer()


@pytest.fixture(scope="module")
def wine():
    assert not missing_tools(), "missing tools: %s" % ", ".join(missing_tools())
    programs(BIN, PROGRAMS + ["winlaunch.exe"])
    desk = EdgeDesktop(BIN, BIN.parent / "e2e-wineprefix", BIN.parent / "edge-shots")
    target = pathlib.Path(desk.env["WINEPREFIX"]) / "drive_c" / PROFILE / "Gateway.cfg"
    target.parent.mkdir(parents=True, exist_ok=True)
    target.unlink(missing_ok=True)
    tray = Tray(desk)
    yield desk, tray, desk.folder / "SysFileMap.cfg", target
    tray.process.kill()
    desk.close()


def choose_edge_mode(desk, tray, shot):
    tray.choose(MENU_EDGE)
    box = wait_until(lambda: desk.window("--name", CONFIRM), 30, "the question shows")
    desk.shot(shot)
    desk.x("xdotool", "windowfocus", "--sync", box[0], "key", "Return")  # Yes is the default button


def test_menu_item_stops_gateway_has_setting_written_elevated_and_restarts_it(wine):
    desk, tray, settings, target = wine
    settings.write_text("[SysFile]\r\nWindows.WorkingDirectory=%APPDATA%\\Gateway\r\n")
    desk.run("scclient.exe", "start", GATEWAY)
    wait_until(lambda: desk.query() == (0, STATE_RUNNING), 30, "the gateway runs")
    choose_edge_mode(desk, tray, "1-question")
    states = []
    wait_until(lambda: states.append(desk.query()[1]) or STATE_STOPPED in states and states[-1] == STATE_RUNNING,
               60, "the gateway stops and runs again")
    wait_until(lambda: target.exists(), 30, "the elevated instance writes")
    assert sections(target) == {"CmpEdgeGateway": {"maintenancemode": "1"}}
    desk.shot("2-done")
    assert not desk.window("--name", ERROR) and not desk.window("--name", MANUAL)


def test_working_directory_outside_roaming_data_ends_in_could_not_find_and_manual_instructions(wine):
    desk, tray, settings, target = wine
    settings.write_text("[SysFile]\r\nWindows.WorkingDirectory=C:\\GatewayData\r\n")
    before = target.read_bytes() if target.exists() else None
    choose_edge_mode(desk, tray, "3-question")
    for caption, shot in ((ERROR, "4-could-not-find"), (MANUAL, "5-manual-instructions")):
        box = wait_until(lambda: desk.window("--name", caption), 30, "%r shows" % caption)
        desk.shot(shot)
        desk.x("xdotool", "windowfocus", "--sync", box[0], "key", "Return")
    assert desk.query() == (0, STATE_STOPPED)  # stopped before the failure, and left so
    assert (target.read_bytes() if target.exists() else None) == before


@pytest.mark.parametrize("before, after", CASES + [(None, None)])  # None after: a folder that is missing
def test_maintenance_run_writes_the_setting_and_ends_with_1(wine, tmp_path, before, after):
    path = tmp_path / ("missing" if after is None else "") / "Gateway.cfg"
    if before is not None:
        path.write_text(before.replace("\n", "\r\n"))
    code, out = wine[0].run("winlaunch.exe", 'GatewayControl.exe maintenance "Z:%s"' % str(path).replace("/", "\\"))
    assert code == 0 and out.endswith("exit 1\n"), out
    if after is None:
        assert out.startswith("box Error: WriteGatewayMainenanceSetting(pcszGatewayCfgFile="), out
    else:
        assert sections(path) == after
