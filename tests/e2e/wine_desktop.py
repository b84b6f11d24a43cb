"""The Windows tray on an X display of its own: Xvfb, a Wine prefix whose service control
manager runs ServiceControlPeer.exe and GatewayStubService.exe, GatewayControl.exe started
without arguments, and the hands and eyes of a user: xdotool clicks and keys, imagemagick
screenshots and the pixels of the icon in Wine's system tray. The tray's Wine tests and the
tray demo both drive it. Every wait is for a condition, with a time-out."""
import os
import pathlib
import shutil
import subprocess
import time

GATEWAY = "KELVARO Gateway V3"
TITLE = "KELVARO Quendra - x64"
SECOND_INSTANCE_CAPTION = "Warning: Gateway Control"
TRAY_WINDOW = "Wine System Tray"
SCREEN = (800, 600)
TOOLS = ["wine", "wineserver", "Xvfb", "xdotool", "xwininfo", "import"]
PROGRAMS = ["GatewayControl.exe", "ServiceControlPeer.exe", "GatewayStubService.exe", "scclient.exe"]
# Menu items as the keyboard reaches them from the top (separators are skipped).
MENU_START, MENU_STOP, MENU_EDGE, MENU_EXIT, MENU_ABOUT = range(1, 6)
STATE_STOPPED, STATE_RUNNING = 1, 4


def missing_tools():
    return [t for t in TOOLS if shutil.which(t) is None]


def wait_until(condition, timeout_s, what):
    """condition()'s first true value, asked every 50 ms; AssertionError after timeout_s."""
    end = time.monotonic() + timeout_s
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError("%s: not within %s s" % (what, timeout_s))
        time.sleep(0.05)


def same_look(a, b, tolerance=48):
    """Two grabs of one box show the same picture: no colour channel apart by more than tolerance."""
    return len(a) == len(b) and all(abs(p - q) <= tolerance for p, q in zip(a, b))


def nearest(look, **candidates):
    """The name of the candidate grab that look is closest to. Wine's tray draws a new icon over
    the old one, so the soft edges of an icon darken with each change and a look is recognised
    as nearest to one state, never as equal to a grab of it."""
    return min(candidates, key=lambda name: sum(abs(p - q) for p, q in zip(look, candidates[name])))


class WineDesktop:
    """Xvfb and a Wine prefix whose service control manager runs the peer and the stub gateways
    (each a name and its install options); close() ends both."""

    def __init__(self, bin_dir, prefix, shots=None, stubs=((GATEWAY,),)):
        self.bin = pathlib.Path(bin_dir)
        self.shots = pathlib.Path(shots) if shots else None
        if self.shots:
            self.shots.mkdir(parents=True, exist_ok=True)
        self.stubs = stubs
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                                      "%dx%dx24" % SCREEN], stdout=subprocess.PIPE, text=True)
        self.env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        DISPLAY=":" + self.xvfb.stdout.readline().strip())
        self._prepare_prefix(pathlib.Path(prefix))
        self._install_services()

    def _prepare_prefix(self, prefix):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        if not prefix.exists():
            prefix.mkdir(parents=True)
            subprocess.run(["wine", "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
            # A new prefix goes on setting itself up; services installed meanwhile never start.
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)
        # Wine ends the services of a prefix with its last program unless the server persists.
        subprocess.run(["wineserver", "-p"], env=self.env, check=True)

    def _install_services(self):
        self.run("ServiceControlPeer.exe", "--uninstall")
        for name, *options in self.stubs:
            self.run("GatewayStubService.exe", "--uninstall", "--name", name)
            assert self.run("GatewayStubService.exe", "--install", "--name", name, *options)[0] == 0, name
        self.install_peer()

    def install_peer(self):
        assert self.run("ServiceControlPeer.exe", "--install")[0] == 0, "peer not installed"
        # Right after a new prefix boots the manager may answer late: the peer's answer counts.
        wait_until(lambda: self.query()[0] == 0, 60, "the peer answers")

    def close(self):
        self.run("ServiceControlPeer.exe", "--uninstall")
        for name, *_ in self.stubs:
            self.run("GatewayStubService.exe", "--uninstall", "--name", name)
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        self.xvfb.kill()
        self.xvfb.wait()

    # Programs of the Windows build.
    def start(self, program, *args):
        return subprocess.Popen(["wine", str(self.bin / program), *map(str, args)], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def run(self, program, *args):
        """(exit code, standard output) of a program run to its end."""
        out = (process := self.start(program, *args)).communicate(timeout=120)[0]
        return process.returncode, out

    def query(self, service=GATEWAY):
        """(result, state) of a service as the peer answers a query."""
        words = self.run("scclient.exe", "query", service)[1].split()
        return (int(words[1]), int(words[3])) if len(words) == 6 else (None, None)

    # Eyes.
    def x(self, *argv):
        return subprocess.run(list(argv), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True).stdout

    def windows(self, *criteria):
        """(id, x, y, width, height) of each viewable window that xdotool search finds."""
        found = []
        for wid in self.x("xdotool", "search", "--onlyvisible", *criteria).split():
            info = dict(line.strip().split(":", 1) for line in self.x("xwininfo", "-id", wid).splitlines()
                        if ":" in line)
            keys = ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")
            if all(k in info for k in keys):  # else the window went away meanwhile
                found.append((wid, *(int(info[k]) for k in keys)))
        return found

    def window(self, *criteria, min_size=30):
        """The one viewable window of at least min_size pixels each way, else None."""
        big = [w for w in self.windows(*criteria) if w[3] >= min_size and w[4] >= min_size]
        return big[0] if len(big) == 1 else None

    def pixels(self, box):
        """The RGB bytes of a screen box (x, y, width, height)."""
        x, y, w, h = box
        return subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"],
                              env=self.env, stdout=subprocess.PIPE, check=True).stdout

    def shot(self, name, box=None):
        """Saves the screen, or a box of it, as name.png among the screenshots."""
        path = self.shots / (name + ".png")
        crop = ["-crop", "%dx%d+%d+%d" % (box[2], box[3], box[0], box[1])] if box else []
        subprocess.run(["import", "-window", "root", *crop, "+repage", str(path)], env=self.env, check=True)
        return path

    # Hands.
    def click(self, x, y, button=1):
        self.x("xdotool", "mousemove", str(x), str(y), "click", str(button))

    def keys(self, *names):
        self.x("xdotool", "key", "--delay", "60", *names)


class Tray:
    """GatewayControl.exe in tray mode on a WineDesktop, seen through its icon in the system tray."""

    def __init__(self, desk):
        self.desk = desk
        self.process = desk.start("GatewayControl.exe")
        self.tray = tray = wait_until(lambda: desk.window("--name", TRAY_WINDOW, min_size=16), 60, "Wine's system tray")
        # The tray shows icons in a row of squares as high as itself; ours is the only one.
        self.icon = (tray[1], tray[2], tray[4], tray[4])
        self.blank = bytes(desk.pixels(self.icon)[:3]) * (tray[4] * tray[4])
        wait_until(lambda: self.look() != self.blank, 30, "the tray icon drawn")

    def look(self):
        return self.desk.pixels(self.icon)

    def centre(self):
        return self.icon[0] + self.icon[2] // 2, self.icon[1] + self.icon[3] // 2

    def wait_look(self, changed_from, timeout_s):
        """The icon's pixels once they differ from changed_from and hold still (a repaint is
        caught half done otherwise), and the seconds that took."""
        begin, last = time.monotonic(), [b""]

        def settled():
            previous, last[0] = last[0], self.look()
            return last[0] == previous and not same_look(previous, changed_from) and previous

        look = wait_until(settled, timeout_s, "the icon changes")
        return look, time.monotonic() - begin

    def open_menu(self, button=1):
        """Clicks the icon; the menu window (id, x, y, width, height) once it shows."""
        self.desk.click(*self.centre(), button=button)
        return wait_until(lambda: self.desk.window("--classname", "gatewaycontrol.exe"), 10, "the menu opens")

    def choose(self, item):
        """Opens the menu and picks the item-th entry with the keyboard."""
        menu = self.open_menu()
        self.desk.keys(*["Down"] * item, "Return")
        wait_until(lambda: menu[0] not in self.desk.x("xdotool", "search", "--onlyvisible", "--classname",
                                                      "gatewaycontrol.exe").split(), 10, "the menu closes")

    def tooltip(self):
        """The box of the icon's tooltip, shown by resting the mouse on the icon."""
        # The tray lets a tip show again only after the mouse has left the icon within it.
        self.desk.x("xdotool", "mousemove", "--sync", str(self.tray[1] + self.tray[3] - 2), str(self.centre()[1]))
        wait_until(lambda: not self._tips(), 10, "the tooltip hides")
        self.desk.x("xdotool", "mousemove", "--sync", *map(str, self.centre()))
        return wait_until(self._tips, 10, "the tooltip shows")[0][1:]

    def _tips(self):
        return [w for w in self.desk.windows("--classname", "explorer.exe")
                if w[0] != self.tray[0] and w[3] > 20 and w[4] > 8]
