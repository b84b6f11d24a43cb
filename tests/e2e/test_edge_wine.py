"""The edge configuration mode of GatewayControl.exe under Wine. The stub gateway runs from a folder
of its own (quoted image path) beside a Gateway.cfg whose file system settings are in a file of
their own; the system profile's folder is prepared. The boxes' texts are the unit tests' business;
screenshots stay in build/<preset>/edge-shots."""
import os
import pathlib
import shutil

import pytest

from conftest import ROOT, programs
from wine_desktop import GATEWAY, MENU_EDGE, PROGRAMS, STATE_RUNNING, STATE_STOPPED, Tray, WineDesktop, missing_tools, wait_until

BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))
CONFIRM, ERROR = "Activate KELVARO Edge Gateway Configuration Mode?", "Error in HandleEdgeConfigurationMode()"
MANUAL = 'Failed to modify the "Gateway.cfg" file'


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
def desk():
    assert not missing_tools(), "missing tools: %s" % ", ".join(missing_tools())
    programs(BIN, PROGRAMS + ["winlaunch.exe"])
    desk = EdgeDesktop(BIN, BIN.parent / "e2e-wineprefix", BIN.parent / "edge-shots")
    yield desk
    desk.close()


def answer(desk, caption, shot):
    box = wait_until(lambda: desk.window("--name", caption), 30, "%r shows" % caption)
    desk.shot(shot)
    desk.x("xdotool", "windowfocus", "--sync", box[0], "key", "Return")  # Yes, or OK


def test_menu_item_has_setting_written_elevated_with_the_gateway_stopped_else_tells_what_to_do(desk):
    target = pathlib.Path(desk.env["WINEPREFIX"]) / "drive_c/windows/system32/config/systemprofile/AppData/Roaming/Gateway/Gateway.cfg"
    target.parent.mkdir(parents=True, exist_ok=True)
    target.unlink(missing_ok=True)
    (desk.folder / "SysFileMap.cfg").write_text("[SysFile]\r\nWindows.WorkingDirectory=%APPDATA%\\Gateway\r\n")
    desk.run("scclient.exe", "start", GATEWAY)
    tray, states = Tray(desk), []
    try:
        tray.choose(MENU_EDGE)
        answer(desk, CONFIRM, "1-question")
        wait_until(lambda: states.append(desk.query()[1]) or STATE_STOPPED in states and states[-1] == STATE_RUNNING
                   and target.exists(), 60, "the gateway stops, the setting is written, the gateway runs again")
        assert target.read_text().split() == ["[CmpEdgeGateway]", "MaintenanceMode=1"]
        assert not desk.window("--name", ERROR) and not desk.window("--name", MANUAL)

        (desk.folder / "SysFileMap.cfg").write_text("[SysFile]\r\nWindows.WorkingDirectory=C:\\GatewayData\r\n")
        target.unlink()
        tray.choose(MENU_EDGE)
        for caption, shot in ((CONFIRM, "2-question"), (ERROR, "3-could-not-find"), (MANUAL, "4-manual")):
            answer(desk, caption, shot)
        assert desk.query() == (0, STATE_STOPPED) and not target.exists()  # stopped before the failure, and left so
    finally:
        tray.process.kill()


def test_maintenance_run_started_directly_ends_with_1_whether_it_writes_or_not(desk, tmp_path):
    existing = tmp_path / "Gateway.cfg"
    existing.write_text("[S]\r\nW=1\r\n")
    for path, written in ((existing, True), (tmp_path / "missing" / "Gateway.cfg", False)):
        out = desk.run("winlaunch.exe", 'GatewayControl.exe maintenance "Z:%s"' % str(path).replace("/", "\\"))[1]
        assert out.endswith("exit 1\n") and out.startswith("box Error: WriteGateway") != written, out
    assert existing.read_text().split() == ["[S]", "W=1", "[CmpEdgeGateway]", "MaintenanceMode=1"]
