"""install-vdd, remove-vdd, install-npu and install-cert against the prefix's SetupAPI and certificate stores,
with FakeTool standing in for pnputil. The commands run unelevated: elevated, they refuse every source under Wine,
where no folder is admin-only (the last tests show that)."""
import os
import re
import shutil
import subprocess
import uuid
from pathlib import Path

import pytest

from conftest import DRIVE_C
from fake_tools import FakeTool, remove_device_nodes

INF_TEXT = (
    "[Version]\r\n"
    'Signature="$Windows NT$"\r\n'
    "Class=Display\r\n"
    "ClassGuid={4d36e968-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Corvella%\r\n"
    "DriverVer=05/01/2024,{version}\r\n"
    "[Strings]\r\n"
    'Corvella="Corvella"\r\n'
)
REBOOT_DEFECT = "drivers: pnputil asked for a reboot (3010). Release defect: installs must never need one (D9)"


def driver_messages(run):
    return [m for m in run.messages() if not m.startswith("KestrovaPayload ")]


@pytest.fixture
def pnputil():
    fake = FakeTool("pnputil")
    yield fake
    fake.remove()


@pytest.fixture
def hwid():
    """A hardware id of this test alone; its device nodes are removed afterwards."""
    value = "Root\\KestrovaE2E" + uuid.uuid4().hex[:12]
    yield value
    remove_device_nodes(value)


def write_inf(folder, relative, version="1.0.5"):
    path = folder / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(INF_TEXT.replace("{version}", version), newline="")
    return path


def run_logged(tool, scratch, *args, unelevated=True):
    return tool(*args, "--log", scratch.win_path("run.log"), unelevated=unelevated)


# install-cert

def make_certificate(scratch, name):
    key = scratch.host_path("key.pem")
    pem = scratch.host_path(name + ".pem")
    der = scratch.host_path(name)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(pem),
                    "-days", "30", "-subj", f"/CN=Kestrova test {uuid.uuid4().hex}"], check=True, capture_output=True)
    subprocess.run(["openssl", "x509", "-in", str(pem), "-outform", "DER", "-out", str(der)], check=True)
    out = subprocess.run(["openssl", "x509", "-in", str(der), "-inform", "DER", "-noout", "-fingerprint", "-sha1"],
                         check=True, capture_output=True, text=True).stdout
    return pem, out.strip().split("=", 1)[1].replace(":", "").upper()


def test_install_cert_adds_to_both_stores_and_a_second_run_finds_it_there(tool, scratch):
    _, thumbprint = make_certificate(scratch, "Zertifikat \u00e4.cer")
    path = scratch.win_path("Zertifikat \u00e4.cer")
    installing = f"drivers: installing certificate {path} (thumbprint {thumbprint})"
    first = run_logged(tool, scratch, "install-cert", "--cer", path)
    assert first.code == 0, first.stdout
    assert driver_messages(first) == [
        installing,
        "drivers: added the certificate to the LocalMachine Root store",
        "drivers: added the certificate to the LocalMachine TrustedPublisher store",
    ]
    second = run_logged(tool, scratch, "install-cert", "--cer", path)
    assert second.code == 0, second.stdout
    assert driver_messages(second) == [
        installing,
        "drivers: the certificate is already in the LocalMachine Root store",
        "drivers: the certificate is already in the LocalMachine TrustedPublisher store",
    ]


@pytest.mark.parametrize("size, refused", [(1 << 20, False), ((1 << 20) + 1, True)])
def test_install_cert_refuses_a_file_larger_than_any_certificate(tool, scratch, size, refused):
    scratch.host_path("big.cer").write_bytes(b"\x30" * size)
    run = run_logged(tool, scratch, "install-cert", "--cer", scratch.win_path("big.cer"))
    assert run.code == 1
    [message] = driver_messages(run)
    too_large = f"drivers: {scratch.win_path('big.cer')} is larger than 1.0 MB, which no certificate is; refusing it"
    assert (message == too_large) == refused, message


def test_install_cert_refuses_a_pem_file(tool, scratch):
    make_certificate(scratch, "c.cer")
    run = run_logged(tool, scratch, "install-cert", "--cer", scratch.win_path("c.cer.pem"))
    assert run.code == 1
    [message] = driver_messages(run)
    assert re.fullmatch(re.escape(f"drivers: {scratch.win_path('c.cer.pem')} is not a certificate: 0x") + "[0-9a-f]{8}",
                        message), message


@pytest.mark.parametrize("case", ["empty", "missing", "folder"])
def test_install_cert_cannot_read_an_empty_or_missing_file(tool, scratch, case):
    path = scratch.host_path("c.cer")
    if case == "empty":
        path.write_bytes(b"")
    elif case == "folder":
        path.mkdir()
    run = run_logged(tool, scratch, "install-cert", "--cer", scratch.win_path("c.cer"))
    assert run.code == 1
    assert driver_messages(run) == [f"drivers: could not read the certificate {scratch.win_path('c.cer')}"]


def test_install_cert_with_an_empty_value_reads_nothing(tool, scratch):
    run = run_logged(tool, scratch, "install-cert", "--cer", "")
    assert run.code == 1
    assert driver_messages(run) == ["drivers: could not read the certificate "]


# install-vdd

def test_install_vdd_without_a_single_inf_fails_before_pnputil(tool, scratch, pnputil, hwid):
    write_inf(scratch.host, "a/one.inf")
    write_inf(scratch.host, "two.INF")
    (scratch.host / "readme.txt").write_text("x")
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path() + "\\", "--hwid", hwid)
    assert run.code == 1
    assert driver_messages(run) == [f"drivers: no single VDD INF under {scratch.win_path()}"]
    assert pnputil.calls() == []


def test_install_vdd_with_an_empty_folder_value_finds_no_inf(tool, scratch, pnputil):
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", "")
    assert run.code == 1
    assert driver_messages(run) == ["drivers: no single VDD INF under "]
    assert pnputil.calls() == []


def test_install_vdd_without_driver_ver_fails(tool, scratch, pnputil, hwid):
    (scratch.host / "CorvellaVirtualDisplay.inf").write_text('[Version]\r\nSignature="$Windows NT$"\r\n')
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid)
    assert run.code == 1
    assert driver_messages(run) == [
        f"drivers: could not read DriverVer from {scratch.win_path('CorvellaVirtualDisplay.inf')}"]
    assert pnputil.calls() == []


def test_install_vdd_with_an_empty_hardware_id_creates_nothing(tool, scratch, pnputil):
    write_inf(scratch.host, "CorvellaVirtualDisplay.inf")
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid")
    assert run.code == 1
    assert driver_messages(run) == ["drivers: the hardware id is empty; no device node is created without one"]
    assert pnputil.calls() == []


@pytest.mark.parametrize("code,sets_version,expected_code,tail", [
    (0, True, 0, ["drivers: VDD 1.0.5 installed (pnputil 0)"]),
    (259, True, 0, ["drivers: VDD 1.0.5 installed (pnputil 259)"]),
    (3010, True, 0, [REBOOT_DEFECT, "drivers: VDD 1.0.5 installed (pnputil 3010)"]),
    (0, False, 1, ["drivers: pnputil returned 0 but no {hwid} device runs 1.0.5"]),
    (1, True, 1, ["drivers: pnputil failed with 1"]),
    (0xE0000247, True, 1, ["drivers: pnputil failed with -536870329"]),
])
def test_install_vdd_creates_the_node_runs_pnputil_and_judges_its_code(tool, scratch, pnputil, hwid, code,
                                                                         sets_version, expected_code, tail):
    # The named INF in a subfolder wins over another INF beside it.
    write_inf(scratch.host, "other.inf", version="9.9")
    inf = write_inf(scratch.host / "x64", "CORVELLAVIRTUALDISPLAY.INF")
    inf_win = scratch.win_path("x64\\CORVELLAVIRTUALDISPLAY.INF")
    script = f"exit={code}\nout=Microsoft PnP Utility\\r\\n\\r\\n\" \"\\r\\nDriver package added.\\r\\n\n"
    if sets_version:
        script += f"device-version={hwid}|1.0.5.0\n"
    pnputil.script(script)
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid)
    assert run.code == expected_code, run.stdout
    arguments = f'/add-driver "{inf_win}" /install'
    assert pnputil.calls() == [pnputil.program() + arguments]
    assert driver_messages(run) == [
        f"drivers: no {hwid} device yet",
        f"drivers: created device node {hwid} (class Display)",
        f"drivers: {pnputil.program()}{arguments}",
        "  pnputil: Microsoft PnP Utility",
        "  pnputil: Driver package added.",
    ] + [line.replace("{hwid}", hwid) for line in tail]


def test_install_vdd_logs_every_line_of_a_long_pnputil_output(tool, scratch, pnputil, hwid):
    write_inf(scratch.host, "CorvellaVirtualDisplay.inf")
    # About 12 KB: several reads of the runner's pipe.
    pnputil.script(f"out=  Published Name: oem7.inf   \\r\\n\nrepeat=400\ndevice-version={hwid}|1.0.5\n")
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid)
    assert run.code == 0, run.stdout[-2000:]
    assert driver_messages(run).count("  pnputil: Published Name: oem7.inf") == 400


def test_install_vdd_skips_pnputil_when_the_device_runs_the_package_version(tool, scratch, pnputil, hwid):
    write_inf(scratch.host, "CorvellaVirtualDisplay.inf", version="1.0.5")
    pnputil.script(f"device-version={hwid}|1.0.5.0\n")
    first = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid)
    assert first.code == 0, first.stdout
    second = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid.upper())
    assert second.code == 0, second.stdout
    assert driver_messages(second) == [
        f"drivers: {hwid.upper()} runs driver version '1.0.5.0', package is 1.0.5",
        "drivers: VDD 1.0.5 already installed; skipping",
    ]
    assert len(pnputil.calls()) == 1

    # A newer package runs pnputil again on the existing node, without creating another.
    write_inf(scratch.host, "CorvellaVirtualDisplay.inf", version="1.0.6-beta")
    pnputil.script(f"exit=259\ndevice-version={hwid}|1.0.6-beta\n")
    third = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid)
    assert third.code == 0, third.stdout
    messages = driver_messages(third)
    assert messages[0] == f"drivers: {hwid} runs driver version '1.0.5.0', package is 1.0.6-beta"
    assert messages[-1] == "drivers: VDD 1.0.6-beta installed (pnputil 259)"
    assert len(pnputil.calls()) == 2


def test_install_vdd_without_pnputil_reports_it_could_not_start(tool, scratch, hwid):
    write_inf(scratch.host, "CorvellaVirtualDisplay.inf")
    run = run_logged(tool, scratch, "install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid)
    assert run.code == 1
    assert driver_messages(run)[-2:] == ["drivers: could not start pnputil: 2", "drivers: pnputil failed with -1"]


# remove-vdd

def test_remove_vdd_with_nothing_to_remove(tool, scratch, pnputil, hwid):
    run = run_logged(tool, scratch, "remove-vdd", "--hwid", hwid)
    assert run.code == 0
    assert driver_messages(run) == ["drivers: no VDD device or package to remove"]
    assert pnputil.calls() == []


def test_remove_vdd_deletes_published_copies_and_goes_on_after_a_failure(tool, scratch, pnputil, hwid):
    inf_folder = DRIVE_C / "windows" / "inf"
    inf_folder.mkdir(exist_ok=True)
    tag = str(uuid.uuid4().int)[:6]  # digits only, as Windows names its published copies
    planted = {
        f"oem9{tag}1.inf": "; CorvellaVirtualDisplay.inf\r\n".encode("utf-16"),
        f"oem9{tag}2.inf": b"; corvellavirtualdisplay.INF\r\n",
        f"oem9{tag}3.inf": b"; other.inf\r\n",
    }
    for name, data in planted.items():
        (inf_folder / name).write_bytes(data)
    try:
        pnputil.script(f"exit=0\nwhen=oem9{tag}1.inf\nexit=5\nout=Deleting failed\\r\\n\n")
        run = run_logged(tool, scratch, "remove-vdd", "--hwid", hwid)
    finally:
        for name in planted:
            (inf_folder / name).unlink()
    assert run.code == 0
    first, second = f"oem9{tag}1.inf", f"oem9{tag}2.inf"
    assert pnputil.calls() == [pnputil.program() + f"/delete-driver {first} /uninstall",
                               pnputil.program() + f"/delete-driver {second} /uninstall"]
    assert driver_messages(run) == [
        f"drivers: {pnputil.program()}/delete-driver {first} /uninstall",
        "  pnputil: Deleting failed",
        f"drivers: pnputil /delete-driver {first} returned 5",
        f"drivers: {pnputil.program()}/delete-driver {second} /uninstall",
    ]


# install-npu

def cpu_vendor():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("vendor_id"):
            return line.split(":", 1)[1].strip()
    return ""


def skipped(vendor):
    return f"drivers: CPU vendor '{vendor}' on a non-Intel or non-x64 machine; skipping the Intel NPU driver"


@pytest.mark.parametrize("code,expected", [
    (0, "drivers: Intel NPU driver installed (pnputil 0)"),
    (259, "drivers: Intel NPU driver installed (pnputil 259)"),
    (3010, "drivers: pnputil returned 3010 for the Intel NPU driver; continuing the install"),
    (1, "drivers: pnputil returned 1 for the Intel NPU driver; continuing the install"),
])
def test_install_npu_on_this_processor(tool, scratch, pnputil, code, expected):
    (scratch.host / "npu.inf").write_text("[Version]\r\n")
    pnputil.script(f"exit={code}\n")
    inf = scratch.win_path("npu.inf")
    run = run_logged(tool, scratch, "install-npu", "--inf", inf)
    assert run.code == 0
    if cpu_vendor() != "GenuineIntel":
        assert driver_messages(run) == [skipped(cpu_vendor())]
        assert pnputil.calls() == []
    else:
        assert pnputil.calls() == [pnputil.program() + f'/add-driver "{inf}" /install']
        assert driver_messages(run)[-1] == expected


def test_install_npu_with_a_missing_inf_still_exits_zero(tool, scratch, pnputil):
    inf = scratch.win_path("missing\\npu.inf")
    run = run_logged(tool, scratch, "install-npu", "--inf", inf)
    assert run.code == 0
    if cpu_vendor() == "GenuineIntel":
        assert driver_messages(run) == [f"drivers: Intel NPU driver INF not found at {inf}; skipping it"]
    else:
        assert driver_messages(run) == [skipped(cpu_vendor())]
    assert pnputil.calls() == []


def test_install_vdd_from_a_non_ascii_folder_directly_under_the_drive_root(tool, scratch, pnputil, hwid):
    name = "Corvella Tr\u00e9iber " + uuid.uuid4().hex[:6]
    folder = DRIVE_C / name
    try:
        write_inf(folder / "\u663e\u793a", "CorvellaVirtualDisplay.inf", version="2.0")
        pnputil.script(f"device-version={hwid}|2.0.0.0\n")
        run = run_logged(tool, scratch, "install-vdd", "--inf-dir", f"C:\\{name}\\.", "--hwid", hwid)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    assert run.code == 0, run.stdout
    inf = f"C:\\{name}\\\u663e\u793a\\CorvellaVirtualDisplay.inf"
    assert pnputil.calls() == [pnputil.program() + f'/add-driver "{inf}" /install']
    assert driver_messages(run)[-1] == "drivers: VDD 2.0 installed (pnputil 0)"


# Elevated, every source is judged first; under Wine the verdict names the drive root's owner.
NOT_ADMIN_ONLY = re.compile(r"drivers: SECURITY: (.+) is not admin-only \(C:\\: owner S-1-5-21-\S+ is not SYSTEM, "
                            r"Administrators or TrustedInstaller; [^;()]+ may create folders in ([^;()]+)\); "
                            r"not using it")


def test_elevated_installs_refuse_sources_that_are_not_admin_only(tool, scratch, pnputil, hwid):
    write_inf(scratch.host, "CorvellaVirtualDisplay.inf")
    (scratch.host / "npu.inf").write_text("[Version]\r\n")
    make_certificate(scratch, "c.cer")
    runs = {
        scratch.win_path(): ("install-vdd", "--inf-dir", scratch.win_path(), "--hwid", hwid),
        scratch.win_path("c.cer"): ("install-cert", "--cer", scratch.win_path("c.cer")),
    }
    if cpu_vendor() == "GenuineIntel":
        runs[scratch.win_path("npu.inf")] = ("install-npu", "--inf", scratch.win_path("npu.inf"))
    for path, args in runs.items():
        run = run_logged(tool, scratch, *args, unelevated=False)
        assert run.code == 1, (args, run.stdout)
        messages = driver_messages(run)
        assert len(messages) == 1, messages
        refusal = NOT_ADMIN_ONLY.fullmatch(messages[0])
        assert refusal and refusal.group(1) == path and refusal.group(2) == scratch.win_path(), messages
    assert pnputil.calls() == []
