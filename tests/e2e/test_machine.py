"""reserve-ports, release-ports, record-managed and uninstall through the exe: FakeTool stands in for netsh, with
an exclusion table kept in a file that the scripted add and delete replace; registry state is read back with reg."""
import os
import re
import shutil
import subprocess
import uuid

import pytest

from conftest import DRIVE_C, EXE, Run, wine_env
from fake_tools import FakeTool

MACHINE_KEY = "HKLM\\SOFTWARE\\Kestrova\\Corvella"
HEAD = "\r\nProtocol tcp Port Exclusion Ranges\r\n\r\nStart Port    End Port\r\n----------    --------\r\n"
FOOT = "\r\n* - Administered port exclusions.\r\n\r\n"
SHOW = "int ipv4 show excludedportrange protocol=tcp"
ADD = "int ipv4 add excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent"
DELETE = "int ipv4 delete excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent"


def table(rows):
    return HEAD + "".join(rows) + FOOT


def run_exe(*args, cwd=None):
    """The exe with Wine told to load a netsh.exe from the system folder rather than its built-in one."""
    env = wine_env()
    env["WINEDLLOVERRIDES"] += ";netsh.exe=n"
    done = subprocess.run(["wine", str(EXE), *[str(a) for a in args]], env=env, capture_output=True, timeout=120,
                          cwd=cwd)
    return Run(done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace"))


def reg(*args):
    return subprocess.run(["wine", "reg", *args], env=wine_env(), capture_output=True, timeout=60)


def reg_value(key, name):
    """(type, data) as reg prints them, or None when the value is absent."""
    done = reg("query", key, "/v", name)
    match = re.search(rf"^\s*{re.escape(name)}\s+(REG_\w+)\s+(\S*)", done.stdout.decode("utf-8", "replace"), re.M)
    return (match.group(1), match.group(2)) if match else None


def reg_key_exists(key):
    return reg("query", key).returncode == 0


def with_prefix(run, *prefixes):
    """The run's messages that carry one of the prefixes (a run without --log also reports on its log's place)."""
    return [m for m in run.messages() if m.startswith(prefixes)]


def ports_messages(run):
    return with_prefix(run, "ports: ", "  netsh: ")


@pytest.fixture
def netsh(scratch):
    """FakeTool as netsh: "show" prints table.txt, add copies added.txt over it, delete deleted.txt."""
    fake = FakeTool("netsh")
    files = {name: scratch.win_path(name) for name in ("table.txt", "added.txt", "deleted.txt")}
    fake.script(
        f"out-file={files['table.txt']}\n"
        f"when=add excludedportrange\nout=Ok.\\r\\n\\r\\n\ncopy={files['added.txt']}|{files['table.txt']}\n"
        f"when=delete excludedportrange\nout=Ok.\\r\\n\\r\\n\ncopy={files['deleted.txt']}|{files['table.txt']}\n")
    fake.write = lambda name, text: scratch.host_path(name).write_bytes(text.encode("ascii"))
    yield fake
    fake.remove()


@pytest.fixture
def machine_mark():
    """The machine's PortReservation mark, as it was before the test, put back afterwards."""
    before = reg_value(MACHINE_KEY, "PortReservation")
    reg("delete", MACHINE_KEY, "/v", "PortReservation", "/f")
    yield
    reg("delete", MACHINE_KEY, "/v", "PortReservation", "/f")
    if before:
        reg("add", MACHINE_KEY, "/v", "PortReservation", "/t", before[0], "/d", before[1], "/f")


@pytest.fixture
def test_key():
    """A state key of this test alone under HKEY_CURRENT_USER."""
    key = "Software\\KestrovaE2E\\" + uuid.uuid4().hex[:12]
    yield key
    reg("delete", "HKCU\\" + key, "/f")


def test_ports_reserve_and_release_round_trip_with_the_mark(netsh, machine_mark, scratch):
    netsh.write("table.txt", table(["      5357        5357\r\n"]))
    netsh.write("added.txt", table(["      5357        5357\r\n", "     50990       50999     *\r\n"]))
    netsh.write("deleted.txt", table(["      5357        5357\r\n"]))
    program = netsh.program()

    # --state-root does not move reserve-ports off the machine key.
    run = run_exe("reserve-ports", "--state-root", "hkcu", "--log", scratch.win_path("run.log"))
    assert run.code == 3, run.stdout
    assert ports_messages(run) == [
        f"ports: {program}{SHOW}", "ports: 1 exclusions; touching 50990-50999: none",
        f"ports: {program}{ADD}", "  netsh: Ok.", "ports: netsh add exited 0",
        f"ports: {program}{SHOW}", "ports: 2 exclusions; touching 50990-50999: 50990-50999*",
        "ports: reserved 50990-50999"]
    assert reg_value(MACHINE_KEY, "PortReservation") == ("REG_DWORD", "0x1")
    assert "ports: reserved 50990-50999" in scratch.host_path("run.log").read_text()

    run = run_exe("reserve-ports")
    assert run.code == 0
    assert ports_messages(run)[-1] == \
        "ports: 50990-50999 is already reserved by an administered exclusion that Corvella added"

    run = run_exe("release-ports")
    assert run.code == 0
    assert ports_messages(run)[-1] == "ports: deleted the 50990-50999 exclusion"
    assert reg_value(MACHINE_KEY, "PortReservation") is None
    assert netsh.calls() == [program + c for c in (SHOW, ADD, SHOW, SHOW, SHOW, DELETE, SHOW)]

    run = run_exe("release-ports")
    assert run.code == 0
    assert ports_messages(run) == [
        "ports: Corvella did not add a 50990-50999 exclusion; leaving the exclusion table as it is"]


def test_reserve_ports_exit_codes_for_dynamic_reservations_and_a_failed_listing(netsh, machine_mark):
    netsh.write("table.txt", table(["     50900       50994\r\n", "     50995       51094\r\n"]))
    assert run_exe("reserve-ports").code == 5
    netsh.write("table.txt", table(["     50996       51094\r\n"]))
    run = run_exe("reserve-ports")
    assert run.code == 5
    assert ports_messages(run)[-1].startswith("ports: a dynamic reservation holds part of 50990-50999")
    netsh.script("exit=1\nout=The requested operation requires elevation.\\r\\n")
    run = run_exe("reserve-ports")
    assert run.code == 1
    assert ports_messages(run)[-1] == "ports: netsh could not list the port exclusions (exit 1)"
    assert reg_value(MACHINE_KEY, "PortReservation") is None


def test_record_managed_silent_levels_invalid_choices_and_a_reinstall(test_key):
    update = f"HKCU\\{test_key}\\Update"
    reg("add", update, "/v", "InstallAutoUpdate", "/t", "REG_DWORD", "/d", "1", "/f")
    run = run_exe("record-managed", "--state-root", "hkcu", "--state-key", test_key, "--uilevel", "34",
                  "--autoupdate", "yes")
    assert with_prefix(run, "managed: ") == [
        "managed: ignoring CORVELLA_AUTOUPDATE 'yes'; only 0 or 1 is accepted",
        "managed: ManagedInstall=1 (UILevel '34', CORVELLA_AUTOUPDATE 'yes')",
        "managed: deleted InstallAutoUpdate (no CORVELLA_AUTOUPDATE on this install)"]
    assert reg_value(update, "ManagedInstall") == ("REG_DWORD", "0x1")
    assert reg_value(update, "InstallAutoUpdate") is None

    run = run_exe("record-managed", "--state-root", "hkcu", "--state-key", test_key, "--uilevel", "2x")
    assert reg_value(update, "ManagedInstall") == ("REG_DWORD", "0x0")

    run = run_exe("record-managed", "--state-root", "hkcu", "--state-key", test_key, "--uilevel", "2",
                  "--reinstall", "ALL")
    assert with_prefix(run, "managed: ") == [
        "managed: repair or self-update; keeping ManagedInstall and InstallAutoUpdate"]
    assert reg_value(update, "ManagedInstall") == ("REG_DWORD", "0x0")


@pytest.mark.parametrize("options, managed, auto_update", [
    (["--uilevel", "2"], "0x1", None),
    (["--uilevel", "2", "--autoupdate", "1"], "0x0", "0x1"),
    (["--uilevel", "5", "--autoupdate", "0"], "0x0", "0x0"),
])
def test_record_managed_examples_of_the_installer(test_key, options, managed, auto_update):
    update = f"HKCU\\{test_key}\\Update"
    reg("add", update, "/v", "InstallAutoUpdate", "/t", "REG_DWORD", "/d", "7", "/f")
    assert run_exe("record-managed", "--state-root", "hkcu", "--state-key", test_key, *options).code == 0
    assert reg_value(update, "ManagedInstall") == ("REG_DWORD", managed)
    assert reg_value(update, "InstallAutoUpdate") == (("REG_DWORD", auto_update) if auto_update else None)


def test_record_managed_with_an_empty_state_key_writes_nothing():
    run = run_exe("record-managed", "--state-root", "hkcu", "--state-key", "", "--uilevel", "2")
    assert run.code == 0
    assert "managed: the state key is empty; not writing below the root of the hive" in run.messages()
    assert not reg_key_exists("HKCU\\Update")


@pytest.fixture
def appdir():
    """An APPDIR directly under the drive root, with its siblings; removed afterwards whatever the test left."""
    name = "Corvella-e2e-" + uuid.uuid4().hex[:8]
    host = DRIVE_C / name
    yield host, "C:\\" + name
    for suffix in ("", ".staging.partial", ".staging", ".lkg", ".rejected", ".updateui"):
        shutil.rmtree(DRIVE_C / (name + suffix), ignore_errors=True)


def test_uninstall_with_hkcu_state_leaves_the_machine_alone(netsh, machine_mark, test_key, appdir, scratch):
    host, win = appdir
    host.mkdir()
    (host / "Corvella.exe").write_bytes(b"MZ")
    (host.parent / (host.name + ".lkg")).mkdir()
    scratch.host_path("Updates").mkdir()
    netsh.write("table.txt", table(["     50990       50999     *\r\n"]))
    reg("add", MACHINE_KEY, "/v", "PortReservation", "/t", "REG_DWORD", "/d", "1", "/f")
    reg("add", f"HKCU\\{test_key}\\Update", "/v", "ManagedInstall", "/t", "REG_DWORD", "/d", "1", "/f")

    run = run_exe("uninstall", "--appdir", win + "\\", "--state-root", "hkcu", "--state-key", test_key,
                  "--updates-dir", scratch.win_path("Updates"))
    assert run.code == 0
    assert netsh.calls() == []
    assert reg_value(MACHINE_KEY, "PortReservation") == ("REG_DWORD", "0x1")
    assert not any(m.startswith("recovery: ") or m.startswith("ports: ") for m in run.messages())
    assert with_prefix(run, "uninstall: ") == [
        f"uninstall: removed {win}.lkg",
        f"uninstall: leaving {win}, which has no manifest.json or is a system folder",
        f"uninstall: removed {scratch.win_path('Updates')}"]
    assert (host / "Corvella.exe").exists()
    assert not scratch.host_path("Updates").exists()
    assert not reg_key_exists(f"HKCU\\{test_key}\\Update")
    assert reg_key_exists(f"HKCU\\{test_key}")


def test_uninstall_on_the_machine_releases_the_ports_first(netsh, machine_mark, appdir, scratch):
    host, win = appdir
    host.mkdir()
    (host / "manifest.json").write_text("{}")
    netsh.write("table.txt", table(["     50990       50999     *\r\n"]))
    netsh.write("deleted.txt", table([]))
    reg("add", MACHINE_KEY, "/v", "PortReservation", "/t", "REG_DWORD", "/d", "1", "/f")

    run = run_exe("uninstall", "--appdir", win, "--updates-dir", scratch.win_path("Updates"))
    assert run.code == 0
    program = netsh.program()
    assert netsh.calls() == [program + SHOW, program + DELETE, program + SHOW]
    assert reg_value(MACHINE_KEY, "PortReservation") is None
    messages = run.messages()
    released = messages.index("ports: deleted the 50990-50999 exclusion")
    assert messages.index(f"uninstall: removed {win}") > released
    assert not host.exists()


def test_uninstall_with_an_empty_state_key_skips_the_registry(appdir, scratch):
    host, win = appdir
    run = run_exe("uninstall", "--appdir", win, "--state-root", "hkcu", "--state-key", "",
                  "--updates-dir", scratch.win_path("Updates"))
    assert run.code == 0
    assert "uninstall: the state key is empty; leaving the registry alone" in run.messages()


def test_uninstall_refuses_a_drive_root_as_updates_folder(appdir):
    host, win = appdir
    run = run_exe("uninstall", "--appdir", win, "--state-root", "hkcu", "--state-key", "Software\\KestrovaE2E\\none",
                  "--updates-dir", "C:\\")
    assert run.code == 0
    assert "uninstall: refusing to remove C:\\: it is a drive root" in run.messages()
    assert (DRIVE_C / "windows").is_dir()


def test_release_ports_and_uninstall_with_an_empty_state_key_leave_the_hive_root_alone(netsh, appdir, scratch):
    netsh.write("table.txt", table(["     50990       50999     *\r\n"]))
    try:
        for root in ("HKCU", "HKLM"):
            reg("add", root, "/v", "PortReservation", "/t", "REG_DWORD", "/d", "1", "/f")
        runs = [run_exe("release-ports", "--state-root", "hkcu", "--state-key", ""),
                run_exe("uninstall", "--appdir", appdir[1], "--state-key", "", "--updates-dir", scratch.win_path("U"))]
        assert [ports_messages(run) for run in runs] == 2 * [
            ["ports: the state key is empty; not reading or deleting PortReservation at the root of the hive"]]
        assert netsh.calls() == []
        assert [reg_value(root, "PortReservation") for root in ("HKCU", "HKLM")] == 2 * [("REG_DWORD", "0x1")]
    finally:
        for root in ("HKCU", "HKLM"):
            reg("delete", root, "/v", "PortReservation", "/f")


DRIVE_RELATIVE = "is relative to the current folder of its drive"


@pytest.mark.parametrize("given, current, reason", [
    ("app", "", "is a relative path"),
    ("C:", "app", DRIVE_RELATIVE),
    ("C:.", "app", DRIVE_RELATIVE),
    ("C:app", "", DRIVE_RELATIVE),
])
def test_uninstall_refuses_an_appdir_that_depends_on_the_current_folder_before_any_step(
        netsh, machine_mark, scratch, given, current, reason):
    app = scratch.host_path("app")
    app.mkdir()
    (app / "manifest.json").write_text("{}")
    scratch.host_path("Updates").mkdir()
    netsh.write("table.txt", table(["     50990       50999     *\r\n"]))
    reg("add", MACHINE_KEY, "/v", "PortReservation", "/t", "REG_DWORD", "/d", "1", "/f")

    run = run_exe("uninstall", "--appdir", given, "--updates-dir", scratch.win_path("Updates"),
                  cwd=scratch.host_path(current))
    assert run.code == 0
    refusal = f"uninstall: APPDIR {given} {reason}; nothing is removed"
    assert with_prefix(run, "uninstall: ", "recovery: ", "ports: ") == [refusal]
    assert any(re.search(r" ERROR \[\d+\] " + re.escape(refusal) + "$", line) for line in run.lines())
    assert netsh.calls() == []
    assert reg_value(MACHINE_KEY, "PortReservation") == ("REG_DWORD", "0x1")
    assert (app / "manifest.json").exists()
    assert scratch.host_path("Updates").is_dir()
