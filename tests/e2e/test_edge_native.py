"""The maintenance run of gatewaycontrol on POSIX writes the setting as the Windows profile files do,
read back by Python's INI parser (key names without regard to case), and ends with 1 also when it
cannot, its box on standard error with the C library's text (line ends as text mode reads them).
A case: the file before (None: none yet), its sections after."""
import configparser
import errno
import os

import pytest

from conftest import run

CASES = [
    (None, {"CmpEdgeGateway": {"maintenancemode": "1"}}),
    ("[cmpedgegateway]\nMaintenanceMode = 0\n[SysFile]\nW=x\n", {"cmpedgegateway": {"maintenancemode": "1"}, "SysFile": {"w": "x"}}),
    ("[CmpEdgeGateway]\nOther=2\n\n[S]\nW=a, b\n", {"CmpEdgeGateway": {"other": "2", "maintenancemode": "1"}, "S": {"w": "a, b"}}),
    (None, None),  # a folder that is missing
]


@pytest.mark.parametrize("before, after", CASES)
def test_maintenance_run_writes_the_setting_and_ends_with_1(bin_dir, memcheck, tmp_path, before, after):
    path = tmp_path / ("." if after else "missing") / "Gateway.cfg"
    if before is not None:
        path.write_text(before)
    code, _, _, err = run([*memcheck, bin_dir / "gatewaycontrol", "maintenance", path])
    parser = configparser.ConfigParser(interpolation=None)
    parser.read(path)
    assert code == 1, err
    assert {s: dict(parser[s]) for s in parser.sections()} == after if after else err == (
        'Error: WriteGatewayMainenanceSetting(pcszGatewayCfgFile=\n"%s")\nError:\n%s\n' % (path, os.strerror(errno.ENOENT)))
