"""Stand-ins for system tools in the test prefix: FakeTool (tests/faketool) copied into C:\\windows\\system32 under
a tool's name, following a script the test writes beside it and recording every command line it receives.

Wine runs its built-in netsh rather than a file copied over it unless "netsh.exe"="native" is set under
HKCU\\Software\\Wine\\DllOverrides in the prefix (or WINEDLLOVERRIDES names netsh.exe=n when the exe starts);
see the script keys at the top of tests/faketool/fake_tool_win32.cpp."""
import os
import subprocess
from pathlib import Path

from conftest import BUILD_DIR, DRIVE_C, wine_env

FAKE_TOOL = BUILD_DIR / "tests" / "faketool" / "FakeTool.exe"
SYSTEM32 = DRIVE_C / "windows" / "system32"
SYSTEM32_WIN = "C:\\windows\\system32"


class FakeTool:
    def __init__(self, name, script=""):
        assert FAKE_TOOL.exists(), f"build the FakeTool target first: {FAKE_TOOL} is missing"
        self.name = name
        self.base = SYSTEM32 / name
        self.exe = self.base.with_name(name + ".exe")
        # Wine's own placeholder (netsh.exe) is put back by remove().
        self.saved = self.base.with_name(name + ".exe.kestrova-saved")
        if self.exe.exists():
            self.exe.replace(self.saved)
        self.exe.write_bytes(FAKE_TOOL.read_bytes())
        self.calls_file = self.base.with_name(name + ".calls")
        if self.calls_file.exists():
            self.calls_file.unlink()
        self.script(script)

    def script(self, text):
        self.base.with_name(self.name + ".script").write_text(text, newline="\n")

    def calls(self):
        """The command lines received, as the runner built them."""
        if not self.calls_file.exists():
            return []
        return self.calls_file.read_bytes().decode("utf-8").split("\n")[:-1]

    def program(self):
        return f'"{SYSTEM32_WIN}\\{self.name}.exe" '

    def remove(self):
        for suffix in (".exe", ".script", ".calls"):
            path = self.base.with_name(self.name + suffix)
            if path.exists():
                path.unlink()
        if self.saved.exists():
            self.saved.replace(self.exe)


def remove_device_nodes(hardware_id):
    """Removes every device node with the hardware id (Wine has no DiUninstallDevice for remove-vdd to use)."""
    cleaner = FakeTool(f"kestrova-cleanup-{os.getpid()}", f"remove-devices={hardware_id}\n")
    try:
        subprocess.run(["wine", str(cleaner.exe)], env=wine_env(), capture_output=True, timeout=60, check=False)
    finally:
        cleaner.remove()
