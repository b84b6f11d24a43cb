"""What the maintenance run must leave in a configuration file, on both platforms: the file's text
before (None: no file yet) and its sections after, read back by Python's own INI parser (names
of keys without regard to case, as the profile files treat them)."""
import configparser

CASES = [
    (None, {"CmpEdgeGateway": {"maintenancemode": "1"}}),
    ("[cmpedgegateway]\nMaintenanceMode = 0\n[SysFile]\nWindows.WorkingDirectory=x\n",
     {"cmpedgegateway": {"maintenancemode": "1"}, "SysFile": {"windows.workingdirectory": "x"}}),
    ("[CmpEdgeGateway]\nOther=2\n\n[CmpSettings]\nFileReference.0=a, SysFile\n",
     {"CmpEdgeGateway": {"other": "2", "maintenancemode": "1"}, "CmpSettings": {"filereference.0": "a, SysFile"}}),
]


def sections(path):
    parser = configparser.ConfigParser(interpolation=None)
    parser.read(path)
    return {name: dict(parser[name]) for name in parser.sections()}
