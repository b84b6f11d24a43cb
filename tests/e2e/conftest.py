"""Shared helpers of the process-level tests: where the programs are (a missing one fails the
test), a lock that keeps two runs of these tests on one machine apart (they share the block
"ServiceControl_Ombrelin" and the semaphore "ServiceControlMutex"), and starting peers."""
import fcntl
import os
import pathlib
import select
import shlex
import signal
import subprocess
import time

import pytest

BLOCK_NAME = "ServiceControl_Ombrelin"
BLOCK_FILE = pathlib.Path("/dev/shm") / BLOCK_NAME
ROOT = pathlib.Path(__file__).resolve().parents[2]
USAGE = ("Wrong command line parameters specified!\n"
         "Available commands (first parameter): \"start\" or \"stop\"\n"
         "The second parameter is optional and can be used to specify the service name.\n")


def programs(folder, names):
    missing = [n for n in names if not (folder / n).exists()]
    if missing:
        pytest.fail("not built in %s: %s" % (folder, ", ".join(missing)))
    return folder


@pytest.fixture(scope="session", autouse=True)
def exclusive_machine():
    with open("/tmp/gatewaycontrol-e2e.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def read_line(process, timeout_s):
    """One line of the process's standard output, or None when none came in time."""
    ready, _, _ = select.select([process.stdout], [], [], timeout_s)
    return process.stdout.readline() if ready else None


class Peer:
    """A running scpeer; stop() ends it like a service manager would (SIGTERM)."""

    def __init__(self, bin_dir, args):
        self.process = subprocess.Popen([str(bin_dir / "scpeer"), *args], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, bufsize=1)
        line = read_line(self.process, 10)
        if line != "serving %s\n" % BLOCK_NAME:
            self.process.kill()
            raise AssertionError("scpeer did not come up: %r %r" % (line, self.process.stderr.read()))

    def stop(self, sig=signal.SIGTERM):
        """Ends the peer; returns its exit code and everything it printed after the start."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        out, err = self.process.communicate(timeout=10)
        return self.process.returncode, out + err


@pytest.fixture
def bin_dir():
    folder = pathlib.Path(os.environ.get("GC_BIN_DIR", ROOT / "build" / "native" / "bin"))
    return programs(folder, ["gatewaycontrol", "scpeer", "scclient", "ipcprobe", "framework_demo"])


@pytest.fixture
def memcheck():
    """The memory checker to run a program under: valgrind, or none for a sanitizer build."""
    return shlex.split(os.environ.get("GC_MEMCHECK", "valgrind -q --error-exitcode=99 --leak-check=full"))


@pytest.fixture
def peer(bin_dir):
    """Starts peers for a test and makes sure none outlives it, nor its block."""
    BLOCK_FILE.unlink(missing_ok=True)
    started = []

    def start(*args):
        started.append(Peer(bin_dir, [str(a) for a in args]))
        return started[-1]

    yield start
    for p in started:
        if p.process.poll() is None:
            p.process.kill()
            p.process.wait()
    BLOCK_FILE.unlink(missing_ok=True)


def run(argv, timeout_s=60, env=None):
    """Runs a program; returns (exit code, standard output, seconds taken, standard error)."""
    begin = time.monotonic()
    done = subprocess.run([str(a) for a in argv], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, text=True, timeout=timeout_s, env=env)
    return done.returncode, done.stdout, time.monotonic() - begin, done.stderr


def parse_single(stdout):
    """The 'result R state S ms T' line of scclient as a dict of ints."""
    words = stdout.split()
    assert words[0::2] == ["result", "state", "ms"], stdout
    return dict(zip(words[0::2], map(int, words[1::2])))
