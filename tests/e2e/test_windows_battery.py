"""Bad inputs for setup.exe under Wine: a version.dll planted beside it, a
stored registry value of the wrong type or far too long, and a command line
near the system's limit of 32767 characters. Each case states its expected
outcome."""

import shutil
import subprocess
from pathlib import Path

import pytest

import kvtest
import winekit

pytestmark = [pytest.mark.windows, pytest.mark.slow]

REGISTRY_KEY = r"HKCU\SOFTWARE\Korvane"

# A DLL that leaves a marker file the moment it is loaded.
_MARKER_DLL = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance; (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[1024];
    DWORD n = GetEnvironmentVariableA("KV_DLL_MARK", path, sizeof path);
    if (n > 0 && n < sizeof path) {
      HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    }
  }
  return TRUE;
}
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle) {
  (void)name; if (handle) *handle = 0; return 0;
}
"""

# A program that uses version.dll the ordinary way: the positive control.
_USES_VERSION = r"""
#include <windows.h>
int main(void) { DWORD h; return (int)GetFileVersionInfoSizeA("x", &h) & 0; }
"""

# A program that only shows a message box's worth of USER32 and never asks
# for version.dll: the negative control. (Wine's own user32 imports
# version.dll, which Windows' does not.)
_USER32_ONLY = r"""
#include <windows.h>
int main(void) { return GetSystemMetrics(SM_CXSCREEN) & 0; }
"""


# The Wine prefix, the launchers under test and a scratch folder.
from winekit import media, wine, work  # noqa: F401,E402  (pytest fixtures)


def build_marker_dll(folder):
    source = folder / "version.c"
    source.write_text(_MARKER_DLL)
    dll = folder / "version.dll"
    subprocess.run([winekit.MINGW_CC, "-shared", "-O1", "-s", "-o", str(dll), str(source)],
                   check=True, capture_output=True)
    programs = []
    for name, text, libs in (("control", _USES_VERSION, ["-lversion"]),
                             ("user32only", _USER32_ONLY, ["-luser32"])):
        source = folder / f"{name}.c"
        source.write_text(text)
        exe = folder / f"{name}.exe"
        subprocess.run([winekit.MINGW_CC, "-O1", "-s", "-o", str(exe), str(source), *libs],
                       check=True, capture_output=True)
        programs.append(exe)
    return dll, programs[0], programs[1]


def test_planted_version_dll_beside_setup_is_not_loaded(wine, media, work):
    # Expected: setup.exe never loads a version.dll from its own folder,
    # neither for -version nor for a whole console install.
    build = work / "build"
    build.mkdir()
    dll, control, user32_only = build_marker_dll(build)
    folder = work / "media"
    folder.mkdir()
    setup = folder / "setup.exe"
    shutil.copyfile(media.setup, setup)
    shutil.copyfile(dll, folder / "version.dll")
    shutil.copyfile(control, folder / "control.exe")
    shutil.copyfile(user32_only, folder / "user32only.exe")
    mark = work / "loaded.mark"
    # Wine prefers its own version.dll; asking for a native one first makes
    # it search the way Windows does, the program's folder included.
    overrides = wine.env.get("WINEDLLOVERRIDES", "")
    env = {"KV_DLL_MARK": winekit.windows_path(mark),
           "WINEDLLOVERRIDES": (overrides + ";" if overrides else "") + "version=n,b"}

    wine.run(folder / "control.exe", env=env)
    if not mark.exists():
        pytest.skip("this Wine does not load a version.dll from the program's folder at all")
    mark.unlink()
    wine.run(folder / "user32only.exe", env=env)
    if mark.exists():
        pytest.skip("under this Wine every program that uses USER32 loads version.dll from its "
                    "folder (Wine's user32 imports it); the case needs Windows itself")

    done = wine.run(setup, ["-version"], env=env)
    assert done.returncode == 0
    target = winekit.windows_path(work / "inst")
    done = wine.run(setup, ["-silent", "-installPath", target], env=env)
    assert done.returncode == 0, done.stderr
    assert not mark.exists(), "setup.exe loaded the planted version.dll"


@pytest.mark.parametrize("kind,data", [
    ("REG_DWORD", "42"),
    ("REG_BINARY", "433a5c6b76"),
    ("REG_MULTI_SZ", "C:\\kv\\0D:\\other"),
    ("REG_EXPAND_SZ", "%SystemDrive%\\kv"),
    ("REG_SZ", "C:\\" + "y" * 16000),
], ids=["dword", "binary", "multi-sz", "expand-sz", "sz-16000"])
def test_stored_location_of_the_wrong_type_or_too_long(wine, media, work, kind, data):
    # Expected: a value that is not a usable REG_SZ location is ignored (the
    # built-in default is offered), and a later install stores a good one.
    name = f"kvbad{kind.lower().replace('_', '')}{len(data)}"
    subprocess.run(["wine", "reg", "add", REGISTRY_KEY, "/v", name, "/t", kind, "/d", data, "/f"],
                   env=wine.env, capture_output=True, check=True, timeout=60)
    done = wine.run(media.setupc, ["-productid", f"{name}:KvBad", "-yum", "list"])
    assert done.returncode == 1
    assert "Default install directory: C:\\KvBad\n" in done.stdout
    target = winekit.windows_path(work / "inst")
    record = work / "record.bin"
    done = wine.run(media.setup, ["-silent", "-productid", name, "-installPath", target],
                    env={"KV_RECORD": winekit.windows_path(record)})
    assert done.returncode == 0, done.stderr
    assert wine.reg_query(REGISTRY_KEY, name) == target


@pytest.mark.parametrize("length", [30000, 32600])
def test_command_line_near_the_limit(wine, media, work, length):
    # Expected: the arguments reach the installer unchanged while the
    # installer's command line fits; when the launcher's own options push it
    # beyond 32767 characters the start fails with "Launching failed" and
    # exit code 1, never a crash or a cut argument. (A command line of the
    # launcher itself beyond the limit never reaches it.)
    target = winekit.windows_path(work / "inst")
    base = ["-silent", "-installPath", target]
    filler = []
    while len(" ".join(base + filler)) < length:
        filler.append(f"-Dkv.filler.{len(filler):05d}=" + "v" * 40)
    record = work / "record.bin"
    done = wine.run(media.setup, base + filler, env={"KV_RECORD": winekit.windows_path(record)},
                    timeout=300)
    assert done.returncode in (0, 1), (done.returncode, done.stderr[-400:])
    if done.returncode == 0:
        args = winekit.read_record(record)["args"]
        assert args[-len(filler):] == [a.lower() for a in filler] or args[-len(filler):] == filler
    else:
        assert "Launching failed" in done.stdout
        assert not record.exists()


def crafted_bundle(wine, media, work, name, entries):
    """setup.exe with the usual installer and runtime and a payload made
    with the tests' 7z writer."""
    import sevenzip_writer as sz
    payload = sz.write_7z(work / f"{name}.7z", entries)
    installer = winekit.make_windows_installer_tree(work / f"{name}-installer", media.stand_in)
    jre = kvtest.make_jre_tree(work / f"{name}-jre", platform=winekit.PLATFORM)
    out = work / name / "setup.exe"
    out.parent.mkdir()
    # The payload is damaged on purpose: mkbundle only warns about it.
    subprocess.run([str(kvtest.dist_dir() / "mkbundle"), "--windows", "--unchecked", "-o", str(out),
                    "--launcher", str(kvtest.dist_dir() / "setup.exe"),
                    "--version", kvtest.DEFAULT_VERSION, "--installer", str(installer),
                    "--jre", str(jre), "--payload", str(payload)], check=True,
                   capture_output=True)
    return out


def test_crafted_names_and_a_failed_extraction(wine, media, work):
    # Expected: an entry and its look-alike "<name>.kvpart" each keep their
    # own bytes, the later of two same-named entries wins, a name that
    # fills the path up to the system's limit works, a read-only file is
    # replaced on the next run; a CRC error ends the run with 1 and starts
    # no installer.
    import sevenzip_writer as sz
    target = work / "inst"
    record = work / "record.bin"
    env = {"KV_RECORD": winekit.windows_path(record)}
    longest = "n" * (259 - len(winekit.windows_path(target)) - 1 - 2)
    bundle = crafted_bundle(wine, media, work, "names", [
        sz.Entry("data.kvpart", b"entry data.kvpart\n"), sz.Entry("data", b"entry data\n"),
        sz.Entry("dup", b"first\n", new_folder=True), sz.Entry("dup", b"second\n", new_folder=True),
        sz.Entry(longest, b"long\n", new_folder=True)])
    done = wine.run(bundle, ["-silent", "-installPath", winekit.windows_path(target)], env=env)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (target / "data.kvpart").read_bytes() == b"entry data.kvpart\n"
    assert (target / "data").read_bytes() == b"entry data\n"
    assert (target / "dup").read_bytes() == b"second\n"
    assert (target / longest).read_bytes() == b"long\n"
    assert not list(target.glob(".kvstage-*")) and record.exists()
    # A read-only file (Wine maps the attribute to the Unix mode) is replaced.
    (target / "data").chmod(0o444)
    done = wine.run(bundle, ["-silent", "-installPath", winekit.windows_path(target)], env=env)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (target / "data").read_bytes() == b"entry data\n"

    record.unlink()
    bundle = crafted_bundle(wine, media, work, "damaged",
                            [sz.Entry("readme", b"damaged\n", bad_crc=True)])
    done = wine.run(bundle, ["-silent", "-installPath", winekit.windows_path(target)], env=env)
    assert done.returncode == 1
    assert "ERROR: Extracting payload failed: 3" in done.stderr
    assert "Launching installer..." not in done.stdout and not record.exists()
