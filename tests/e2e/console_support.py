"""Helpers of the console-mode end-to-end tests (test_console_*.py).

On top of kvtest: cached 7z archives of the stand-in installer and Java
runtime (one per version and session), bundles built from them, launchers
run with a throwaway HOME (and, for the temporary folders, their own
TMPDIR), and the launcher's fixed texts.

The stand-in installer made here is kvtest's recording script with one
addition: before it exits it evaluates the shell text in $KV_HOOK, if any,
so that a test can make the installer kill itself, leave links behind or
note facts about its folder. The environment reaches the installer through
the launcher unchanged.
"""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

import kvtest

RELEASE = "KVINSTALLER_2_7_1_REL03"
OLDER_VERSION = "2.7.2.100REL01_201501010000"
NEWER_VERSION = "2.8.0.1REL01_201601010000"

LAUNCHING = "Launching installer...\n"
EXTRACTING_JRE = "Extracting JRE...\n"
EXTRACTING_INSTALLER = "Extracting Installer...\n"
EXTRACTING_BOTH = EXTRACTING_JRE + EXTRACTING_INSTALLER
SILENT_PATH_REQUIRED = "Error: -installPath required in silent mode\n"
YUM_PATH_REQUIRED = "Error: --installroot= required in yum mode\n"
DOWNLOAD_PATH_REQUIRED = "Error: -download path required in silent mode\n"
FALLING_BACK = "\nFalling back to text-based mode...\n"
CONSOLE_SWITCHES = ["--launcher.suppressErrors", "-nosplash"]
FORBIDDEN = ':%#<>"!?'


def release_line(release=RELEASE):
    return f"Korvane Installer version {release}\n"


def invalid_path(path):
    return f"ERROR: {path} is an invalid path.\n"


def invalid_characters(allow_space=False):
    return ("Your installation could not be completed because the location you specified "
            "includes invalid characters.\nThe installation path may not contain the "
            "following characters:\n" + FORBIDDEN + ("" if allow_space else "<space>") + "\n")


def fall_back_warning(path):
    return f"Warning: Could not extract installer payload. Using {path} as fall-back\n"


def gui_failure_text(launcher):
    """What initGui reports without a display on this host: the library that
    does not load for the launcher's architecture, or else the display."""
    arch = "x86-64" if launcher.name.endswith("64") else None
    listing = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout

    def present(lib):
        for line in listing.splitlines():
            line = line.strip()
            if not line.startswith(lib + " "):
                continue
            if ("x86-64" in line) == (arch is not None):
                return True
        return False

    for lib in ("libgtk-x11-2.0.so.0", "libXtst.so.6"):
        if not present(lib):
            return ("The installer program cannot run in GUI mode on this host type due to an "
                    f"error loading gtk libraries({lib}).\n We suggest to install these "
                    "libraries on your host and retry the installation.\n")
    return ("The installer program cannot run in GUI mode: Cannot open display: \nPossible "
            "causes:\n  - The DISPLAY environment variable might not be set or incorrect\n"
            "  - Access to the DISPLAY might be restricted (try xhost+)\n")


# ---- payload trees and archives ---------------------------------------------

_HOOK_LINE = 'if [ -n "$KV_HOOK" ]; then eval "$KV_HOOK"; fi\n'


def make_installer_tree(root, version=kvtest.DEFAULT_VERSION):
    """kvtest's stand-in installer tree, with the KV_HOOK step added."""
    root = kvtest.make_installer_tree(root, version=version)
    program = kvtest.installer_dir(root) / "kvInstaller"
    script = program.read_text()
    marker = 'exit "${KV_EXIT'
    assert marker in script, "the stand-in installer changed its last line"
    program.write_text(script.replace(marker, _HOOK_LINE + marker))
    return root


class Payloads:
    """Source trees and archives shared by a whole session."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.jre_tree = kvtest.make_jre_tree(self.folder / "jre")
        self.jre_archive = kvtest.seven_zip(self.jre_tree, self.folder / "jre.7z")
        self._installers = {}

    def installer_tree(self, version=kvtest.DEFAULT_VERSION):
        return self._installer(version)[0]

    def installer_archive(self, version=kvtest.DEFAULT_VERSION):
        return self._installer(version)[1]

    def _installer(self, version):
        if version not in self._installers:
            name = "installer-" + version
            tree = make_installer_tree(self.folder / name, version)
            self._installers[version] = (tree, kvtest.seven_zip(tree, self.folder / (name + ".7z")))
        return self._installers[version]

    def bundle(self, out, launcher, version=kvtest.DEFAULT_VERSION, installer=True, jre=True,
               releases=(RELEASE,), args=(), extra_blocks=(), installer_archive=None):
        """A launcher at `out` carrying the stand-in installer of `version`
        (or `installer_archive`), the runtime and the release ids."""
        out = Path(out)
        out.parent.mkdir(parents=True, exist_ok=True)
        if installer_archive is None and installer:
            installer_archive = self.installer_archive(version)
        return kvtest.mkbundle(out, launcher, version=version,
                               installer=installer_archive,
                               jre=self.jre_archive if jre else None,
                               releases=releases, args=args, extra_blocks=extra_blocks)

    def expected_tree(self, version=kvtest.DEFAULT_VERSION, jre=True):
        """The snapshot an install directory has after a complete extraction."""
        tree = kvtest.snapshot(self.installer_tree(version))
        if jre:
            tree.update(kvtest.snapshot(self.jre_tree))
        return tree


# ---- running --------------------------------------------------------------

def run(launcher, args=(), home=None, env=None, input=None, cwd=None, record=None,
        timeout=120):
    """kvtest.run_launcher, with KV_RECORD set when `record` is given."""
    env = dict(env or {})
    if record is not None:
        env["KV_RECORD"] = str(record)
    return kvtest.run_launcher(launcher, args, home=home, env=env, input=input, cwd=cwd,
                               timeout=timeout)


def run_as(launcher, argv0, args=(), home=None, cwd=None, env=None):
    """Runs the launcher program with a chosen argv[0]."""
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", **(env or {})}
    if home is not None:
        env["HOME"] = str(home)
    return subprocess.run([argv0, *map(str, args)], executable=str(launcher), env=env,
                          cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=120)


def record(path):
    """The stand-in installer's record, or None when it never ran."""
    try:
        return kvtest.read_record(path)
    except FileNotFoundError:
        return None


def program_path(install_dir):
    return str(kvtest.installer_dir(install_dir) / "kvInstaller")


def kill_during(launcher, args, home, line, until, env=None, poll=0.0005, limit=30):
    """Starts the launcher, reads its standard output until `line` appears,
    then waits until until() is true (at most `limit` seconds) and kills the
    launcher with SIGKILL. Returns the output read and the exit status."""
    full_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
                "HOME": str(home), **(env or {})}
    proc = subprocess.Popen([str(launcher), *map(str, args)], env=full_env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True, start_new_session=True)
    seen = ""
    try:
        for text in proc.stdout:
            seen += text
            if text == line:
                deadline = time.monotonic() + limit
                while not until() and time.monotonic() < deadline:
                    time.sleep(poll)
                break
    finally:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.stdout.close()
        status = proc.wait(timeout=limit)
    return seen, status


def block_spans(path):
    """[(tag, start, end)] of the bundle's blocks in file order (end is the
    footer's offset)."""
    blob = Path(path).read_bytes()
    spans = []
    footer = len(blob) - 8
    while footer >= 0 and blob[footer + 4:footer + 7] == kvtest.FOOTER_MAGIC:
        start = int.from_bytes(blob[footer:footer + 4], "little")
        if start > footer:
            break
        spans.append((chr(blob[footer + 7]), start, footer))
        footer = start - 8
    return spans[::-1]


def flip_byte(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        value = f.read(1)[0]
        f.seek(offset)
        f.write(bytes([value ^ 0xFF]))


# ---- file trees -------------------------------------------------------------

def listing(root):
    """The sorted relative names below `root` (for messages)."""
    return sorted(kvtest.snapshot(root)) if Path(root).exists() else None


def copy_launcher(source, folder, name=None):
    """A copy of a built launcher (or bundle) in `folder`, keeping its name."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / (name or Path(source).name)
    shutil.copyfile(source, target)
    target.chmod(0o755)
    return target


# ---- fixtures ---------------------------------------------------------------

_shared = {}


@pytest.fixture(name="payloads")
def payloads_fixture(tmp_path_factory):
    """The session's Payloads (made on first use)."""
    if "payloads" not in _shared:
        _shared["payloads"] = Payloads(tmp_path_factory.mktemp("payloads"))
    return _shared["payloads"]
