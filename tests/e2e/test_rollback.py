"""rollback removes a folder tree, never a drive or a system folder, and always exits 0."""
import os
import stat


def make_tree(root):
    (root / "a" / "b" / "c").mkdir(parents=True)
    (root / "top.txt").write_text("top")
    (root / "a" / "b" / "c" / "deep.bin").write_bytes(b"\0" * 1000)
    readonly = root / "a" / "readonly.txt"
    readonly.write_text("keep me?")
    os.chmod(readonly, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    os.chmod(root / "a" / "b", 0o555)


def test_rollback_dir_removes_a_tree_with_read_only_files(tool, scratch):
    target = scratch.host_path("payload")
    make_tree(target)
    run = tool("rollback", "--dir", scratch.win_path("payload") + "\\")
    assert run.code == 0, run.stdout
    assert not target.exists()
    assert f"rollback: removed {scratch.win_path('payload')}" in run.messages()


def test_rollback_appdir_removes_only_the_partial_staging_folder(tool, scratch):
    make_tree(scratch.host_path("Corvella.staging.partial"))
    scratch.host_path("Corvella").mkdir()
    scratch.host_path("other").mkdir()
    run = tool("rollback", "--appdir", scratch.win_path("Corvella") + "\\", "--dir", scratch.win_path("other"))
    assert run.code == 0
    assert not scratch.host_path("Corvella.staging.partial").exists()
    assert scratch.host_path("Corvella").is_dir()
    assert scratch.host_path("other").is_dir()
    assert f"rollback: removed {scratch.win_path('Corvella.staging.partial')}" in run.messages()


def test_rollback_of_a_missing_folder_counts_as_removed(tool, scratch):
    run = tool("rollback", "--dir", scratch.win_path("never\\was"))
    assert run.code == 0
    assert f"rollback: removed {scratch.win_path('never')}\\was" in run.messages()


def test_rollback_removes_a_single_file(tool, scratch):
    scratch.host_path("file.txt").write_text("x")
    run = tool("rollback", "--dir", scratch.win_path("file.txt"))
    assert run.code == 0
    assert not scratch.host_path("file.txt").exists()


def test_rollback_refuses_drive_roots_and_system_folders(tool):
    system = "it is a system folder or holds one"
    for folder, shown, reason in [
        ("C:\\", "C:\\", "it is a drive root"),
        ("C:\\.", "C:\\", "it is a drive root"),
        ("Z:\\", "Z:\\", "it is a drive root"),
        ("C:\\windows", "C:\\windows", system),
        ("c:\\WINDOWS\\system32\\", "c:\\WINDOWS\\system32", system),
        ("C:\\Program Files", "C:\\Program Files", system),
        ("C:\\users", "C:\\users", system),
        ("C:\\ProgramData", "C:\\ProgramData", system),
    ]:
        run = tool("rollback", "--dir", folder)
        assert run.code == 0, folder
        errors = [m for m in run.messages() if m.startswith("rollback:")]
        assert errors == [f"rollback: refusing to remove {shown}: {reason}"], (folder, errors)
    assert (__import__("conftest").DRIVE_C / "windows" / "system32").is_dir()
