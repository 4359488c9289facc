"""Where the exe's DLLs come from. A DLL the exe uses that is not a KnownDLL, planted beside a copy of the exe with
Wine told to prefer a native DLL of that name (as Windows searches the exe's folder first), must never run, and the
command that needs the real DLL must still do its work.

Under Wine the portable codec and hash stand in for Cabinet and CNG, so these two load only as what Wine's msi
loads in turn; Wine's DiUninstallDevice is a stub that ends the process, so remove-vdd runs here without a device to
remove, and newdev is caught only where it would load at start-up."""
import shutil
import subprocess
import tempfile

import pytest

from conftest import BUILD_DIR, EXE, LAUNCHER, Run, held_by_cmd, run_tool, wine_env
from test_drivers import make_certificate
from test_payload_road import build_package

PLANTED_DLL = BUILD_DIR / "tests" / "planted" / "PlantedDll.dll"


def extract_from_a_package(scratch, run):
    scratch.host_path("app").mkdir()
    scratch.host_path("app/data.bin").write_bytes(bytes(range(256)) * 4000)
    assert run_tool("pack", "--src", scratch.win_path("app"), "--out", scratch.win_path("p.kvp")).code == 0
    build_package(scratch, scratch.host_path("p.kvp"), scratch.host_path("p.msi"))
    done = run("extract", "--out", scratch.win_path("installed"), "--db", scratch.win_path("p.msi"),
               "--row", "PayloadArchive", unelevated=True)
    assert done.code == 0, done.stdout
    assert scratch.host_path("installed/data.bin").read_bytes() == bytes(range(256)) * 4000


def install_a_certificate(scratch, run):
    make_certificate(scratch, "c.cer")
    done = run("install-cert", "--cer", scratch.win_path("c.cer"), unelevated=True)
    assert done.code == 0, done.stdout
    assert "drivers: added the certificate to the LocalMachine Root store" in done.messages()


def remove_a_vdd(scratch, run):
    done = run("remove-vdd", "--hwid", "Root\\KestrovaDllSearch")
    assert done.code == 0, done.stdout
    assert "drivers: no VDD device or package to remove" in done.messages()


def swap_while_the_lock_is_held(scratch, run):
    scratch.host_path("Corvella.staging").mkdir()
    scratch.host_path("Corvella.staging/.complete").write_text("1.0.0")
    lock = scratch.win_path("Corvella.swap.lock")
    # The swap's lock (no sharing) cannot open while cmd holds it.
    with held_by_cmd(scratch, f"> {lock}"):
        done = run("swap", "--appdir", scratch.win_path("Corvella"))
    assert done.code == 0, done.stdout
    assert "swap: lock_held; leaving the staging dir for Dovrecat" in done.messages(), done.stdout
    assert f"swap: no process is listed as holding files in {lock}" in done.messages(), done.stdout


@pytest.mark.parametrize("dll,command", [
    ("msi.dll", extract_from_a_package),
    ("Cabinet.dll", extract_from_a_package),
    ("bcrypt.dll", extract_from_a_package),
    ("CRYPT32.dll", install_a_certificate),
    ("newdev.dll", remove_a_vdd),
    ("rstrtmgr.dll", swap_while_the_lock_is_held),
])
def test_a_dll_planted_beside_the_exe_never_runs(scratch, dll, command):
    assert PLANTED_DLL.exists(), f"build the PlantedDll target first: {PLANTED_DLL} is missing"
    folder = scratch.host_path("bin")
    folder.mkdir()
    exe = folder / EXE.name
    shutil.copy(EXE, exe)
    shutil.copy(PLANTED_DLL, folder / dll)
    env = wine_env()
    env["WINEDLLOVERRIDES"] += f";{dll[:-4].lower()}=n,b"

    def run(*args, unelevated=False):
        # Files, not pipes: a desktop process Wine may start for the run would hold a pipe open after the exe ends.
        command = ["wine", str(LAUNCHER), str(exe)] if unelevated else ["wine", str(exe)]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(command + [str(a) for a in args], env=env, stdout=out, stderr=err,
                                  timeout=120).returncode
            out.seek(0)
            err.seek(0)
            done = Run(code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace"))
        assert [p.name for p in folder.iterdir() if p.name.lower().endswith(".ran")] == [], done.stdout
        return done

    command(scratch, run)
