"""A delta update end to end: pack --base makes it, stage applies it against the installed folder and the result is
the full archive's tree byte for byte; without its base it refuses before writing anything."""
import filecmp
import subprocess
import random

import pytest

from test_host_pack import HOST_PACK

PATHS = ("Corvella.staging.partial", "Corvella.staging")


def write_versions(scratch):
    rng = random.Random(7)
    old_binary = bytes(rng.getrandbits(8) for _ in range(300000))
    new_binary = bytearray(old_binary)
    for at in range(1000, len(new_binary), 997):  # addresses that moved
        new_binary[at] ^= 0x5A
    v1, v2 = scratch.host_path("v1"), scratch.host_path("v2")
    for root in (v1, v2):
        (root / "bin").mkdir(parents=True)
        (root / "docs").mkdir()
    (v1 / "bin" / "core.dll").write_bytes(old_binary)
    (v2 / "bin" / "core.dll").write_bytes(bytes(new_binary))
    (v1 / "docs" / "licence.txt").write_text("same in both\n" * 500)
    (v2 / "docs" / "LICENCE-moved.txt").write_text("same in both\n" * 500)
    (v1 / "gone.txt").write_text("only in 1.0\n")
    (v2 / "whatsnew.txt").write_text("new in 1.1\n")


def pack(tool, scratch, folder, archive, *base):
    run = tool("pack", "--src", scratch.win_path(folder), "--out", scratch.win_path(archive), *base)
    assert run.code == 0, run.stdout
    return run


@pytest.fixture
def versions(tool, scratch):
    write_versions(scratch)
    pack(tool, scratch, "v1", "v1.kvp")
    pack(tool, scratch, "v2", "v2.kvp")
    delta = pack(tool, scratch, "v2", "d2.kvp", "--base", scratch.win_path("v1.kvp"))
    assert f"delta against {scratch.win_path('v1.kvp')}: 1 files taken from it, 1 patched, 1 whole" in \
        delta.messages()
    assert tool("extract", "--out", scratch.win_path("Corvella"), "--from-file", scratch.win_path("v1.kvp"),
                unelevated=True).code == 0
    return scratch


def test_a_staged_delta_is_the_full_archives_tree_byte_for_byte(tool, versions):
    scratch = versions
    assert scratch.host_path("d2.kvp").stat().st_size < scratch.host_path("v2.kvp").stat().st_size / 5
    appdir = scratch.win_path("Corvella")
    staged = tool("stage", "--appdir", appdir, "--from-file", scratch.win_path("d2.kvp"), unelevated=True)
    assert staged.code == 0, staged.stdout
    committed = tool("commit-staging", "--appdir", appdir, "--version", "1.1.0", unelevated=True)
    assert committed.code == 0, committed.stdout
    assert tool("extract", "--out", scratch.win_path("full"), "--from-file", scratch.win_path("v2.kvp"),
                unelevated=True).code == 0
    scratch.host_path("Corvella.staging/.complete").unlink()
    comparison = filecmp.dircmp(scratch.host_path("Corvella.staging"), scratch.host_path("full"))
    assert comparison.left_only == comparison.right_only == comparison.diff_files == []
    for name in ("bin/core.dll", "docs/LICENCE-moved.txt", "whatsnew.txt", "manifest.json"):
        assert scratch.host_path("Corvella.staging/" + name).read_bytes() == \
            scratch.host_path("full/" + name).read_bytes(), name


@pytest.mark.parametrize("damage,reason", [
    ("missing", "'docs/licence.txt' is missing"),
    ("changed", "'bin/core.dll' differs from the version this update was made from"),
])
def test_without_its_base_a_delta_refuses_and_leaves_nothing(tool, versions, damage, reason):
    scratch = versions
    if damage == "missing":
        scratch.host_path("Corvella/docs/licence.txt").unlink()
    else:
        with open(scratch.host_path("Corvella/bin/core.dll"), "r+b") as f:
            f.seek(5)
            f.write(b"\x00")
    appdir = scratch.win_path("Corvella")
    run = tool("stage", "--appdir", appdir, "--from-file", scratch.win_path("d2.kvp"), unelevated=True)
    assert run.code == 1
    assert f"stage: {appdir} does not hold the base of this update: {reason}; a full package is needed" in \
        run.messages()
    assert not any(scratch.host_path(p).exists() for p in PATHS)


def test_extract_refuses_a_delta_before_it_touches_its_folder(tool, versions):
    scratch = versions
    run = tool("extract", "--out", scratch.win_path("Corvella"), "--from-file", scratch.win_path("d2.kvp"),
               unelevated=True)
    assert run.code == 1
    assert "extract: a delta update, which needs the installed version it was made from: stage applies it" in \
        run.messages()
    assert scratch.host_path("Corvella/docs/licence.txt").exists()


def test_the_native_packer_writes_the_same_delta(versions):
    scratch = versions
    done = subprocess.run([str(HOST_PACK), "--src", str(scratch.host_path("v2")), "--out",
                           str(scratch.host_path("host.kvp")), "--base", str(scratch.host_path("v1.kvp"))],
                          capture_output=True)
    assert done.returncode == 0, done.stdout
    assert scratch.host_path("host.kvp").read_bytes() == scratch.host_path("d2.kvp").read_bytes()
