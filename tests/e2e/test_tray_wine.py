"""GatewayControl.exe without arguments under Wine on Xvfb, driven as a user would: its icon in
Wine's system tray follows the stub gateway that ServiceControlPeer.exe serves, a click opens
the menu, Start and Stop change icon and tooltip, About shows the picture and its strip, a
second instance shows its warning and ends with 0, Exit while running asks first. Each step
leaves a screenshot in build/<preset>/tray-shots; the icon's pixels, not a log, tell the
states apart. The texts are checked elsewhere: tooltip and About by the unit tests, the
questions and the second-instance warning by the native run on the terminal desktop."""
import os
import pathlib

from conftest import ROOT, programs
from wine_desktop import (MENU_ABOUT, MENU_EXIT, MENU_START, MENU_STOP, PROGRAMS, SCREEN, SECOND_INSTANCE_CAPTION,
                          STATE_RUNNING, STATE_STOPPED, TITLE, Tray, WineDesktop, missing_tools, nearest,
                          same_look, wait_until)

BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))
# The icon follows the service within one poll (100 ms); the bound leaves room for a busy machine.
CHANGE_WITHIN_S = 5.0


def colours(pixels):
    return {pixels[i:i + 3] for i in range(0, len(pixels), 3)}


def about_shows_picture_and_strip_centred(desk, tray):
    tray.choose(MENU_ABOUT)
    about = wait_until(lambda: desk.window("--classname", "gatewaycontrol.exe", min_size=100), 10, "About shows")
    desk.shot("5-about")
    _, x, y, width, height = about
    assert abs(x - (SCREEN[0] - width) // 2) <= 1 and abs(y - (SCREEN[1] - (height - 20)) // 2) <= 1, about
    picture, strip = desk.pixels((x, y, width, height - 20)), desk.pixels((x, y + height - 20, width, 20))
    assert len(colours(picture)) > 50, "no picture"
    assert b"\xff\xff\xff" in colours(strip) and len(colours(strip)) > 2, "no text in the strip"
    desk.click(x + width // 2, y + height // 2)
    wait_until(lambda: not desk.window("--classname", "gatewaycontrol.exe", min_size=100), 10, "About closes")


def answer(desk, caption, key, shot):
    box = wait_until(lambda: desk.window("--name", caption), 30, "%r shows" % caption)
    desk.shot(shot)
    desk.x("xdotool", "windowfocus", "--sync", box[0], "key", key)
    wait_until(lambda: not desk.window("--name", caption), 10, "%r closes" % caption)


def test_tray_follows_start_stop_shows_about_refuses_second_instance_and_asks_before_exit():
    assert not missing_tools(), "missing tools: %s" % ", ".join(missing_tools())
    programs(BIN, PROGRAMS)
    desk = WineDesktop(BIN, BIN.parent / "e2e-wineprefix", BIN.parent / "tray-shots")
    tray = None
    try:
        tray = Tray(desk)
        stopped, stopped_tip = tray.look(), desk.pixels(tray.tooltip())
        menu_stopped = desk.pixels(tray.open_menu()[1:])
        desk.shot("1-menu-stopped")
        desk.keys("Escape")

        tray.choose(MENU_START)
        running, seconds = tray.wait_look(stopped, CHANGE_WITHIN_S)
        print("icon changed %.2f s after Start Gateway" % seconds)
        assert desk.query() == (0, STATE_RUNNING)
        assert not same_look(desk.pixels(tray.tooltip()), stopped_tip)
        menu_running = desk.pixels(tray.open_menu(button=3)[1:])
        desk.shot("2-menu-running")
        desk.keys("Escape")
        assert not same_look(menu_running, menu_stopped), "the greyed item is the same both ways"

        second = desk.start("GatewayControl.exe")
        answer(desk, SECOND_INSTANCE_CAPTION, "Return", "3-second-instance")
        assert second.wait(timeout=30) == 0
        tray.choose(MENU_EXIT)
        answer(desk, TITLE, "Escape", "4-exit-question")
        about_shows_picture_and_strip_centred(desk, tray)
        assert nearest(tray.look(), running=running, stopped=stopped) == "running"

        tray.choose(MENU_STOP)
        assert nearest(tray.wait_look(running, CHANGE_WITHIN_S)[0], stopped=stopped, running=running) == "stopped"
        assert desk.query() == (0, STATE_STOPPED)
        assert same_look(desk.pixels(tray.tooltip()), stopped_tip)
        desk.shot("6-stopped")
        tray.choose(MENU_EXIT)  # stopped: no question
        assert tray.process.wait(timeout=30) == 0
    finally:
        if tray and tray.process.poll() is None:
            tray.process.kill()
        desk.close()
