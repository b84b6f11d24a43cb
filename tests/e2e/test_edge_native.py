"""The maintenance run of gatewaycontrol on POSIX: it writes the setting into a configuration file
as the Windows profile files do, and ends with 1 also when it cannot (the box on standard error)."""
import pytest

from conftest import run
from maintenance_cases import CASES, sections


@pytest.mark.parametrize("before, after", CASES + [(None, None)])  # None after: a folder that is missing
def test_maintenance_run_writes_the_setting_and_ends_with_1(bin_dir, memcheck, tmp_path, before, after):
    path = tmp_path / ("missing" if after is None else "") / "Gateway.cfg"
    if before is not None:
        path.write_text(before)
    code, _, _, err = run([*memcheck, bin_dir / "gatewaycontrol", "maintenance", path])
    assert code == 1, err
    if after is None:
        assert err.startswith("Error: WriteGatewayMainenanceSetting(pcszGatewayCfgFile="), err
    else:
        assert sections(path) == after
