"""The command line, the exit codes and the log, as a user of the real exe sees them."""
import re

from conftest import LOG_LINE

def frame(run):
    """The start and exit lines, without what securing the log's folder reported before them."""
    return [m for m in run.messages() if m.startswith("KestrovaPayload ")]


USAGE_FIRST = "usage:\n  KestrovaPayload pack --src <dir> --out <archive> [--exclude <relative path>]...\n"


def test_no_arguments_prints_usage_and_logs_nothing(tool):
    run = tool()
    assert run.code == 2
    assert run.stderr.startswith(USAGE_FIRST)
    assert run.stdout == ""


def test_stray_argument_after_repair_is_a_usage_error_without_a_log_line(tool, scratch):
    run = tool("verify", "--dir", scratch.win_path(), "--repair", "extra")
    assert run.code == 2
    assert run.stdout == ""
    assert run.stderr.startswith("usage:\n")


def test_unknown_command_logs_start_and_exit_then_usage(tool):
    run = tool("Pack", "--src", "a", "--out", "b")
    assert run.code == 2
    assert frame(run) == ["KestrovaPayload Pack", "KestrovaPayload Pack exit 2"]
    assert "warning: could not open the log file; logging to stdout only\n" in run.stderr
    assert USAGE_FIRST in run.stderr
    for line in run.lines():
        assert re.fullmatch(LOG_LINE + ".*", line)


def test_pack_with_a_missing_option_logs_no_start_line(tool):
    run = tool("pack", "--src", "a")
    assert run.code == 2
    assert run.messages() == ["KestrovaPayload pack exit 2"]
    assert "warning" not in run.stderr


def test_missing_required_options_give_exit_2(tool, scratch):
    cases = [
        ["extract"],
        ["extract", "--out", ""],
        ["verify", "--from-file", "x"],
        ["stage", "--appdir", scratch.win_path(), "--db", "p.msi"],
        ["swap"],
        ["repair", "--appdir", ""],
        ["register-recovery"],
        ["install-vdd", "--hwid", "x"],
        ["install-npu"],
        ["install-cert"],
        ["commit-staging", "--version", "1.0"],
        ["uninstall"],
        ["check-appdir"],
        ["rollback"],
        ["rollback", "--dir", ""],
        ["rollback", "--appdir", "", "--dir", scratch.win_path()],
    ]
    for args in cases:
        run = tool(*args)
        assert run.code == 2, args
        assert frame(run) == [f"KestrovaPayload {args[0]}", f"KestrovaPayload {args[0]} exit 2"], args
        assert run.stderr.endswith("for tests\n"), args


def test_log_file_is_appended_with_crlf_lines(tool, scratch):
    log = scratch.host_path("run.log")
    log.write_bytes(b"earlier run\r\n")
    run = tool("rollback", "--dir", scratch.win_path("gone"), "--log", scratch.win_path("run.log"))
    assert run.code == 0
    assert "warning" not in run.stderr
    text = log.read_bytes().decode()
    assert text.startswith("earlier run\r\n")
    lines = text.split("\r\n")[1:-1]
    assert [line.split("] ", 1)[1] for line in lines] == [
        "KestrovaPayload rollback",
        f"rollback: removed {scratch.win_path('gone')}",
        "KestrovaPayload rollback exit 0",
    ]
    # What reaches the file is exactly what reached standard output.
    assert "\r\n".join(lines) + "\r\n" == run.stdout


def test_empty_log_value_warns_and_runs(tool, scratch):
    run = tool("rollback", "--dir", scratch.win_path("gone"), "--log", "")
    assert run.code == 0
    assert run.stderr == "warning: could not open the log file; logging to stdout only\n"
    assert f"rollback: removed {scratch.win_path('gone')}" in run.messages()


def test_a_log_in_a_missing_folder_warns_and_runs(tool, scratch):
    run = tool("rollback", "--dir", scratch.win_path("gone"), "--log", scratch.win_path("no\\such\\run.log"))
    assert run.code == 0
    assert "warning: could not open the log file" in run.stderr


def test_long_messages_are_cut_and_keep_their_line_ending(tool, scratch):
    long_name = "d" * 200
    deep = "\\".join([long_name] * 12)
    run = tool("rollback", "--dir", scratch.win_path(deep))
    assert run.code == 0
    line = [l for l in run.lines() if "rollback:" in l][0]
    message = line.split("] ", 1)[1]
    assert len(message.encode()) == 2047
    assert run.stdout.count("\r\n") == len(run.lines())


def test_unelevated_launcher_passes_exit_codes_and_output(tool, scratch):
    run = tool("rollback", "--dir", scratch.win_path("gone"), unelevated=True)
    assert run.code == 0
    assert f"rollback: removed {scratch.win_path('gone')}" in run.messages()
    assert tool("Pack", unelevated=True).code == 2
