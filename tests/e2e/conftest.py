"""Runs KestrovaPayload.exe under the build's private Wine prefix.

Each test gets a fresh scratch folder on the prefix's C: drive and a `tool` that runs the exe with arguments and
returns the exit code, standard output, standard error and (when the test names one) the log file's text.
"""
import contextlib
import os
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path, PureWindowsPath

import pytest

SOURCE_DIR = Path(os.environ.get("KESTROVA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
BUILD_DIR = Path(os.environ.get("KESTROVA_BUILD_DIR", SOURCE_DIR / "build" / "windows"))
EXE = BUILD_DIR / "src" / "cli" / "KestrovaPayload.exe"
LAUNCHER = BUILD_DIR / "tests" / "launcher" / "RunUnelevated.exe"
PREFIX = Path(os.environ.get("KESTROVA_WINEPREFIX", BUILD_DIR / "wineprefix"))
DRIVE_C = PREFIX / "drive_c"

LOG_LINE = r"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z (INFO |WARN |ERROR) \[\d+\] "


def wine_env():
    env = dict(os.environ)
    env.update(WINEPREFIX=str(PREFIX), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH="win64")
    return env


@dataclass
class Run:
    code: int
    stdout: str
    stderr: str

    def lines(self):
        return self.stdout.split("\r\n")[:-1] if self.stdout else []

    def messages(self):
        """The log messages on standard output, without time stamp, level and process id."""
        return [line.split("] ", 1)[1] for line in self.lines()]


class Scratch:
    """A folder on the prefix's C: drive, known by its Linux path and by the path the tool sees."""

    def __init__(self, name):
        self.host = DRIVE_C / "kestrova-tests" / name
        self.win = PureWindowsPath("C:\\kestrova-tests") / name
        if self.host.exists():
            make_writable(self.host)
            shutil.rmtree(self.host)
        self.host.mkdir(parents=True)

    def host_path(self, relative):
        return self.host / relative

    def win_path(self, relative=""):
        return str(self.win / relative) if relative else str(self.win)


def make_writable(path):
    for root, dirs, files in os.walk(path):
        for name in dirs + files:
            try:
                os.chmod(os.path.join(root, name), 0o755)
            except OSError:
                pass


def run_tool(*args, unelevated=False, timeout=120):
    command = ["wine", str(LAUNCHER), str(EXE)] if unelevated else ["wine", str(EXE)]
    command += [str(a) for a in args]
    done = subprocess.run(command, env=wine_env(), capture_output=True, timeout=timeout)
    return Run(done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace"))


@contextlib.contextmanager
def held_by_cmd(scratch, redirection):
    """A Wine cmd holding `redirection` ("> C:\\x" opens without sharing, ">> C:\\x" for appending) open while
    `set /p` waits for a line; it creates "held.ready" in the scratch folder just before it opens it."""
    holder = subprocess.Popen(["wine", "cmd", "/c", f"type nul > {scratch.win_path('held.ready')} & "
                               f"set /p x= {redirection}"], env=wine_env(), stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if scratch.host_path("held.ready").exists():
                break
            time.sleep(0.1)
        time.sleep(1)
        yield
    finally:
        holder.stdin.close()
        holder.wait(timeout=60)


@pytest.fixture(scope="session", autouse=True)
def wine_prefix():
    assert EXE.exists(), f"build the windows preset first: {EXE} is missing"
    env = wine_env()
    if not (PREFIX / "system.reg").exists():
        subprocess.run(["wineboot", "-i"], env=env, capture_output=True, check=False)
        subprocess.run(["wineserver", "-w"], env=env, check=False)
    subprocess.run(["wineserver", "-p"], env=env, check=False)
    # Start the prefix's services detached from any captured pipe, or they would hold a test's output open.
    subprocess.run(["wine", "wineboot"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    yield


@pytest.fixture
def scratch(request):
    name = request.node.name.replace("[", "_").replace("]", "").replace("/", "_")
    folder = Scratch(name)
    yield folder
    if folder.host.exists():
        make_writable(folder.host)
        shutil.rmtree(folder.host, ignore_errors=True)


@pytest.fixture
def tool():
    return run_tool
