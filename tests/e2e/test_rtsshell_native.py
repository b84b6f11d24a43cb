"""rtsshell as a person uses it: commands typed on standard input, answers on standard output, the
framework shut down at "exit" or at the end of the input, clean under the memory checker."""
import datetime
import subprocess

UTC = datetime.timezone.utc


def shell(bin_dir, memcheck, lines, folder):
    done = subprocess.run([*memcheck, str(bin_dir / "rtsshell")], input="".join(l + "\n" for l in lines),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120, cwd=folder)
    assert (done.returncode, done.stderr) == (0, "")
    return done.stdout.splitlines()


def test_rtc_get_reads_the_system_clock(bin_dir, memcheck, tmp_path):
    before = datetime.datetime.now(UTC)
    answer = shell(bin_dir, memcheck, ["rtc-get"], tmp_path)
    after = datetime.datetime.now(UTC)
    stamp = datetime.datetime.strptime(answer[0].split(": ")[1], "%Y-%m-%dT%H:%M:%S,%fZ").replace(tzinfo=UTC)
    assert before - datetime.timedelta(milliseconds=1) <= stamp <= after


def test_filters_written_in_one_line_are_read_in_the_next(bin_dir, memcheck, tmp_path):
    names = ["SysFile"] * 500 + ["Logger.%d" % i for i in range(500)]
    answer = shell(bin_dir, memcheck, ["logsetfilter %s 0x0000000F" % " ".join(names), "loggetfilter Logger.499",
                                       "exit", "rtc-get"], tmp_path)
    assert len(answer) == len(names) + 1
    assert answer[-1].split(" : ") == ["Logger.499.Filter", "0x0000000F"]
