"""The road of an update: stage a new version from a real installer package, commit it, swap it in, repair.
Under Wine every folder belongs to the Wine user, not to Administrators: an elevated stage or commit-staging is
refused by the install-folder guard (so both run through the unelevated launcher, as an installer's user-context
action would), and the swap refuses for the owner of the folders above APPDIR, which is the correct behaviour there.
The renames themselves are proven by the engine's Wine tests through their ownership decorator."""
import re
import shutil
import subprocess

import pytest

from conftest import DRIVE_C, make_writable

OWNER = "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller"
ROOT_REASON = f"C:\\: {OWNER}"
# The Wine user also may create folders in APPDIR's parent; its account name follows the machine's name.
NOT_SWAPPING = re.compile(re.escape(f"swap: SECURITY: a folder above APPDIR is not admin-only ({ROOT_REASON}; ") +
                          r"[^;()]+ may create folders in [^;()]+\); not swapping")
SUFFIXES = ["", ".staging", ".staging.partial", ".lkg", ".rejected", ".swap.lock"]


def build_package(scratch, version, files):
    """An installer package whose Binary row PayloadArchive holds the packed application of `version`."""
    app = scratch.host_path(f"app-{version}")
    for relative, content in files.items():
        (app / relative).parent.mkdir(parents=True, exist_ok=True)
        (app / relative).write_bytes(content)
    folder = scratch.host_path(f"msi-{version}")
    (folder / "Binary").mkdir(parents=True)
    return app, folder


def pack_into_package(tool, scratch, version, files):
    app, folder = build_package(scratch, version, files)
    archive = scratch.win_path(f"payload-{version}.kvp")
    packed = tool("pack", "--src", scratch.win_path(f"app-{version}"), "--out", archive)
    assert packed.code == 0, packed.stdout
    shutil.copy(scratch.host_path(f"payload-{version}.kvp"), folder / "Binary" / "payload.kvp")
    (folder / "Binary.idt").write_bytes(b"Name\tData\r\ns72\tv0\r\nBinary\tName\r\nPayloadArchive\tpayload.kvp\r\n")
    subprocess.run(["msibuild", "p.msi", "-i", "Binary.idt"], cwd=folder, check=True, capture_output=True)
    shutil.copy(folder / "p.msi", scratch.host_path(f"Corvella-{version}.msi"))
    return scratch.win_path(f"Corvella-{version}.msi")


def files_of(version):
    return {
        "corvella.exe": f"exe {version}".encode(),
        "bin/core.dll": bytes(range(256)) * 3000 + version.encode(),
        "resources/caf\u00e9.txt": ("na\u00efve " + version).encode(),
    }


@pytest.fixture(params=["drive_root", "two_levels_deep"])
def appdir(request, scratch):
    """APPDIR directly under the drive root (C:\\CorvellaRoadE2E, cleared before and after) or two levels below it."""
    if request.param == "drive_root":
        host, win = DRIVE_C / "CorvellaRoadE2E", "C:\\CorvellaRoadE2E"
    else:
        (scratch.host_path("Kestrova")).mkdir()
        host, win = scratch.host_path("Kestrova") / "Corvella", scratch.win_path("Kestrova\\Corvella")

    def clear():
        for suffix in SUFFIXES:
            path = host.with_name(host.name + suffix)
            if path.is_dir():
                make_writable(path)
                shutil.rmtree(path)
            elif path.exists():
                path.unlink()

    clear()
    yield host, win
    clear()


def sibling(host, suffix):
    return host.with_name(host.name + suffix)


def test_stage_commit_swap_repair(tool, scratch, appdir):
    host, win = appdir
    old = pack_into_package(tool, scratch, "1.0.0", files_of("1.0.0"))
    new = pack_into_package(tool, scratch, "2.0.0", files_of("2.0.0"))
    installed = tool("extract", "--out", win, "--db", old, "--row", "PayloadArchive", unelevated=True)
    assert installed.code == 0, installed.stdout

    # Elevated, the guard refuses to write next to an APPDIR whose parents are not admin-only.
    refused = tool("stage", "--appdir", win, "--db", new, "--row", "PayloadArchive")
    assert refused.code == 1
    assert any(m.startswith(f"stage: SECURITY: refusing to write next to {win}: ") for m in refused.messages())
    assert not sibling(host, ".staging.partial").exists()

    staged = tool("stage", "--appdir", win + "\\", "--db", new, "--row", "PayloadArchive", unelevated=True)
    assert staged.code == 0, staged.stdout
    partial = sibling(host, ".staging.partial")
    assert (partial / "corvella.exe").read_bytes() == b"exe 2.0.0"
    assert (partial / "resources" / "caf\u00e9.txt").read_bytes() == "na\u00efve 2.0.0".encode()
    assert (partial / "manifest.json").exists()
    assert not (partial / ".complete").exists()

    assert tool("commit-staging", "--appdir", win, "--version", "2.0.0").code == 1
    bad = tool("commit-staging", "--appdir", win, "--version", "2.0", unelevated=True)
    assert bad.code == 0
    assert f"commit: '2.0' is not a version; leaving {win}.staging.partial uncommitted" in bad.messages()
    committed = tool("commit-staging", "--appdir", win, "--version", "2.0.0", unelevated=True)
    assert committed.code == 0, committed.stdout
    assert f"commit: {win}.staging is complete (version 2.0.0)" in committed.messages()
    assert (sibling(host, ".staging") / ".complete").read_bytes() == b"2.0.0"
    assert not partial.exists()
    again = tool("commit-staging", "--appdir", win, "--version", "2.0.0", unelevated=True)
    assert f"commit: no {win}.staging.partial; nothing to commit" in again.messages()

    # Under Wine the folders above APPDIR belong to the Wine user: the swap refuses, exit 0, nothing touched.
    for unelevated in (False, True):
        swap = tool("swap", "--appdir", win, unelevated=unelevated)
        assert swap.code == 0, swap.stdout
        body = [m for m in swap.messages() if m.startswith("swap: ")]
        assert len(body) == 3, swap.stdout
        assert body[0] == "swap: APPDIR incomplete (), staging complete (2.0.0), .lkg absent (), .rejected absent"
        assert NOT_SWAPPING.fullmatch(body[1]), body[1]
        assert body[2] == "swap: refused, refusal unsafe_parent, hold none; leaving the staging dir for Dovrecat"
    assert (host / "corvella.exe").read_bytes() == b"exe 1.0.0"
    assert (sibling(host, ".staging") / "corvella.exe").read_bytes() == b"exe 2.0.0"
    assert not sibling(host, ".lkg").exists()

    # A repair of the installed version (REINSTALL set) finds APPDIR healthy: the waiting 2.0.0 must not replace it.
    reinstall = tool("stage", "--appdir", win, "--db", old, "--row", "PayloadArchive", "--reinstall", "ALL",
                     unelevated=True)
    assert reinstall.code == 0, reinstall.stdout
    assert f"stage: repair found {win} healthy; nothing to stage" in reinstall.messages()
    assert f"stage: deleted the stale {win}.staging (version '2.0.0')" in reinstall.messages()
    assert not sibling(host, ".staging").exists()
    assert not sibling(host, ".staging.partial").exists()

    # The Wine user's APPDIR is not admin-only, so repair never counts it as present, and leaves it where it is.
    repair = tool("repair", "--appdir", win)
    assert repair.code == 3, repair.stdout
    assert "repair: unrecoverable, refusal none, hold none; APPDIR version " in repair.messages()
    assert (host / "corvella.exe").read_bytes() == b"exe 1.0.0"

    # A stage cut short is rolled back by the same partial name.
    assert tool("stage", "--appdir", win, "--db", new, "--row", "PayloadArchive", unelevated=True).code == 0
    rollback = tool("rollback", "--appdir", win + "\\")
    assert rollback.code == 0
    assert f"rollback: removed {win}.staging.partial" in rollback.messages()
    assert not sibling(host, ".staging.partial").exists()
    assert (host / "corvella.exe").read_bytes() == b"exe 1.0.0"


def test_swap_with_nothing_staged_an_unusable_path_and_empty_arguments(tool, appdir):
    host, win = appdir
    host.mkdir()
    (host / ".complete").write_text("1.0.0")
    nothing = tool("swap", "--appdir", win)
    assert nothing.code == 0
    assert [m for m in nothing.messages() if m.startswith("swap: ")] == ["swap: nothing staged"]
    for path in ["C:\\", "Corvella", "\\\\server\\share\\Corvella"]:
        run = tool("swap", "--appdir", path)
        assert run.code == 0, run.stdout
        assert [m for m in run.messages() if m.startswith("swap: ")] == [f"swap: {path} is not a usable APPDIR"]
    assert tool("swap", "--appdir", "").code == 2
    assert tool("swap").code == 2
    assert tool("stage", "--appdir", win, "--db", "x.msi").code == 2
    assert tool("stage", "--appdir", "", "--db", "x.msi", "--row", "R").code == 2
    assert tool("commit-staging", "--appdir", "", "--version", "1.2.3").code == 2
    missing_row = tool("stage", "--appdir", win, "--db", "C:\\nowhere\\x.msi", "--row", "R", unelevated=True)
    assert missing_row.code == 1
    assert any(m.startswith("stage: MsiOpenDatabase(") for m in missing_row.messages()), missing_row.stdout
