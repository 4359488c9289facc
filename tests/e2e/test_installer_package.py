"""Corvella's installer package under Wine's msiexec (through the unelevated launcher: every folder is a non-admin's
here): install, repair, upgrade and removal, and the archive pinned by the digest the package carries."""
import hashlib
import shutil
import subprocess

import pytest

from conftest import DRIVE_C, EXE, LAUNCHER, SOURCE_DIR, held_by_cmd, wine_env
from test_host_pack import HOST_PACK
from test_payload_road import build_package

PROGRAM_FILES = DRIVE_C / "Program Files"
APPDIR = PROGRAM_FILES / "Corvella"
TOOLS = PROGRAM_FILES / "Kestrova" / "Corvella Tools"
SWAP_REFUSED = "swap: refused, refusal unsafe_parent, hold none; leaving the staging dir for Dovrecat"


def package(version, dist, out):
    env = dict(wine_env(), KESTROVA_EXE=str(EXE), KESTROVA_PACK=str(HOST_PACK))
    done = subprocess.run(["bash", str(SOURCE_DIR / "scripts" / "package.sh"), version, str(dist), str(out)], env=env,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


def msiexec(args):
    command = ["wine", str(LAUNCHER), "C:\\windows\\system32\\msiexec.exe", *args, "/qn"]
    done = subprocess.run(command, env=wine_env(), capture_output=True, timeout=300)
    out = done.stdout.decode("utf-8", "replace")
    # The tool's lines, without time stamp, level and process id; the log placement's complaints about the
    # updates folder (every folder is a stranger's here) are left out.
    messages = [line.split("] ", 1)[1] for line in out.split("\r\n") if "Z INFO  [" in line or "Z WARN  [" in line
                or "Z ERROR [" in line]
    return done.returncode, [m for m in messages if "Kestrova cannot be repaired" not in m and "planted" not in m]


def installed_product_key():
    done = subprocess.run(["wine", "reg", "query", "HKLM\\Software\\Kestrova\\Corvella", "/s"], env=wine_env(),
                          capture_output=True, text=True)
    return done.stdout if done.returncode == 0 else ""


@pytest.fixture
def corvella(scratch):
    """Two versions of an application and their packages; whatever an install left behind goes afterwards."""
    for version, extra in (("1.0.0", None), ("1.1.0", "whatsnew.txt")):
        app = scratch.host_path(f"app-{version}")
        (app / "bin").mkdir(parents=True)
        (app / "bin" / "core.dll").write_bytes(bytes(range(256)) * 2000)
        (app / "README.txt").write_text(f"Corvella {version}\n")
        if extra:
            (app / extra).write_text("new\n")
        package(version, app, scratch.host_path(f"Corvella-{version}.msi"))
    yield scratch
    for product in ("Corvella-1.1.0.msi", "Corvella-1.0.0.msi"):
        msiexec(("/x", scratch.win_path(product)))
    for leftover in PROGRAM_FILES.glob("Corvella*"):
        shutil.rmtree(leftover, ignore_errors=True)
    shutil.rmtree(PROGRAM_FILES / "Kestrova", ignore_errors=True)


def test_install_repair_upgrade_and_removal_throughmsiexec(corvella):
    assert not APPDIR.exists(), "a Corvella from an earlier run is still installed"
    code, messages = msiexec(("/i", corvella.win_path("Corvella-1.0.0.msi")))
    assert code == 0, messages
    assert "extracted and verified 2 files, 0.5 MB into C:\\Program Files\\Corvella in" in " ".join(messages)
    assert (APPDIR / "README.txt").read_text() == "Corvella 1.0.0\n"
    assert "managed: ManagedInstall=1 (UILevel '2', CORVELLA_AUTOUPDATE '')" in messages
    key = installed_product_key()
    assert "InstallDir    REG_SZ    C:\\Program Files\\Corvella\\" in key and "ManagedInstall" in key

    # Repair: the damaged folder is found and a fresh copy staged and committed; Wine's ownership keeps it from
    # being swapped in.
    (APPDIR / "README.txt").write_text("tampered\n")
    code, messages = msiexec(("/i", corvella.win_path("Corvella-1.0.0.msi"), "REINSTALL=ALL", "REINSTALLMODE=amus"))
    assert code == 0, messages
    assert "stage: repair found C:\\Program Files\\Corvella damaged; staging a fresh copy" in messages
    assert "commit: C:\\Program Files\\Corvella.staging is complete (version 1.0.0)" in messages
    assert SWAP_REFUSED in messages
    assert "managed: repair or self-update; keeping ManagedInstall and InstallAutoUpdate" in messages

    # Upgrade: the older version goes without `uninstall`; the new one is staged beside APPDIR and committed.
    code, messages = msiexec(("/i", corvella.win_path("Corvella-1.1.0.msi")))
    assert code == 0, messages
    assert not any(m.startswith("KestrovaPayload uninstall") for m in messages), messages
    assert "commit: C:\\Program Files\\Corvella.staging is complete (version 1.1.0)" in messages
    assert SWAP_REFUSED in messages
    assert (APPDIR / "manifest.json").exists()
    assert (PROGRAM_FILES / "Corvella.staging" / "whatsnew.txt").read_text() == "new\n"
    assert "ManagedInstall" in installed_product_key()

    # Removal leaves nothing behind.
    code, messages = msiexec(("/x", corvella.win_path("Corvella-1.1.0.msi")))
    assert code == 0, messages
    assert "uninstall: removed C:\\Program Files\\Corvella.staging" in messages
    assert "uninstall: removed C:\\Program Files\\Corvella" in messages
    assert sorted(p.name for p in PROGRAM_FILES.glob("*Corvella*")) == []
    assert not (PROGRAM_FILES / "Kestrova").exists()
    assert installed_product_key() == ""


def test_a_package_whose_archive_does_not_match_its_digest_installs_nothing(corvella):
    bad = corvella.host_path("Corvella-1.0.0.msi")
    properties = subprocess.run(["msiinfo", "export", str(bad), "Property"], capture_output=True, text=True,
                                check=True).stdout
    patched = "".join(("PAYLOAD_SHA256\t" + "0" * 64 + "\r\n") if line.startswith("PAYLOAD_SHA256\t") else line
                      for line in properties.splitlines(keepends=True))
    corvella.host_path("Property.idt").write_text(patched, newline="")
    subprocess.run(["msibuild", str(bad), "-i", str(corvella.host_path("Property.idt"))], check=True)
    code, messages = msiexec(("/i", corvella.win_path("Corvella-1.0.0.msi")))
    assert code != 0
    assert ("extract: the archive in " + corvella.win_path("Corvella-1.0.0.msi") +
            " does not match the digest the package carries") in messages
    assert not APPDIR.exists() and not TOOLS.exists()


def test_a_writer_on_the_package_makes_the_pinned_read_refuse_before_anything_is_written(tool, scratch):
    scratch.host_path("app").mkdir()
    scratch.host_path("app/data.bin").write_bytes(b"corvella" * 5000)
    assert tool("pack", "--src", scratch.win_path("app"), "--out", scratch.win_path("p.kvp")).code == 0
    build_package(scratch, scratch.host_path("p.kvp"), scratch.host_path("p.msi"))
    digest = hashlib.sha256(scratch.host_path("p.kvp").read_bytes()).hexdigest()
    extract = ["extract", "--out", scratch.win_path("Corvella"), "--db", scratch.win_path("p.msi"), "--row",
               "PayloadArchive", "--archive-sha256"]

    with held_by_cmd(scratch, f">> {scratch.win_path('p.msi')}"):
        run = tool(*extract, digest.upper(), unelevated=True)
    assert run.code == 1
    assert (f"extract: {scratch.win_path('p.msi')} is open for writing by another process; not reading an archive "
            "that could change") in run.messages()
    assert sorted(p.name for p in scratch.host.iterdir()) == ["app", "held.ready", "msi", "p.kvp", "p.msi"]
