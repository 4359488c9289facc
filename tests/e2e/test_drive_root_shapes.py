"""The shapes users type: an install folder directly under the drive root (C:\\Corvella), an empty --src, and an
updates folder that names a drive, a system folder or a profile."""
import shutil

import pytest

from conftest import DRIVE_C, make_writable


@pytest.fixture
def corvella():
    """C:\\Corvella, absent before and after the test."""
    host = DRIVE_C / "Corvella"

    def clear():
        if host.exists():
            make_writable(host)
            shutil.rmtree(host)

    clear()
    yield host
    clear()


def pack_sample(tool, scratch):
    app = scratch.host_path("app")
    (app / "bin").mkdir(parents=True)
    (app / "bin" / "core.dll").write_bytes(bytes(range(256)) * 300)
    (app / "r\u00e9sum\u00e9.txt").write_text("caf\u00e9\n" * 50)
    run = tool("pack", "--src", scratch.win_path("app"), "--out", scratch.win_path("p.kvp"))
    assert run.code == 0, run.stdout
    return app


@pytest.mark.parametrize("out", ["C:\\Corvella", "C:\\Corvella\\", "\\\\?\\C:\\Corvella", "c:/Corvella"],
                         ids=["plain", "trailing", "long", "slashes"])
def test_extract_verify_repair_and_rollback_directly_under_the_drive_root(tool, scratch, corvella, out):
    app = pack_sample(tool, scratch)
    (corvella / "old").mkdir(parents=True)
    (corvella / "old" / "stale.txt").write_text("from the last install")
    source = ["--from-file", scratch.win_path("p.kvp")]

    extracted = tool("extract", "--out", out, *source, unelevated=True)
    assert extracted.code == 0, extracted.stdout
    assert (corvella / "bin" / "core.dll").read_bytes() == (app / "bin" / "core.dll").read_bytes()
    assert not (corvella / "old").exists(), "the folder is cleared before the new tree is written"

    (corvella / "bin" / "core.dll").write_bytes(b"tampered")
    (corvella / "r\u00e9sum\u00e9.txt").unlink()
    repaired = tool("verify", "--dir", out, *source, "--repair", unelevated=True)
    assert repaired.code == 0, repaired.stdout
    assert (corvella / "bin" / "core.dll").read_bytes() == (app / "bin" / "core.dll").read_bytes()
    assert tool("verify", "--dir", out, *source).code == 0

    shutil.rmtree(corvella)
    recreated = tool("verify", "--dir", out, *source, "--repair", unelevated=True)
    assert recreated.code == 0, recreated.stdout
    assert (corvella / "manifest.json").is_file()

    removed = tool("rollback", "--dir", out)
    assert removed.code == 0
    assert not corvella.exists()
    assert (DRIVE_C / "windows").is_dir()


def test_the_guard_judges_the_drive_root_above_c_corvella(tool, corvella):
    run = tool("check-appdir", "--appdir", "C:\\Corvella")
    assert run.code == 1
    assert run.messages()[1].startswith("check-appdir: C:\\Corvella cannot be the install folder: C:\\: owner ")
    refused = tool("extract", "--out", "C:\\Corvella", "--from-file", "C:\\none.kvp")
    assert refused.code == 1
    assert any(m.startswith("extract: SECURITY: refusing to write next to C:\\Corvella: C:\\: ")
               for m in refused.messages())
    assert not corvella.exists()


@pytest.mark.parametrize("src", [None, ""], ids=["no-value", "empty"])
def test_pack_refuses_an_empty_source(tool, scratch, src):
    args = ["pack", "--src"] + ([] if src is None else [src]) + ["--out", scratch.win_path("p.kvp")]
    run = tool(*args)
    assert run.code == 1
    assert run.messages() == ["pack: could not list : Path not found.", "KestrovaPayload pack exit 1"]
    assert not scratch.host_path("p.kvp").exists()


@pytest.mark.parametrize("updates,reason", [
    ("C:\\", "it is a drive root"),
    ("C:", "it is a drive root"),
    ("C:\\windows", "it is a system folder or holds one"),
    ("C:\\ProgramData", "it is a system folder or holds one"),
    ("C:\\users\\someone", "it is a system folder or holds one"),
    ("\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", "it is not a path on a drive letter or a share"),
], ids=["root", "bare-drive", "windows", "programdata", "profile", "device"])
def test_an_updates_folder_is_never_a_drive_root_system_folder_or_profile(tool, scratch, updates, reason):
    marker = DRIVE_C / "ProgramData" / "kestrova-e2e-marker.txt"
    marker.write_text("keep")
    try:
        run = tool("verify", "--dir", scratch.win_path("none"), "--from-file", scratch.win_path("none.kvp"),
                   "--updates-dir", updates)
        assert "warning: could not open the log file" in run.stderr
        assert run.messages()[0] == f"{updates} cannot be the updates folder: {reason}", run.messages()
        assert marker.read_text() == "keep"
        assert (DRIVE_C / "windows" / "system32").is_dir()
        assert not (DRIVE_C / "logs").exists()
    finally:
        marker.unlink()


def test_check_appdir_refuses_volume_and_device_paths(tool):
    for appdir in ["\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\Apps\\Corvella",
                   "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Corvella", "\\\\.\\C:\\Corvella"]:
        run = tool("check-appdir", "--appdir", appdir)
        assert run.code == 1, appdir
        assert run.messages()[1].endswith(" is not an absolute path on a drive letter. Install Corvella under "
                                          "Program Files or a folder only administrators can change"), run.messages()
