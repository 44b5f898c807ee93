"""Helpers of the Windows end-to-end tests (test_windows_*.py): a throwaway
Wine prefix, the recording stand-in installer cross-built with MinGW, Windows
bundles made with mkbundle --windows, and running setup.exe / setupc.exe.

The stand-in installer (kvInstaller.exe / kvInstallerc.exe) writes what it
received -- its command line as the system holds it, its working folder and
its argv as its C runtime split it -- to the file named by KV_RECORD (a
Windows path), prints one line on standard output, sleeps KV_SLEEP
milliseconds and exits with KV_EXIT.
"""

import atexit
import os
import shutil
import signal
import subprocess
import tempfile
from pathlib import Path

import pytest

import kvtest

PLATFORM = "x86-win32"
MINGW_CC = "i686-w64-mingw32-gcc"

_STAND_IN = r"""
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static void field(FILE* f, const char* key, const char* value) {
  fputs(key, f); fputc(0, f); fputs(value ? value : "", f); fputc(0, f);
}

int main(int argc, char** argv) {
  const char* record = getenv("KV_RECORD");
  const char* exitCode = getenv("KV_EXIT");
  if (record && *record) {
    FILE* f = fopen(record, "wb");
    if (f) {
      char cwd[MAX_PATH * 2];
      char module[MAX_PATH * 2];
      GetCurrentDirectoryA(sizeof cwd, cwd);
      GetModuleFileNameA(NULL, module, sizeof module);
      field(f, "cmdline", GetCommandLineA());
      field(f, "cwd", cwd);
      field(f, "module", module);
      for (int i = 1; i < argc; ++i) field(f, "arg", argv[i]);
      fclose(f);
    }
  }
  printf("stand-in installer ran with %d arguments\n", argc - 1);
  fflush(stdout);
  if (getenv("KV_SLEEP")) Sleep((DWORD)atoi(getenv("KV_SLEEP")));
  return exitCode ? atoi(exitCode) : 0;
}
"""


def wine_available():
    return shutil.which("wine") is not None and shutil.which(MINGW_CC) is not None


def short_temp_dir(prefix="kvw"):
    """A fresh folder with a short path: Windows locations are limited to
    100 characters, and Wine shows /tmp/x as Z:\\tmp\\x."""
    return Path(tempfile.mkdtemp(prefix=prefix, dir="/tmp"))


def windows_path(path):
    """The Wine (drive Z:) name of a Linux path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def build_stand_in(folder):
    """Cross-builds the recording stand-in installer into `folder`."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    source = folder / "stand_in.c"
    source.write_text(_STAND_IN)
    exe = folder / "stand_in.exe"
    subprocess.run([MINGW_CC, "-O1", "-s", "-o", str(exe), str(source)], check=True)
    return exe


def make_windows_installer_tree(root, stand_in, version=kvtest.DEFAULT_VERSION):
    """<root>/maintenance/kvInstaller/x86-win32 with kvInstaller.exe and
    kvInstallerc.exe (both the stand-in) and .eclipseproduct."""
    folder = kvtest.installer_dir(root, PLATFORM)
    folder.mkdir(parents=True, exist_ok=True)
    for name in ("kvInstaller.exe", "kvInstallerc.exe"):
        shutil.copyfile(stand_in, folder / name)
    (folder / ".eclipseproduct").write_text(kvtest.properties_text(version))
    return Path(root)


def make_windows_bundle(out, launcher, stand_in, work, args=(), version=kvtest.DEFAULT_VERSION,
                        release="KVINSTALLER_2_7_1_REL03"):
    """Builds a Windows bundle (v, i, j, r, then one `a` per arg) on
    `launcher` with mkbundle --windows."""
    work = Path(work)
    installer = make_windows_installer_tree(work / "installer-tree", stand_in, version)
    jre = kvtest.make_jre_tree(work / "jre-tree", platform=PLATFORM)
    cmd = [str(kvtest.dist_dir() / "mkbundle"), "--windows", "-o", str(out),
           "--launcher", str(launcher), "--version", version,
           "--name", kvtest.PRODUCT_NAME, "--id", kvtest.PRODUCT_ID,
           "--installer", str(installer), "--jre", str(jre), "--release", release]
    for arg in args:
        cmd += ["--arg", arg]
    subprocess.run(cmd, check=True, capture_output=True)
    return Path(out)


def read_record(path):
    """The stand-in's record: dict with cmdline, cwd, module and args."""
    fields = Path(path).read_bytes().decode("latin-1").split("\0")
    result = {"cmdline": None, "cwd": None, "module": None, "args": []}
    for key, value in zip(fields[0::2], fields[1::2]):
        if key == "arg":
            result["args"].append(value)
        elif key in result:
            result[key] = value
    return result


class WinePrefix:
    """A throwaway Wine prefix (wineboot -i) and runs of programs in it."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": str(self.folder / "home"),
            "LC_ALL": "C",
            "WINEPREFIX": str(self.folder / "prefix"),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        }
        (self.folder / "home").mkdir(parents=True, exist_ok=True)

    def boot(self, attempts=3):
        # The first wineboot of a machine now and then gives up (exit 53)
        # while Wine sets itself up; a fresh prefix on the next try works.
        for attempt in range(attempts):
            done = subprocess.run(["wineboot", "-i"], env=self.env, timeout=300,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if done.returncode == 0:
                self.wait_idle()
                return
            self.shutdown()
            shutil.rmtree(self.env["WINEPREFIX"], ignore_errors=True)
        raise subprocess.CalledProcessError(done.returncode, ["wineboot", "-i"])

    def wait_idle(self):
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=120)

    def shutdown(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60)

    def run(self, program, args=(), env=None, input="", timeout=120, display=None):
        """Runs a Windows program under Wine; returns the CompletedProcess
        (text output). Standard input is `input`, output goes through pipes."""
        full_env = dict(self.env)
        if display:
            full_env.update(display)
        full_env.update(env or {})
        proc = subprocess.Popen(["wine", str(program), *map(str, args)], env=full_env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, encoding="latin-1",
                                start_new_session=True)
        try:
            out, err = proc.communicate(input, timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, err = proc.communicate()
            raise subprocess.TimeoutExpired(proc.args, timeout, out, err)
        return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)

    def start(self, program, args=(), env=None, display=None):
        """Starts a Windows program under Wine without waiting (GUI tests)."""
        full_env = dict(self.env)
        if display:
            full_env.update(display)
        full_env.update(env or {})
        return subprocess.Popen(["wine", str(program), *map(str, args)], env=full_env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, encoding="latin-1",
                                start_new_session=True)

    def reg_query(self, key, value):
        """The data of a REG_SZ value as `wine reg query` shows it, or None."""
        done = subprocess.run(["wine", "reg", "query", key, "/v", value], env=self.env,
                              capture_output=True, encoding="latin-1", timeout=60)
        if done.returncode != 0:
            return None
        for line in done.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == value and parts[1] == "REG_SZ":
                return parts[2] if len(parts) == 3 else ""
        return None

    def reg_delete(self, key):
        subprocess.run(["wine", "reg", "delete", key, "/f"], env=self.env,
                       capture_output=True, timeout=60)


_SHARED = {}


def shared_prefix():
    """One booted Wine prefix for the whole test run (booting takes ~25 s),
    removed when the run ends."""
    if "prefix" not in _SHARED:
        folder = short_temp_dir("kvwine")
        prefix = WinePrefix(folder)
        prefix.boot()

        def remove():
            prefix.shutdown()
            shutil.rmtree(folder, ignore_errors=True)

        atexit.register(remove)
        _SHARED["prefix"] = prefix
    return _SHARED["prefix"]


class WindowsLaunchers:
    """setup.exe and setupc.exe with a bundle, side by side in one folder,
    and the recording stand-in they install. The twin's bundle carries the
    embedded argument TWIN_MARK, so a record shows which program ran."""

    TWIN_MARK = "ran-through-setupc"

    def __init__(self, work):
        self.work = Path(work)
        self.stand_in = build_stand_in(self.work / "stand-in")
        self.folder = self.work / "media"
        self.folder.mkdir(parents=True, exist_ok=True)
        dist = kvtest.dist_dir()
        self.setup = make_windows_bundle(self.folder / "setup.exe", dist / "setup.exe",
                                         self.stand_in, self.work / "b1")
        self.setupc = make_windows_bundle(self.folder / "setupc.exe", dist / "setupc.exe",
                                          self.stand_in, self.work / "b2",
                                          args=[self.TWIN_MARK])


def shared_launchers():
    if "launchers" not in _SHARED:
        work = short_temp_dir("kvwl")
        atexit.register(shutil.rmtree, work, True)
        _SHARED["launchers"] = WindowsLaunchers(work)
    return _SHARED["launchers"]


# Fixtures shared by the Windows test files (imported there by name).
@pytest.fixture(scope="module")
def wine():
    if not wine_available():
        pytest.fail("wine or the MinGW compiler is missing (scripts/test.sh installs them)")
    return shared_prefix()


@pytest.fixture(scope="module")
def media(wine):
    return shared_launchers()


@pytest.fixture
def work():
    folder = short_temp_dir()
    yield folder
    shutil.rmtree(folder, ignore_errors=True)
