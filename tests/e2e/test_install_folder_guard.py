"""The install-folder guard and check-appdir. Under Wine every folder is owned by a non-admin SID, so an elevated
run finds the drive root unsafe; the unelevated launcher shows the elevation shortcut."""

WINE_OWNER = "S-1-5-21-0-0-0-1000"
ADVICE = "Install Corvella under Program Files or a folder only administrators can change"
ROOT_REASON = f"C:\\: owner {WINE_OWNER} is not SYSTEM, Administrators or TrustedInstaller"


def errors(run):
    commands = ("extract:", "verify:", "commit-staging:", "check-appdir:")
    return [m for m in run.messages() if m.startswith(commands) and ("SECURITY" in m or "cannot be the install" in m)]


def test_check_appdir_names_the_folder_and_the_reason(tool, scratch):
    appdir = scratch.win_path("Corvella") + "\\"
    run = tool("check-appdir", "--appdir", appdir)
    assert run.code == 1
    assert errors(run) == [f"check-appdir: {scratch.win_path('Corvella')} cannot be the install folder: "
                           f"{ROOT_REASON}. {ADVICE}"]


def test_check_appdir_of_a_bare_drive_has_no_parent(tool):
    # The long-path form is taken as it stands, so nothing resolves it against a current directory.
    run = tool("check-appdir", "--appdir", "\\\\?\\C:")
    assert run.code == 1
    assert run.messages()[1] == f"check-appdir: \\\\?\\C: cannot be the install folder: C: has no parent folder. {ADVICE}"


def test_elevated_writers_are_refused_and_unelevated_ones_pass(tool, scratch):
    target = scratch.win_path("app")
    for args, name in [
        (["extract", "--out", target, "--from-file", "x"], "extract"),
        (["verify", "--dir", target, "--from-file", "x", "--repair"], "verify"),
        (["commit-staging", "--appdir", target, "--version", "1.0"], "commit-staging"),
    ]:
        elevated = tool(*args)
        assert elevated.code == 1, args
        assert errors(elevated) == [f"{name}: SECURITY: refusing to write next to {target}: {ROOT_REASON}. {ADVICE}"]
        unelevated = tool(*args, unelevated=True)
        assert errors(unelevated) == [], args


def test_verify_without_repair_runs_no_guard(tool, scratch):
    run = tool("verify", "--dir", scratch.win_path("app"), "--from-file", "x")
    assert errors(run) == []
