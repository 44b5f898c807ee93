"""Helpers of the Windows end-to-end tests (test_windows_*.py): a throwaway
Wine prefix, the recording stand-in installer cross-built with MinGW, Windows
bundles made with mkbundle --windows, and running setup.exe / setupc.exe.

The stand-in installer (kvInstaller.exe / kvInstallerc.exe) writes what it
received -- its command line as the system holds it, its working folder and
its argv as its C runtime split it -- to the file named by KV_RECORD (a
Windows path), prints one line on standard output, sleeps KV_SLEEP
milliseconds and exits with KV_EXIT. With KV_HANDLES set, the record also
names the file behind every handle the installer holds on a disk file
("handle" fields): what it inherited from the launcher among them.

kvprobe.exe (build_probe) watches the launcher from outside: `hold` takes
the extraction lock's named mutex as another setup would, `bar` samples the
progress window's bar and text.
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
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>

static void field(FILE* f, const char* key, const char* value) {
  fputs(key, f); fputc(0, f); fputs(value ? value : "", f); fputc(0, f);
}

static void wfield(FILE* f, const char* key, const WCHAR* value) {
  char text[4096] = "";
  WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text, NULL, NULL);
  field(f, key, text);
}

typedef DWORD (WINAPI *FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);

/* The file behind every handle value that is an open disk file. */
static void handles(FILE* f) {
  FinalPathFn finalPath = (FinalPathFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                             "GetFinalPathNameByHandleW");
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    HANDLE h = (HANDLE)value;
    DWORD flags;
    WCHAR wide[1024];
    char name[3072] = "?";
    if (!GetHandleInformation(h, &flags) || GetFileType(h) != FILE_TYPE_DISK) continue;
    DWORD n = finalPath ? finalPath(h, wide, 1024, 0) : 0;
    if (n > 0 && n < 1024) WideCharToMultiByte(CP_UTF8, 0, wide, -1, name, sizeof name, NULL, NULL);
    field(f, "handle", name);
  }
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
      /* The same, as the wide (UTF-16) functions give them, in UTF-8. */
      WCHAR wcwd[MAX_PATH * 2];
      GetCurrentDirectoryW(MAX_PATH * 2, wcwd);
      wfield(f, "wcwd", wcwd);
      int wargc = 0;
      LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
      for (int i = 1; wargv && i < wargc; ++i) wfield(f, "warg", wargv[i]);
      if (getenv("KV_HANDLES")) handles(f);
      fclose(f);
    }
  }
  printf("stand-in installer ran with %d arguments\n", argc - 1);
  fflush(stdout);
  if (getenv("KV_SLEEP")) Sleep((DWORD)atoi(getenv("KV_SLEEP")));
  return exitCode ? atoi(exitCode) : 0;
}
"""


_PROBE = r"""
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void touch(const char* path) {
  FILE* f = fopen(path, "wb");
  if (f) fclose(f);
}

/* hold NAME default|shared|closed MS READY RELEASED GO: owns the named
   mutex until the file GO appears, for MS milliseconds at most. Its security: the default; the launchers' own DACL
   with another owner (SYSTEM), so that this user may open it for waiting
   only, as a launcher that is not elevated finds an elevated one's; or one
   that lets nobody in. */
static int hold(char** argv) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, FALSE};
  PSECURITY_DESCRIPTOR sd = NULL;
  if (strcmp(argv[3], "shared") == 0) {
    ConvertStringSecurityDescriptorToSecurityDescriptorA("O:SYD:(A;;0x00100001;;;WD)", 1, &sd,
                                                         NULL);
  } else if (strcmp(argv[3], "closed") == 0) {
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", 1, &sd, NULL);
  }
  sa.lpSecurityDescriptor = sd;
  HANDLE mutex = CreateMutexA(&sa, TRUE, argv[2]);
  if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return 2;
  touch(argv[5]);
  for (DWORD waited = 0; waited < (DWORD)atoi(argv[4]); waited += 20) {
    if (GetFileAttributesA(argv[7]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(20);
  }
  touch(argv[6]);
  ReleaseMutex(mutex);
  return 0;
}

static BOOL CALLBACK findProgress(HWND window, LPARAM found) {
  char title[64];
  if (GetWindowTextA(window, title, sizeof title) && strcmp(title, "Extract Installer") == 0 &&
      GetDlgItem(window, 1004)) {
    *(HWND*)found = window;
    return FALSE;
  }
  return TRUE;
}

/* bar OUT MS: waits up to MS milliseconds for the progress window, then
   writes "position<TAB>text" each time either changes, until it is gone. */
static int bar(char** argv) {
  FILE* out = fopen(argv[2], "w");
  if (!out) return 2;
  HWND window = NULL;
  DWORD deadline = GetTickCount() + (DWORD)atoi(argv[3]);
  while (!window && GetTickCount() < deadline) {
    EnumWindows(findProgress, (LPARAM)&window);
    if (!window) Sleep(20);
  }
  char last[1100] = "";
  while (window && IsWindow(window)) {
    DWORD_PTR position = 0;
    char text[1024] = "", line[1100];
    if (!SendMessageTimeoutA(GetDlgItem(window, 1004), WM_USER + 8, 0, 0, SMTO_ABORTIFHUNG, 1000,
                             &position) ||
        !GetWindowTextA(GetDlgItem(window, 1003), text, sizeof text)) {
      break;
    }
    snprintf(line, sizeof line, "%d\t%s\n", (int)position, text);
    if (strcmp(line, last) != 0) {
      fputs(line, out);
      fflush(out);
      strcpy(last, line);
    }
    Sleep(10);
  }
  fclose(out);
  return window ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 8 && strcmp(argv[1], "hold") == 0) return hold(argv);
  if (argc == 4 && strcmp(argv[1], "bar") == 0) return bar(argv);
  return 3;
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


def _cross_build(folder, name, source, libraries=()):
    """Cross-builds one C source into <folder>/<name>.exe with MinGW."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / (name + ".c")).write_text(source)
    exe = folder / (name + ".exe")
    subprocess.run([MINGW_CC, "-O1", "-s", "-o", str(exe), str(folder / (name + ".c")),
                    *libraries], check=True)
    return exe


def build_stand_in(folder):
    """Cross-builds the recording stand-in installer into `folder`."""
    return _cross_build(folder, "stand_in", _STAND_IN, ["-lshell32"])


def build_probe(folder):
    """Cross-builds kvprobe.exe into `folder`."""
    return _cross_build(folder, "kvprobe", _PROBE, ["-luser32", "-ladvapi32"])


def lock_mutex_name(folder):
    """The name of the extraction lock's mutex for an install folder."""
    return "Local\\kvInstaller.extract:" + windows_path(folder).lower().replace("\\", "/")


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
                        release="KVINSTALLER_2_7_1_REL03", big_file_mb=0):
    """Builds a Windows bundle (v, i, j, r, then one `a` per arg) on
    `launcher` with mkbundle --windows; with `big_file_mb`, the installer
    holds a file of that many MB of random bytes, slow to extract."""
    work = Path(work)
    installer = make_windows_installer_tree(work / "installer-tree", stand_in, version)
    if big_file_mb:
        # One LZMA stream (not LZMA2, which would store random data as it is).
        (kvtest.installer_dir(installer, PLATFORM) / "modules").write_bytes(
            os.urandom(big_file_mb << 20))
        archive = work / "installer.7z"
        subprocess.run(["7zz", "a", "-t7z", "-m0=LZMA", "-mx=1", "-bd", "-bso0", "-bsp0",
                        str(archive), "."], cwd=installer, check=True)
        installer = archive
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
    """The stand-in's record: dict with cmdline, cwd, module, args and
    handles as the ANSI functions give them, and wcwd and wargs as the wide
    (UTF-16) functions do."""
    fields = Path(path).read_bytes().decode("latin-1").split("\0")
    result = {"cmdline": None, "cwd": None, "module": None, "args": [], "handles": [],
              "wcwd": None, "wargs": []}
    for key, value in zip(fields[0::2], fields[1::2]):
        if key == "arg":
            result["args"].append(value)
        elif key == "warg":
            result["wargs"].append(value.encode("latin-1").decode("utf-8"))
        elif key == "wcwd":
            result["wcwd"] = value.encode("latin-1").decode("utf-8")
        elif key == "handle":
            result["handles"].append(value)
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

    def run(self, program, args=(), env=None, input="", timeout=120, display=None, cwd=None):
        """Runs a Windows program under Wine (in the Linux folder `cwd`);
        returns the CompletedProcess (text output). Standard input is
        `input`, output goes through pipes."""
        full_env = dict(self.env)
        if display:
            full_env.update(display)
        full_env.update(env or {})
        proc = subprocess.Popen(["wine", str(program), *map(str, args)], env=full_env, cwd=cwd,
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
