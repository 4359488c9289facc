"""Where the log goes without --log. Under Wine no folder is admin-only, so the shared log in the updates folder is
never opened: the run says why, warns, and goes on logging to standard output."""
from conftest import DRIVE_C

TEMP = DRIVE_C / "users" / "root" / "Temp"


def test_shared_log_needs_a_secured_updates_folder(tool, scratch):
    run = tool("swap", "--appdir", scratch.win_path("app"))
    assert run.stderr.startswith("warning: could not open the log file; logging to stdout only\n")
    errors = [m for m in run.messages() if "C:\\ProgramData\\Kestrova" in m]
    assert errors and errors[0].startswith("C:\\ProgramData\\Kestrova cannot be repaired: ")
    assert not (DRIVE_C / "ProgramData" / "Kestrova" / "Updates" / "logs" / "payload.log").exists()


def test_updates_dir_moves_the_shared_log_and_is_judged_too(tool, scratch):
    run = tool("swap", "--appdir", scratch.win_path("app"), "--updates-dir", scratch.win_path("updates"))
    assert "warning: could not open the log file" in run.stderr
    assert not scratch.host_path("updates/logs/payload.log").exists()
    assert not any("C:\\ProgramData\\Kestrova" in m for m in run.messages())


def test_check_appdir_and_uninstall_log_to_the_temporary_folder(tool, scratch):
    for command in ["check-appdir", "uninstall"]:
        log = TEMP / f"KestrovaPayload-{command}.log"
        before = log.read_bytes() if log.exists() else b""
        run = tool(command, "--appdir", scratch.win_path("app"))
        assert "warning" not in run.stderr, command
        after = log.read_bytes()
        assert after.startswith(before), command
        assert after[len(before):].decode() == run.stdout, command
