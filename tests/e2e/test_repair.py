"""repair --appdir: nothing to do for a present APPDIR; for a missing one the outcome and exit code of the recovery.
Under Wine no folder is owned by an administrator, so a waiting copy is never usable and the recovery ends
"unrecoverable" (exit 3) without touching it; the rules themselves are tested against the scripted file system."""
import shutil

import pytest

from conftest import DRIVE_C, make_writable

ROOT_REASON = "C:\\: owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller"


def summary(run):
    lines = [m for m in run.messages() if m.startswith("repair: ") and ", refusal " in m]
    assert len(lines) == 1, run.stdout
    return lines[0]


def write_version(folder, version):
    (folder / "bin").mkdir(parents=True)
    (folder / "bin" / "core.dll").write_bytes(b"core " + version.encode())
    (folder / ".complete").write_text(version)


@pytest.fixture
def drive_root_family():
    """An APPDIR directly under the drive root, as C:\\Corvella, and its siblings removed before and after."""
    name = "CorvellaRepairE2E"

    def clear():
        for suffix in ["", ".staging", ".staging.partial", ".lkg", ".rejected", ".swap.lock"]:
            path = DRIVE_C / (name + suffix)
            if path.is_dir():
                make_writable(path)
                shutil.rmtree(path)
            elif path.exists():
                path.unlink()

    clear()
    yield DRIVE_C / name, f"C:\\{name}"
    clear()


def test_present_appdir_needs_nothing(tool, drive_root_family):
    host, win = drive_root_family
    write_version(host, "1.0.0")
    for argument in [win, win + "\\", win.replace("\\", "/") + "/"]:
        run = tool("repair", "--appdir", argument)
        assert run.code == 0, run.stdout
        assert summary(run) == "repair: nothing, refusal none, hold none; APPDIR version "
        assert not any(m.startswith("repair: a folder above APPDIR") for m in run.messages())
    assert (host / ".complete").read_text() == "1.0.0"


def test_an_incomplete_appdir_is_never_replaced(tool, drive_root_family):
    host, win = drive_root_family
    host.mkdir()
    write_version(host.with_name(host.name + ".lkg"), "1.0.0")
    run = tool("repair", "--appdir", win)
    assert run.code == 0
    assert summary(run) == "repair: nothing, refusal none, hold none; APPDIR version "
    assert (host.with_name(host.name + ".lkg") / ".complete").exists()


@pytest.mark.parametrize("siblings, refusal", [
    ([], "none"),
    ([".lkg"], "not_admin_owned"),
    ([".staging", ".lkg"], "not_admin_owned"),
    ([".staging.partial"], "none"),
])
def test_missing_appdir_without_an_admin_owned_copy_is_unrecoverable(tool, drive_root_family, siblings, refusal):
    host, win = drive_root_family
    for suffix in siblings:
        write_version(host.with_name(host.name + suffix), "1.0.0")
    run = tool("repair", "--appdir", win)
    assert run.code == 3, run.stdout
    assert summary(run) == f"repair: unrecoverable, refusal {refusal}, hold none; APPDIR version "
    assert (f"repair: a folder above APPDIR is not admin-only ({ROOT_REASON}); a missing APPDIR is repaired anyway"
            in run.messages())
    assert not host.exists()
    for suffix in siblings:
        assert (host.with_name(host.name + suffix) / ".complete").read_text() == "1.0.0"
    assert not host.with_name(host.name + ".swap.lock").exists()


@pytest.mark.parametrize("setup, result", [
    ("appdir_file", "refused, refusal unexpected_entry, hold none"),
    ("staging_file", "refused, refusal unexpected_entry, hold none"),
    ("lkg_file", "refused, refusal unexpected_entry, hold none"),
    # The lock file cannot be created in a missing folder, and the lock comes before the layout check.
    ("missing_parent", "held, refusal none, hold lock"),
])
def test_a_layout_that_is_not_a_family_of_folders_is_refused(tool, drive_root_family, setup, result):
    host, win = drive_root_family
    if setup == "appdir_file":
        host.write_text("not a folder")
    elif setup in ("staging_file", "lkg_file"):
        host.with_name(host.name + "." + setup[:-len("_file")]).write_text("not a folder")
    else:
        win = win + "\\missing\\Corvella"
    run = tool("repair", "--appdir", win)
    assert run.code == 1, run.stdout
    assert summary(run) == f"repair: {result}; APPDIR version "


@pytest.mark.parametrize("appdir", ["C:\\", "C:\\Program Files", "c:\\windows\\", "\\\\server\\share\\Corvella",
                                    "Corvella"])
def test_unusable_paths_are_refused(tool, appdir):
    run = tool("repair", "--appdir", appdir)
    assert run.code == 1, run.stdout
    assert summary(run) == "repair: refused, refusal bad_appdir_path, hold none; APPDIR version "


def test_an_empty_appdir_is_a_usage_error(tool):
    assert tool("repair", "--appdir", "").code == 2
    assert tool("repair").code == 2
