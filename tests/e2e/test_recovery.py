"""register-recovery and unregister-recovery end to end. Under Wine every folder is owned by a non-administrator, so
the maker's folder above the default updates folder is never admin-only: registration is refused with exit 4 before
anything is written or registered. The registration itself is checked by the recovery unit tests under Wine."""
import subprocess

import pytest

from conftest import DRIVE_C, wine_env

SECURITY = ("recovery: SECURITY: C:\\ProgramData\\Kestrova stays writable by standard users, so a planted "
            "Updates\\recover.ps1 could run as SYSTEM; not registering the recovery task (KVRN-11940)")
# Wine's synthesized owner of every folder, the first folder judged being the drive root above C:\ProgramData.
REFUSAL = ("C:\\ProgramData\\Kestrova cannot be repaired: a folder above it is not admin-only: C:\\: owner "
           "S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller")
POLICY_KEY = "Software\\KestrovaE2E\\RecoveryPolicy"


@pytest.fixture
def no_task(tool, scratch):
    """No recovery task before and after the test."""
    tool("unregister-recovery", "--log", scratch.win_path("cleanup.log"))
    yield
    tool("unregister-recovery", "--log", scratch.win_path("cleanup.log"))


def script_in(scratch, size=64):
    path = scratch.host_path("Corvella & Co/recover.ps1")
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"#" * size)
    return scratch.win_path("Corvella & Co\\recover.ps1")


def read_log(scratch, name):
    return scratch.host_path(name).read_bytes().decode()


def test_default_updates_folder_is_refused_with_exit_4(tool, scratch, no_task):
    script = script_in(scratch)
    run = tool("register-recovery", "--script", script, "--log", scratch.win_path("run.log"))
    assert run.code == 4, run.stdout
    messages = run.messages()
    assert len(messages) == 4, messages
    assert messages[0] == "KestrovaPayload register-recovery"
    assert messages[1] == REFUSAL
    assert messages[2] == SECURITY
    assert messages[3] == "KestrovaPayload register-recovery exit 4"
    levels = [line.split(" ")[1] for line in run.lines()]
    assert levels == ["INFO", "ERROR", "ERROR", "INFO"]
    assert read_log(scratch, "run.log") == run.stdout
    assert run.stderr == ""
    assert not (DRIVE_C / "ProgramData" / "Kestrova" / "Updates" / "recover.ps1").exists()


def test_without_log_the_refusal_is_logged_for_the_log_and_for_the_task(tool, scratch, no_task):
    run = tool("register-recovery", "--script", script_in(scratch))
    assert run.code == 4, run.stdout
    assert run.stderr.startswith("warning: could not open the log file; logging to stdout only\n")
    messages = run.messages()
    assert len(messages) == 6, messages
    assert messages[0] == REFUSAL and messages[3] == REFUSAL
    assert messages[1] == SECURITY and messages[4] == SECURITY
    assert messages[2] == "KestrovaPayload register-recovery"
    assert messages[5] == "KestrovaPayload register-recovery exit 4"


def test_missing_or_empty_script_is_exit_1_before_any_securing(tool, scratch, no_task):
    missing = scratch.win_path("missing.ps1")
    for value, shown in [(missing, missing), ("", "")]:
        run = tool("register-recovery", "--script", value, "--log", scratch.win_path("run.log"))
        assert run.code == 1, run.stdout
        assert run.messages() == ["KestrovaPayload register-recovery",
                                  f"recovery: cannot read {shown}: not a regular file",
                                  "KestrovaPayload register-recovery exit 1"]


def test_updates_folder_given_on_the_command_line_that_cannot_be_secured_is_exit_1(tool, scratch, no_task):
    updates = scratch.win_path("updates")
    run = tool("register-recovery", "--script", script_in(scratch, 1048576), "--updates-dir", updates, "--log",
               scratch.win_path("run.log"))
    assert run.code == 1, run.stdout
    messages = run.messages()
    assert messages[1].startswith(f"{updates} cannot be secured: a folder above it is not admin-only: ")
    assert messages[2] == f"recovery: cannot secure {updates}; removing the task"
    assert messages[3] == "KestrovaPayload register-recovery exit 1"
    assert not scratch.host_path("updates").exists()


def test_policy_in_the_user_hive_disables_and_exits_0(tool, scratch, no_task):
    env = wine_env()
    subprocess.run(["wine", "reg", "add", f"HKCU\\{POLICY_KEY}", "/v", "RecoveryTaskEnabled", "/t", "REG_DWORD", "/d",
                    "0", "/f"], env=env, capture_output=True, check=True)
    try:
        run = tool("register-recovery", "--script", scratch.win_path("missing.ps1"), "--policy-root", "hkcu",
                   "--policy-key", POLICY_KEY, "--log", scratch.win_path("run.log"))
        assert run.code == 0, run.stdout
        assert run.messages() == ["KestrovaPayload register-recovery",
                                  "recovery: disabled by IT policy RecoveryTaskEnabled=0; removing the task",
                                  "KestrovaPayload register-recovery exit 0"]
        # HKCU spelled in capitals selects the machine's hive, where no policy is set.
        run = tool("register-recovery", "--script", scratch.win_path("missing.ps1"), "--policy-root", "HKCU",
                   "--policy-key", POLICY_KEY, "--log", scratch.win_path("run.log"))
        assert run.code == 1, run.stdout
    finally:
        subprocess.run(["wine", "reg", "delete", f"HKCU\\{POLICY_KEY}", "/f"], env=env, capture_output=True)


def test_register_recovery_needs_script(tool, scratch):
    run = tool("register-recovery", "--log", scratch.win_path("run.log"))
    assert run.code == 2
    assert run.stderr.startswith("usage:\n")


def test_unregister_without_a_task_is_silent_and_exit_0(tool, scratch, no_task):
    run = tool("unregister-recovery", "--log", scratch.win_path("run.log"))
    assert run.code == 0, run.stdout
    assert run.messages() == ["KestrovaPayload unregister-recovery", "KestrovaPayload unregister-recovery exit 0"]
