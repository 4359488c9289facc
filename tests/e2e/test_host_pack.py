"""kestrova-pack, the native Linux pack of a build host, against the exe's pack under Wine: one tree packed both ways
must give the same archive, byte for byte, and the same refusals."""
import os
import re
import subprocess
from pathlib import Path

from conftest import SOURCE_DIR

HOST_PACK = Path(os.environ.get("KESTROVA_HOST_PACK", SOURCE_DIR / "build" / "host" / "src" / "cli" / "kestrova-pack"))
LINE = re.compile(r"^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z (INFO |WARN |ERROR) \[\d+\] (.*)$")


def host_pack(*args):
    assert HOST_PACK.exists(), f"build the host preset first: {HOST_PACK} is missing"
    done = subprocess.run([str(HOST_PACK), *[str(a) for a in args]], capture_output=True, timeout=300)
    lines = done.stdout.decode("utf-8").split("\r\n")
    assert lines[-1] == ""
    return done.returncode, [LINE.match(line).group(2) for line in lines[:-1]], done.stderr.decode("utf-8")


def make_tree(root):
    big = b"".join(b"entry %06d of a build output that compresses well\r\n" % (i % 7919) for i in range(90000))
    assert len(big) > 4 * 1024 * 1024
    files = {
        "bin/Corvella.exe": bytes(range(256)) * 3000,
        "bin/data/large.pak": big,
        "bin/plug-ins/caf\u00e9/na\u00efve.txt": "na\u00efve\n".encode() * 300,
        "\u65e5\u672c\u8a9e/\u8aac\u660e.txt": "\u3053\u3093\u306b\u3061\u306f".encode() * 50,
        "a.txt": b"sorts before a/",
        "a/x": b"x",
        "empty.dat": b"",
        "logs/run.log": b"left out",
        "logs/old/run.log": b"left out too",
        "logs2/kept.log": b"kept: only logs/ is excluded",
    }
    for relative, content in files.items():
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    (root / "empty-folder").mkdir()


def message_without_place_and_time(message, out):
    return message.replace(out, "<out>").rsplit(" in ", 1)[0]


def test_one_tree_packed_by_the_exe_and_by_the_host_program_gives_the_same_bytes(tool, scratch):
    tree = scratch.host_path("tree")
    make_tree(tree)
    exe = tool("pack", "--src", scratch.win_path("tree") + "\\", "--out", scratch.win_path("exe.kvp"),
               "--exclude", "logs")
    assert exe.code == 0, exe.stdout
    host_out = str(scratch.host_path("host.kvp"))
    code, messages, _ = host_pack("--src", str(tree) + "/", "--out", host_out, "--exclude", "logs")
    assert code == 0, messages

    exe_bytes = scratch.host_path("exe.kvp").read_bytes()
    host_bytes = scratch.host_path("host.kvp").read_bytes()
    assert len(exe_bytes) == len(host_bytes)
    assert exe_bytes == host_bytes
    assert b"logs/run.log" not in host_bytes and b"logs2/kept.log" in host_bytes

    exe_lines = exe.messages()
    assert message_without_place_and_time(exe_lines[0], scratch.win_path("exe.kvp")) == \
        message_without_place_and_time(messages[0], host_out)
    assert messages[0].startswith("packed 8 files, ")
    assert exe_lines[1:] == messages[1:] == ["KestrovaPayload pack exit 0"]

    # Again, to the same bytes: nothing in the archive depends on the run.
    assert host_pack("--src", tree, "--out", host_out, "--exclude", "logs")[0] == 0
    assert scratch.host_path("host.kvp").read_bytes() == exe_bytes


def test_a_name_windows_cannot_hold_is_refused_the_same_way(tool, scratch):
    tree = scratch.host_path("tree")
    (tree / "dir").mkdir(parents=True)
    (tree / "a.txt").write_bytes(b"packed before the failure")
    (tree / "dir" / "name.").write_bytes(b"x")
    exe = tool("pack", "--src", scratch.win_path("tree"), "--out", scratch.win_path("exe.kvp"))
    code, messages, _ = host_pack("--src", tree, "--out", scratch.host_path("host.kvp"))
    assert exe.code == code == 1
    assert exe.messages() == messages == ["pack failed: unsafe path 'dir/name.'", "KestrovaPayload pack exit 1"]
    assert not scratch.host_path("exe.kvp").exists()
    assert not scratch.host_path("host.kvp").exists()


def test_links_are_skipped_as_the_exe_skips_them(tool, scratch):
    # Wine shows a Unix symbolic link as what it points at, so the exe cannot be shown the links themselves here:
    # the host program's archive of the tree with links must equal the exe's archive of the tree without them.
    tree = scratch.host_path("tree")
    (tree / "real").mkdir(parents=True)
    (tree / "real" / "a.txt").write_bytes(b"a")
    links = [tree / "linked-folder", tree / "real" / "linked-file", tree / "dangling"]
    links[0].symlink_to(tree / "real")
    links[1].symlink_to(tree / "real" / "a.txt")
    links[2].symlink_to(tree / "nowhere")
    code, messages, _ = host_pack("--src", tree, "--out", scratch.host_path("host.kvp"))
    assert code == 0, messages
    for link in links:
        link.unlink()
    exe = tool("pack", "--src", scratch.win_path("tree"), "--out", scratch.win_path("exe.kvp"))
    assert exe.code == 0, exe.stdout
    host_bytes = scratch.host_path("host.kvp").read_bytes()
    assert b"linked" not in host_bytes and b"real/a.txt" in host_bytes
    assert scratch.host_path("exe.kvp").read_bytes() == host_bytes


def test_names_differing_only_in_case_are_refused_by_the_host_program(scratch):
    tree = scratch.host_path("tree")
    (tree / "Bin").mkdir(parents=True)
    (tree / "bin").mkdir()
    (tree / "Bin" / "a.dll").write_bytes(b"a")
    (tree / "bin" / "b.dll").write_bytes(b"b")
    code, messages, _ = host_pack("--src", tree, "--out", scratch.host_path("host.kvp"))
    assert code == 1
    assert messages == ["pack failed: 'Bin' and 'bin' differ only in case", "KestrovaPayload pack exit 1"]
    assert not scratch.host_path("host.kvp").exists()


def test_usage_errors_match(tool, scratch):
    exe = tool("pack", "--src", scratch.win_path())
    code, messages, stderr = host_pack("--src", scratch.host)
    assert exe.code == code == 2
    assert messages == ["KestrovaPayload pack exit 2"]
    assert stderr.startswith("usage:\n  kestrova-pack --src <dir> --out <archive>")
    assert host_pack("pack")[0] == 2
