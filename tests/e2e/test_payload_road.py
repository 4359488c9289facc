"""The install road of the payload: pack a folder, carry the archive in an installer package's Binary row, extract
it from that row, verify it, and repair what was damaged."""
import shutil
import subprocess

SECURITY = "extract: SECURITY: refusing to write next to "


def build_package(scratch, archive, package):
    folder = scratch.host_path("msi")
    (folder / "Binary").mkdir(parents=True)
    shutil.copy(archive, folder / "Binary" / "payload.kvp")
    (folder / "Binary.idt").write_bytes(b"Name\tData\r\ns72\tv0\r\nBinary\tName\r\nPayloadArchive\tpayload.kvp\r\n")
    subprocess.run(["msibuild", "p.msi", "-i", "Binary.idt"], cwd=folder, check=True)
    shutil.copy(folder / "p.msi", package)


def test_pack_extract_verify_repair_from_an_installer_row(tool, scratch):
    app = scratch.host_path("app")
    (app / "bin" / "plug-ins").mkdir(parents=True)
    (app / "bin" / "core.dll").write_bytes(bytes(range(256)) * 4000)
    (app / "bin" / "plug-ins" / "caf\u00e9.txt").write_text("na\u00efve\n" * 100)
    (app / "empty.txt").write_bytes(b"")
    (app / "skip").mkdir()
    (app / "skip" / "secret.txt").write_text("not shipped")
    pack = tool("pack", "--src", scratch.win_path("app"), "--out", scratch.win_path("p.kvp"), "--exclude", "skip")
    assert pack.code == 0, pack.stdout
    build_package(scratch, scratch.host_path("p.kvp"), scratch.host_path("Corvella.msi"))

    source = ["--db", scratch.win_path("Corvella.msi"), "--row", "PayloadArchive"]
    out = scratch.win_path("installed")
    refused = tool("extract", "--out", out, *source)
    assert refused.code == 1
    assert any(m.startswith(SECURITY + out + ": ") for m in refused.messages())
    assert not scratch.host_path("installed").exists()

    extracted = tool("extract", "--out", out, *source, unelevated=True)
    assert extracted.code == 0, extracted.stdout
    installed = scratch.host_path("installed")
    assert (installed / "bin" / "core.dll").read_bytes() == (app / "bin" / "core.dll").read_bytes()
    assert (installed / "bin" / "plug-ins" / "caf\u00e9.txt").read_text() == "na\u00efve\n" * 100
    assert (installed / "empty.txt").read_bytes() == b""
    assert not (installed / "skip").exists()
    assert (installed / "manifest.json").read_bytes().startswith(b'{\n  "files": [\n')

    assert tool("verify", "--dir", out, *source).code == 0
    (installed / "bin" / "core.dll").write_bytes(b"tampered")
    (installed / "empty.txt").unlink()
    damaged = tool("verify", "--dir", out, *source)
    assert damaged.code == 1
    assert len([m for m in damaged.messages() if "missing or damaged" in m]) == 2
    repaired = tool("verify", "--dir", out, *source, "--repair", unelevated=True)
    assert repaired.code == 0, repaired.stdout
    assert (installed / "bin" / "core.dll").read_bytes() == (app / "bin" / "core.dll").read_bytes()
    assert tool("verify", "--dir", out, *source).code == 0


def test_a_missing_row_and_a_file_that_is_not_a_package(tool, scratch):
    scratch.host_path("a.kvp").write_bytes(b"KVP1\x01\x00\x00\x00\x00" + b"\x00" * 8)
    build_package(scratch, scratch.host_path("a.kvp"), scratch.host_path("p.msi"))
    missing = tool("verify", "--dir", scratch.win_path("d"), "--db", scratch.win_path("p.msi"), "--row", "Nope")
    assert missing.code == 1
    assert any(m.startswith("verify: ") and m.endswith(": 259") for m in missing.messages()), missing.messages()
    scratch.host_path("not.msi").write_text("plain text")
    broken = tool("verify", "--dir", scratch.win_path("d"), "--db", scratch.win_path("not.msi"), "--row", "R")
    assert broken.code == 1
    assert any(m.endswith(": 1627") for m in broken.messages()), broken.messages()
