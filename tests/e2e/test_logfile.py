"""Log files and the shared-memory log, written by processes of log_tests (LogProcess), read here."""
import csv
import datetime
import os
import pathlib
import re
import subprocess

import pytest

from conftest import ROOT

WINE_BIN = os.environ.get("GC_WIN_BIN_DIR")
BIN = pathlib.Path(WINE_BIN or os.environ.get("GC_BIN_DIR", ROOT / "build" / "native" / "bin"))
PROGRAM = [str(ROOT / "cmake" / "wine-run.sh"), str(BIN / "log_tests.exe")] if WINE_BIN else [str(BIN / "log_tests")]
CLASSES = {1: "", 2: "!!!! Warning: ", 4: "**** ERROR: ", 8: "#### Exception: ", 16: "", 32: "", 64: ""}
ENTRIES = ["<entries>", "Timestamp, CmpId, ClassId, ErrorId, InfoId, InfoText"] + ["ClassId: LOG_%s=%d" % w for w in (
    ("INFO\t\t", 1), ("WARNING\t", 2), ("ERROR\t\t", 4), ("EXCEPTION\t", 8), ("DEBUG\t\t", 16), ("PRINTF\t", 32),
    ("COM\t\t", 64))] + ["</entries>"]


def run(role, **kwargs):
    return subprocess.Popen(PROGRAM + ["--gtest_filter=LogProcess." + role, "--gtest_brief=1"],
                            env=dict(os.environ, GC_LOG_PROCESS="1"), text=True, **kwargs)


def header(name, short=False, maxentries=500, filter_=0xFFFFFFFF):  # default type, dumped always
    options = ["\t<enable>1</enable>", "\t<type>normal</type>", "\t<timestamp>rtc high resolution</timestamp>",
               "\t<deactivatable>0</deactivatable>", "\t<dump>always</dump>", "\t<filter>0x%08x<filter>" % filter_,
               "\t<maxentries>%d</maxentries>" % maxentries]
    return "".join(";%s\r\n" % line for line in ["*" * 64, "<loggername>%s</loggername>" % name, "<logoptions>",
                   *([] if short else options), "\t<maxfiles>3</maxfiles>", "\t<maxfilesize>100000</maxfilesize>",
                   "</logoptions>", *([] if short else ENTRIES), "*" * 64])


def rows(text, columns):  # the entry lines as csv rows, each of the columns, with times that do not go back
    parsed = list(csv.reader([l for l in text.split("\r\n") if l and l[0] != ";"], skipinitialspace=True))
    assert all(len(row) == columns for row in parsed), parsed
    times = [datetime.datetime.fromisoformat(row[0]) for row in parsed]
    assert times == sorted(times)
    return parsed


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    folder = tmp_path_factory.mktemp("logs")
    [(folder / name).write_text("old") for name in ("Pick_0.csv", "Pick_1.csv", "Pick_2.csv")]
    os.utime(folder / "Pick_1.csv", (3e7, 3e7))  # the oldest backup: the first rotation replaces it
    assert run("WritesFiles", cwd=folder, stdout=subprocess.DEVNULL).wait(timeout=300) == 0
    return folder


def test_log_files_parse_as_csv_with_exact_header_and_class_prefixes(files):
    full, short = ((files / name).read_bytes().decode() for name in ("FormatLog.csv", "ShortLog.csv"))
    assert full.startswith(header("./FormatLog")) and short.startswith(header("./ShortLog", short=True))
    assert [tuple(r[1:]) for r in rows(full, 6) if r[1] == "0x00007001"] == [
        ("0x00007001", str(c), "7", "9", "%sclass %d entry" % (p, c)) for c, p in CLASSES.items()]
    assert [r[1] for r in rows(short, 2)][-7:] == ["%sclass %d entry" % (p, c) for c, p in CLASSES.items()]


def test_files_are_named_and_rotated_through_numbered_backups_in_order_or_time_stamped_ones(files):
    names = sorted(p.name for p in files.iterdir())
    assert [n for n in names if n.startswith("StdLogger")] == ["StdLogger.csv", "StdLogger_0.csv", "StdLogger_1.csv"]
    assert len([n for n in names if re.fullmatch(r"Stamped_\d{4}-\d\d-\d\d_\d\d\.\d\d\.\d\d\.csv", n)]) == 2
    assert all((files / n).exists() for n in ("sub/y.txt", "sub/app.csv", "v1.2/log.csv")) and "none" not in names
    numbers = {}
    for name in ("StdLogger_0.csv", "StdLogger_1.csv", "StdLogger.csv"):
        lines = (files / name).read_bytes().decode().split("\r\n")
        head = sum(len(l) + 2 for l in lines if l.startswith(";"))
        assert (files / name).stat().st_size <= 10000 + head + max(map(len, lines)) + 2
        numbers[name] = [int(n) for l in lines for n in re.findall(r", entry (\d+)$", l)]
    backups = sorted(("StdLogger_0.csv", "StdLogger_1.csv"), key=lambda n: numbers[n][0])  # older first
    entries = [n for name in backups + ["StdLogger.csv"] for n in numbers[name]]
    assert entries == list(range(entries[0], 20000))
    assert [(files / n).read_text() == "old" for n in ("Pick_0.csv", "Pick_1.csv", "Pick_2.csv")] == [True, False, True]


def test_second_process_reads_header_and_latest_lines_of_shared_log():
    def read_block():
        out = run("ReadsSharedLog", stdout=subprocess.PIPE).communicate(timeout=120)[0]
        return bytes.fromhex(max(out.split(), key=len)).decode()

    def ready():  # the writer's "ready", after the test runner's own lines
        return next((l for l in iter(writer.stdout.readline, "") if l == "ready\n"), None)

    writer = run("WritesSharedLog", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert ready()
        block = read_block()
        assert block.startswith(header("ShmWriter", maxentries=100, filter_=0x1002F)) and "entry 9\r\n" in block
        assert len(block) == 100 * 152 and block.endswith(" " * 1000)
        print(file=writer.stdin, flush=True)
        assert ready()
        around = read_block() * 2  # the latest line may run past the end and on at the start
        assert all(", entry %d\r\n" % i in around for i in range(280, 310))
    finally:
        writer.stdin.close()
        assert writer.wait(timeout=120) == 0
