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
    debs = list(PACKAGES.glob("*.deb"))
    assert len(debs) == 1, debs
    subprocess.run(["dpkg-deb", "-x", debs[0], tmp_path], check=True)
    unit = configparser.ConfigParser()
    assert unit.read(tmp_path / "usr/lib/systemd/system/scpeer.service")
    command = shlex.split(unit["Service"]["ExecStart"])
    program = tmp_path / command[0].lstrip("/")
    assert program.name == "scpeer"
    BLOCK_FILE.unlink(missing_ok=True)
    peer = Peer(program.parent, command[1:])
    try:
        assert run([tmp_path / "usr/bin/gatewaycontrol", "start"])[0] == 0
    finally:
        peer.stop()
