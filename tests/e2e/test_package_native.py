"""The Debian package unpacked into a scratch root: its peer, started the way its systemd unit
says, answers the packaged console tool."""
import configparser
import os
import pathlib
import shlex
import subprocess

from conftest import BLOCK_FILE, ROOT, Peer, run

PACKAGES = pathlib.Path(os.environ.get("GC_DEB_DIR", ROOT / "build" / "native" / "packages"))


def test_peer_started_as_its_unit_says_serves_packaged_console_tool(tmp_path):
    deb, = PACKAGES.glob("*.deb")
    subprocess.run(["dpkg-deb", "-x", deb, tmp_path], check=True)
    unit = configparser.ConfigParser()
    assert unit.read(tmp_path / "usr/lib/systemd/system/scpeer.service")
    program, *args = shlex.split(unit["Service"]["ExecStart"])
    assert program == "/usr/bin/scpeer"
    BLOCK_FILE.unlink(missing_ok=True)
    peer = Peer(tmp_path / "usr/bin", args)
    try:
        assert run([tmp_path / "usr/bin/gatewaycontrol", "start"])[0] == 0
    finally:
        peer.stop()
