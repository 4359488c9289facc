"""repair --appdir: the outcome and exit code of the recovery of a missing APPDIR, or one that is not admin-only.
Under Wine no folder is owned by an administrator: every entry of the family is a stranger's, so APPDIR never counts
as present, a waiting copy is never usable, the foreign copies that may go are removed, and the recovery ends
"unrecoverable" (exit 3) with APPDIR and .lkg untouched; the rules themselves are tested against the scripted file
system."""
import re
import shutil

import pytest

from conftest import DRIVE_C, make_writable

OWNER = "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller"
ROOT_REASON = f"C:\\: {OWNER}"
# The Wine user also may create folders in C:\; its account name follows the machine's name.
REPAIR_ANYWAY = re.compile(re.escape(f"repair: a folder above APPDIR is not admin-only ({ROOT_REASON}; ") +
                           r"[^;()]+ may create folders in C:\\\); a missing APPDIR is repaired anyway")


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


def stranger(win, suffix=""):
    return f"{win}{suffix} is not admin-only ({win}{suffix}: {OWNER})"


def test_a_present_appdir_that_is_not_admin_only_is_never_taken_for_one(tool, drive_root_family):
    host, win = drive_root_family
    write_version(host, "1.0.0")
    for argument in [win, win + "\\", win.replace("\\", "/") + "/"]:
        run = tool("repair", "--appdir", argument)
        assert run.code == 3, run.stdout
        assert summary(run) == "repair: unrecoverable, refusal none, hold none; APPDIR version "
        assert f"repair: {stranger(win)}; nothing admin-only can take its place" in run.messages()
    assert (host / ".complete").read_text() == "1.0.0"


def test_a_strangers_copy_never_replaces_a_strangers_appdir(tool, drive_root_family):
    host, win = drive_root_family
    host.mkdir()
    write_version(host.with_name(host.name + ".lkg"), "1.0.0")
    run = tool("repair", "--appdir", win)
    assert run.code == 3, run.stdout
    assert summary(run) == "repair: unrecoverable, refusal not_admin_owned, hold none; APPDIR version "
    assert f"repair: {stranger(win, '.lkg')}" in run.messages()
    assert host.is_dir()
    assert (host.with_name(host.name + ".lkg") / ".complete").exists()


@pytest.mark.parametrize("siblings, refusal, removed", [
    ([], "none", []),
    ([".lkg"], "not_admin_owned", []),
    ([".staging", ".lkg"], "not_admin_owned", [".staging"]),
    ([".staging.partial"], "none", [".staging.partial"]),
])
def test_missing_appdir_without_an_admin_only_copy_is_unrecoverable(tool, drive_root_family, siblings, refusal,
                                                                      removed):
    host, win = drive_root_family
    for suffix in siblings:
        write_version(host.with_name(host.name + suffix), "1.0.0")
    run = tool("repair", "--appdir", win)
    assert run.code == 3, run.stdout
    assert summary(run) == f"repair: unrecoverable, refusal {refusal}, hold none; APPDIR version "
    assert any(REPAIR_ANYWAY.fullmatch(m) for m in run.messages()), run.stdout
    assert not host.exists()
    for suffix in siblings:
        kept = host.with_name(host.name + suffix)
        if suffix in removed:
            assert f"repair: {stranger(win, suffix)}; removing it" in run.messages()
            assert f"repair: removed {win}{suffix} (not_admin_only)" in run.messages()
            assert not kept.exists()
        else:
            assert (kept / ".complete").read_text() == "1.0.0"
    assert not host.with_name(host.name + ".swap.lock").exists()


@pytest.mark.parametrize("setup, result, code", [
    ("appdir_file", "refused, refusal unexpected_entry, hold none", 1),
    # A file where a copy belongs is nobody's copy: it is removed and the recovery goes on.
    ("staging_file", "unrecoverable, refusal none, hold none", 3),
    ("lkg_file", "unrecoverable, refusal none, hold none", 3),
    # The lock file cannot be created in a missing folder, and the lock comes before the layout check.
    ("missing_parent", "held, refusal none, hold lock", 1),
])
def test_a_layout_that_is_not_a_family_of_folders(tool, drive_root_family, setup, result, code):
    host, win = drive_root_family
    if setup == "appdir_file":
        host.write_text("not a folder")
    elif setup in ("staging_file", "lkg_file"):
        host.with_name(host.name + "." + setup[:-len("_file")]).write_text("not a folder")
    else:
        win = win + "\\missing\\Corvella"
    run = tool("repair", "--appdir", win)
    assert run.code == code, run.stdout
    assert summary(run) == f"repair: {result}; APPDIR version "
    if setup in ("staging_file", "lkg_file"):
        assert not host.with_name(host.name + "." + setup[:-len("_file")]).exists()
    if setup == "missing_parent":
        assert "repair: could not take the swap lock: error 3" in run.messages()


@pytest.mark.parametrize("appdir", ["C:\\", "C:\\Program Files", "c:\\windows\\", "\\\\server\\share\\Corvella",
                                    "Corvella"])
def test_unusable_paths_are_refused(tool, appdir):
    run = tool("repair", "--appdir", appdir)
    assert run.code == 1, run.stdout
    assert summary(run) == "repair: refused, refusal bad_appdir_path, hold none; APPDIR version "


def test_an_empty_appdir_is_a_usage_error(tool):
    assert tool("repair", "--appdir", "").code == 2
    assert tool("repair").code == 2
