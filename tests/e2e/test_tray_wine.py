"""GatewayControl.exe without arguments under Wine on Xvfb, driven as a user would: its icon in
Wine's system tray follows the stub gateway that ServiceControlPeer.exe serves, a click opens
the menu, Start and Stop change icon and tooltip, About shows the picture and its strip, a
second instance shows its warning and ends with 0, Exit while running asks first. Each step
leaves a screenshot in build/<preset>/tray-shots; the icon's pixels, not a log, tell the
states apart. The texts themselves are checked by the unit tests on the scripted desktop."""
import os
import pathlib

import pytest

from conftest import ROOT, programs
from wine_desktop import (MENU_ABOUT, MENU_EXIT, MENU_START, MENU_STOP, PROGRAMS, SCREEN, SECOND_INSTANCE_CAPTION,
                          STATE_RUNNING, STATE_STOPPED, TITLE, Tray, WineDesktop, missing_tools, nearest,
                          same_look, wait_until)

BIN = pathlib.Path(os.environ.get("GC_WIN_BIN_DIR", ROOT / "build" / "windows" / "bin"))
# The icon follows the service within one poll (100 ms); the bound leaves room for a busy machine.
CHANGE_WITHIN_S = 5.0


def colours(pixels):
    return {pixels[i:i + 3] for i in range(0, len(pixels), 3)}


@pytest.fixture(scope="module")
def desk():
    assert not missing_tools(), "missing tools: %s" % ", ".join(missing_tools())
    programs(BIN, PROGRAMS)
    d = WineDesktop(BIN, BIN.parent / "e2e-wineprefix", BIN.parent / "tray-shots")
    yield d
    d.close()


@pytest.fixture(scope="module")
def tray(desk):
    t = Tray(desk)
    yield t
    if t.process.poll() is None:
        t.process.kill()
        t.process.wait()


def test_menu_start_and_stop_change_icon_tooltip_and_greying(desk, tray):
    stopped, stopped_tip = tray.look(), desk.pixels(tray.tooltip())
    desk.shot("1-stopped")
    menu_stopped = desk.pixels(tray.open_menu()[1:])
    desk.shot("2-menu-stopped")
    desk.keys("Escape")

    tray.choose(MENU_START)
    running, seconds = tray.wait_look(stopped, CHANGE_WITHIN_S)
    print("icon changed %.2f s after Start Gateway" % seconds)
    assert desk.query() == (0, STATE_RUNNING)
    assert not same_look(desk.pixels(tray.tooltip()), stopped_tip)
    desk.shot("3-running")
    menu_running = desk.pixels(tray.open_menu(button=3)[1:])
    desk.shot("4-menu-running")
    desk.keys("Escape")
    assert not same_look(menu_running, menu_stopped), "the greyed item is the same both ways"

    tray.choose(MENU_STOP)
    back = tray.wait_look(running, CHANGE_WITHIN_S)[0]
    assert nearest(back, stopped=stopped, running=running) == "stopped"
    assert desk.query() == (0, STATE_STOPPED)
    assert same_look(desk.pixels(tray.tooltip()), stopped_tip)


def test_icon_follows_a_change_made_behind_its_back(desk, tray):
    stopped = tray.look()
    desk.service("start", STATE_RUNNING)
    running = tray.wait_look(stopped, CHANGE_WITHIN_S)[0]
    desk.service("stop", STATE_STOPPED)
    assert nearest(tray.wait_look(running, CHANGE_WITHIN_S)[0], stopped=stopped, running=running) == "stopped"


def test_icon_shows_stopped_while_no_peer_answers_and_recovers_when_it_does(desk, tray):
    stopped = tray.look()
    desk.service("start", STATE_RUNNING)
    running = tray.wait_look(stopped, CHANGE_WITHIN_S)[0]
    assert desk.run("ServiceControlPeer.exe", "--uninstall")[0] == 0
    orphaned = tray.wait_look(running, CHANGE_WITHIN_S)[0]
    assert nearest(orphaned, stopped=stopped, running=running) == "stopped"
    tray.open_menu()  # still answers the user between polls
    desk.keys("Escape")
    desk.install_peer(STATE_RUNNING)
    assert nearest(tray.wait_look(orphaned, CHANGE_WITHIN_S)[0], stopped=stopped, running=running) == "running"
    desk.service("stop", STATE_STOPPED)
    tray.wait_look(running, CHANGE_WITHIN_S)


def test_second_instance_shows_warning_and_ends_with_0(desk, tray):
    second = desk.start("GatewayControl.exe")
    box = wait_until(lambda: desk.window("--name", SECOND_INSTANCE_CAPTION), 30, "the warning shows")
    desk.shot("5-second-instance")
    desk.x("xdotool", "windowfocus", "--sync", box[0], "key", "Return")
    assert second.wait(timeout=30) == 0
    assert tray.process.poll() is None


def test_about_shows_picture_centred_with_display_name_strip(desk, tray):
    tray.choose(MENU_ABOUT)
    about = wait_until(lambda: desk.window("--classname", "gatewaycontrol.exe", min_size=100), 10, "About shows")
    desk.shot("6-about")
    _, x, y, width, height = about
    assert abs(x - (SCREEN[0] - width) // 2) <= 1 and abs(y - (SCREEN[1] - (height - 20)) // 2) <= 1, about
    picture, strip = desk.pixels((x, y, width, height - 20)), desk.pixels((x, y + height - 20, width, 20))
    assert len(colours(picture)) > 50, "no picture"
    assert b"\xff\xff\xff" in colours(strip) and len(colours(strip)) > 2, "no text in the strip"
    desk.click(x + width // 2, y + height // 2)
    wait_until(lambda: not desk.window("--classname", "gatewaycontrol.exe", min_size=100), 10, "About closes")


def test_exit_while_running_asks_and_cancel_keeps_the_tray(desk, tray):
    stopped = tray.look()
    desk.service("start", STATE_RUNNING)
    running = tray.wait_look(stopped, CHANGE_WITHIN_S)[0]
    for key in ("Escape", "Return"):
        tray.choose(MENU_EXIT)
        box = wait_until(lambda: desk.window("--name", TITLE), 10, "the exit question shows")
        desk.shot("7-exit-question" if key == "Escape" else "8-exit-question-again")
        desk.x("xdotool", "windowfocus", "--sync", box[0], "key", key)
        if key == "Escape":
            wait_until(lambda: not desk.window("--name", TITLE), 10, "the question closes")
            assert tray.process.poll() is None
            assert nearest(tray.look(), running=running, stopped=stopped) == "running"
    assert tray.process.wait(timeout=30) == 0
    wait_until(lambda: tray.gone(running), 10, "the icon leaves the tray")
    desk.shot("9-exited")
    assert desk.query() == (0, STATE_RUNNING), "exit stopped the gateway"
    desk.service("stop", STATE_STOPPED)
