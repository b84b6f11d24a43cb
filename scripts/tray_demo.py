#!/usr/bin/env python3
"""The tray demo: GatewayControl.exe of the windows build in Wine's system tray on an Xvfb
display, against the stub gateway that ServiceControlPeer.exe serves through Wine's service
control manager. It clicks through the menu (Start Gateway, Stop Gateway, About..., Exit) as a
user would and saves a screenshot of each step in the folder it names.

    scripts/tray_demo.py [FOLDER]      (default: build/tray-demo)
Needs the windows build (GatewayControl.exe, ServiceControlPeer.exe, GatewayStubService.exe,
scclient.exe in build/windows/bin) and what scripts/deps.sh installs."""
import fcntl
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from wine_desktop import (MENU_ABOUT, MENU_EXIT, MENU_START, MENU_STOP, STATE_STOPPED, Tray, WineDesktop,  # noqa: E402
                          missing_tools, wait_until)

BIN = ROOT / "build" / "windows" / "bin"
# The part of the screen with Wine's system tray and the menu that opens at the icon.
TRAY_CORNER = (0, 0, 260, 160)


def step(text):
    print("--", text, flush=True)


def show(desk, tray, state, offers):
    """Shots of the icon with its tooltip and of the menu, for the gateway in state."""
    tray.tooltip()
    step("the gateway is %s: %s" % (state, desk.shot("%s" % state, TRAY_CORNER).name))
    tray.open_menu()
    step("its menu offers %s: %s" % (offers, desk.shot("menu-%s" % state, TRAY_CORNER).name))
    desk.keys("Escape")


def demo(desk):
    tray = Tray(desk)
    stopped = tray.look()
    show(desk, tray, "stopped", "Start Gateway")
    tray.choose(MENU_START)
    running, seconds = tray.wait_look(stopped, 10)
    step("Start Gateway: the icon turned to running %.2f s later" % seconds)
    show(desk, tray, "running", "Stop Gateway")
    tray.choose(MENU_ABOUT)
    about = wait_until(lambda: desk.window("--classname", "gatewaycontrol.exe", min_size=100), 10, "About")
    step("About...: %s" % desk.shot("about", about[1:]).name)
    desk.click(about[1] + 10, about[2] + 10)
    wait_until(lambda: not desk.window("--classname", "gatewaycontrol.exe", min_size=100), 10, "About closes")
    tray.choose(MENU_STOP)
    seconds = tray.wait_look(running, 10)[1]
    step("Stop Gateway: the icon turned to stopped %.2f s later" % seconds)
    wait_until(lambda: desk.query() == (0, STATE_STOPPED), 10, "gateway stopped")
    tray.choose(MENU_EXIT)
    step("Exit: the tray ended with exit code %d" % tray.process.wait(timeout=30))


def main():
    folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "tray-demo").resolve()
    if missing_tools():
        sys.exit("missing tools (run scripts/deps.sh): %s" % ", ".join(missing_tools()))
    # The process-level tests use the same Wine prefix: one of us at a time.
    with open("/tmp/gatewaycontrol-e2e.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        step("starting Xvfb, Wine and the services")
        desk = WineDesktop(BIN, BIN.parent / "e2e-wineprefix", folder)
        try:
            demo(desk)
        finally:
            desk.close()
    print("screenshots in %s" % folder)


if __name__ == "__main__":
    main()
