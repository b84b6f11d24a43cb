"""Log files and the shared-memory log as other programs see them: the log tests' program
(log_tests, natively or under Wine) writes them as processes of their own (its LogProcess
tests), and Python reads them. A log file parses with the csv module after its ";" header
lines, and its header is the block service engineers' tools expect, byte for byte; a second
process reading "ShmLog" while the writer runs finds the header and the latest lines."""
import csv
import datetime
import os
import pathlib
import subprocess

from conftest import ROOT

WINE_BIN = os.environ.get("GC_WIN_BIN_DIR")
BIN = pathlib.Path(WINE_BIN or os.environ.get("GC_BIN_DIR", ROOT / "build" / "native" / "bin"))
CLASSES = {1: "", 2: "!!!! Warning: ", 4: "**** ERROR: ", 8: "#### Exception: ", 16: "", 32: "", 64: ""}
STARS = ";" + "*" * 64


def command(role):
    program = [str(ROOT / "cmake" / "wine-run.sh"), str(BIN / "log_tests.exe")] if WINE_BIN else [str(BIN / "log_tests")]
    return program + ["--gtest_filter=LogProcess." + role, "--gtest_brief=1"]


def environment():
    return dict(os.environ, GC_LOG_PROCESS="1")


def header(name, short=False, maxentries=500, filter_=0xFFFFFFFF):
    """The header block of a logger of the default type dumped always, line by line."""
    options = ["\t<enable>1</enable>", "\t<type>normal</type>", "\t<timestamp>rtc high resolution</timestamp>",
               "\t<deactivatable>0</deactivatable>", "\t<dump>always</dump>", "\t<filter>0x%08x<filter>" % filter_,
               "\t<maxentries>%d</maxentries>" % maxentries]
    entries = ["<entries>", "Timestamp, CmpId, ClassId, ErrorId, InfoId, InfoText",
               "ClassId: LOG_INFO\t\t=1", "ClassId: LOG_WARNING\t=2", "ClassId: LOG_ERROR\t\t=4",
               "ClassId: LOG_EXCEPTION\t=8", "ClassId: LOG_DEBUG\t\t=16", "ClassId: LOG_PRINTF\t=32",
               "ClassId: LOG_COM\t\t=64", "</entries>"]
    lines = ["*" * 64, "<loggername>%s</loggername>" % name, "<logoptions>", *([] if short else options),
             "\t<maxfiles>3</maxfiles>", "\t<maxfilesize>100000</maxfilesize>", "</logoptions>",
             *([] if short else entries), "*" * 64]
    return "".join(";%s\r\n" % line for line in lines)


def rows(text, columns):
    """The entry lines as csv rows; each must have the columns, and a time that does not go back."""
    body = [line for line in text.split("\r\n") if line and not line.startswith(";")]
    parsed = list(csv.reader(body, skipinitialspace=True))
    times = [datetime.datetime.fromisoformat(row[0]) for row in parsed]
    assert all(len(row) == columns for row in parsed), parsed
    assert times == sorted(times)
    return parsed


def test_log_files_parse_as_csv_with_exact_header_and_class_prefixes(tmp_path):
    subprocess.run(command("WritesFiles"), cwd=tmp_path, env=environment(), check=True, timeout=120,
                   stdout=subprocess.DEVNULL)
    full = (tmp_path / "FormatLog.csv").read_bytes().decode()
    short = (tmp_path / "ShortLog.csv").read_bytes().decode()
    assert full.startswith(header("./FormatLog"))
    assert short.startswith(header("./ShortLog", short=True))
    mine = [row for row in rows(full, 6) if row[1] == "0x00007001"]
    assert [(int(r[2]), r[3], r[4], r[5]) for r in mine] == [
        (c, "7", "9", "%sclass %d entry" % (prefix, c)) for c, prefix in CLASSES.items()]
    assert [r[1] for r in rows(short, 2)][-7:] == ["%sclass %d entry" % (p, c) for c, p in CLASSES.items()]


def read_shared_log():
    done = subprocess.run(command("ReadsSharedLog"), env=environment(), check=True, timeout=120,
                          stdout=subprocess.PIPE, text=True)
    block = bytes.fromhex(next(line for line in done.stdout.splitlines() if len(line) > 1000)).decode()
    assert len(block) == 100 * 152
    return block


def ready(writer):
    """Whether the writer said it is ready (after the test runner's own lines) before it ended."""
    line = None
    while line not in ("ready\n", ""):
        line = writer.stdout.readline()
    return line == "ready\n"


def test_second_process_reads_header_and_latest_lines_of_shared_log():
    writer = subprocess.Popen(command("WritesSharedLog"), env=environment(), stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    try:
        assert ready(writer)
        block = read_shared_log()
        assert block.startswith(header("ShmWriter", maxentries=100, filter_=0x1002F))
        assert "entry 9\r\n" in block and block.endswith(" " * 1000)
        writer.stdin.write("\n")
        writer.stdin.flush()
        assert ready(writer)
        around = read_shared_log() * 2  # the latest line may run past the end and on at the start
        assert all(", entry %d\r\n" % i in around for i in range(280, 310))
    finally:
        writer.stdin.close()
        assert writer.wait(timeout=120) == 0
