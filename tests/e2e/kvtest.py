"""Shared helpers of the end-to-end tests.

Builds bundles with dist/mkbundle, lays out stand-in installer and Java
runtime trees, makes 7z archives, appends raw blocks, lists a file's blocks
the way the launcher walks them, runs a launcher in a small, controlled
environment, and snapshots file trees.

The stand-in installer (make_installer_tree) is a POSIX sh script. When it
runs it writes a record of what it received -- its argv[0], working
directory, every argument and its whole environment -- to the file named by
the environment variable KV_RECORD, or else to the record path given when
the tree was made, and exits with KV_EXIT or else the exit code given then.
read_record() parses that file.
"""

import os
import signal
import stat
import struct
import subprocess
import zlib
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
LAUNCHERS = ("setup_linux", "setup_linux64")
DEFAULT_VERSION = "2.7.3.271REL03_201509181225"
PRODUCT_NAME = "Korvane Installer"
PRODUCT_ID = "com.korvane.p2.installer.ui.product"
LINUX_PLATFORM = "x86-linux2"
JRE_RELEASE = "1.8.0_40"
FOOTER_MAGIC = b"kvi"
# The check's message for a location that is neither empty nor an install.
NO_PRODUCTS = "Error: KV installer can't run; this location contains no Korvane products.\n"


def damaged_setup(path):
    """The line naming a setup file as damaged or cut short."""
    return f"ERROR: The setup file {path} is damaged or incomplete. Please download it again.\n"


def dist_dir():
    """The folder holding the built programs: $KV_DIST or <repo>/dist."""
    return Path(os.environ.get("KV_DIST") or REPO_ROOT / "dist")


def installer_dir(root, platform=LINUX_PLATFORM):
    """<root>/maintenance/kvInstaller/<platform>: where kvInstaller lives."""
    return Path(root) / "maintenance" / "kvInstaller" / platform


def properties_text(version=DEFAULT_VERSION, name=PRODUCT_NAME, product_id=PRODUCT_ID):
    """The properties text of a `v` block or an .eclipseproduct file."""
    return f"name={name}\nid={product_id}\nversion={version}\n"


# ---- stand-in installer and runtime ----------------------------------------

_INSTALLER_SCRIPT = r"""#!/bin/sh
# Stand-in kvInstaller made by the end-to-end tests: records what it was
# given, then exits with the chosen code.
default_record=@RECORD@
rec="${KV_RECORD:-$default_record}"
if [ -n "$rec" ]; then
    {
        printf 'argv0\0%s\0' "$0"
        printf 'cwd\0%s\0' "$(pwd -P)"
        for a in "$@"; do
            printf 'arg\0%s\0' "$a"
        done
        printf 'env\0'
        env -0
    } > "$rec"
fi
exit "${KV_EXIT:-@EXIT@}"
"""


def _sh_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def make_installer_tree(root, version=DEFAULT_VERSION, exit_code=0,
                        platform=LINUX_PLATFORM, record=None):
    """Creates <root>/maintenance/kvInstaller/<platform>/kvInstaller (the
    recording stand-in, mode 0755) and its .eclipseproduct with `version`.
    `record` is the default record file (KV_RECORD overrides it); without
    either, the stand-in records nothing. Returns `root` as a Path."""
    root = Path(root)
    folder = installer_dir(root, platform)
    folder.mkdir(parents=True, exist_ok=True)
    script = _INSTALLER_SCRIPT.replace("@EXIT@", str(int(exit_code)))
    script = script.replace("@RECORD@", _sh_quote(str(record or "")))
    program = folder / "kvInstaller"
    program.write_text(script)
    program.chmod(0o755)
    (folder / ".eclipseproduct").write_text(properties_text(version))
    return root


def make_jre_tree(root, platform=LINUX_PLATFORM, release=JRE_RELEASE):
    """Creates <root>/maintenance/kvInstaller/<platform>/jre/<release>/ with
    COPYRIGHT and a stand-in bin/java. Returns `root` as a Path."""
    root = Path(root)
    jre = installer_dir(root, platform) / "jre" / release
    (jre / "bin").mkdir(parents=True, exist_ok=True)
    (jre / "COPYRIGHT").write_text("Stand-in Java runtime of the end-to-end tests.\n")
    java = jre / "bin" / "java"
    java.write_text('#!/bin/sh\necho "stand-in java $*"\n')
    java.chmod(0o755)
    return root


def read_record(path):
    """Parses a stand-in installer's record into a dict with "argv0", "cwd",
    "args" (list) and "env" (dict). Raises FileNotFoundError when the
    installer never ran."""
    fields = Path(path).read_bytes().decode("utf-8", "surrogateescape").split("\0")
    result = {"argv0": None, "cwd": None, "args": [], "env": {}}
    i = 0
    while i < len(fields):
        key = fields[i]
        if key == "env":
            for entry in fields[i + 1:]:
                if entry:
                    name, _, value = entry.partition("=")
                    result["env"][name] = value
            break
        if key == "arg":
            result["args"].append(fields[i + 1])
        elif key in ("argv0", "cwd"):
            result[key] = fields[i + 1]
        i += 2
    return result


# ---- bundles ---------------------------------------------------------------

def append_block(path, tag, data, pad=True):
    """Appends one block (data, zero padding to a multiple of 8 unless
    pad=False, then the footer) to the file at `path`."""
    if isinstance(data, str):
        data = data.encode()
    tag = tag.encode() if isinstance(tag, str) else tag
    assert len(tag) == 1, "a tag is one letter"
    with open(path, "ab") as f:
        start = f.seek(0, os.SEEK_END)
        f.write(data)
        if pad and len(data) % 8:
            f.write(b"\0" * (8 - len(data) % 8))
        f.write(struct.pack("<I", start) + FOOTER_MAGIC + tag)


def list_blocks(path):
    """The blocks of a bundle as (tag, data bytes) in file order, found by
    following the footers from the end of the file as the launcher does.
    Empty when the file carries no bundle."""
    blob = Path(path).read_bytes()
    blocks = []
    footer = len(blob) - 8
    while footer >= 0:
        start = struct.unpack_from("<I", blob, footer)[0]
        if blob[footer + 4:footer + 7] != FOOTER_MAGIC or start > footer:
            break
        blocks.append((chr(blob[footer + 7]), blob[start:footer]))
        footer = start - 8
    blocks.reverse()
    return blocks


def mkbundle(out, launcher, installer=None, jre=None, payload=None, version=None,
             version_file=None, releases=(), args=(), logo=None, extra_blocks=(),
             checked=False):
    """Builds a bundle with dist/mkbundle and returns its path (mode 0755).
    `version` makes the `v` block from a version text (with the product's
    name and id), `version_file` from a file's bytes; installer, jre and
    payload are folders or .7z files; `extra_blocks` are (tag, data) pairs
    appended raw after mkbundle's blocks (see append_block). Launcher tests
    build bundles that are incomplete on purpose, so mkbundle's refusals
    are only warnings unless `checked`."""
    out = Path(out)
    cmd = [str(dist_dir() / "mkbundle"), "-o", str(out), "--launcher", str(launcher)]
    if not checked:
        cmd += ["--unchecked"]
    if version is not None:
        cmd += ["--version", version, "--name", PRODUCT_NAME, "--id", PRODUCT_ID]
    if logo is not None:
        cmd += ["--logo", str(logo)]
    if version_file is not None:
        cmd += ["--version-file", str(version_file)]
    if installer is not None:
        cmd += ["--installer", str(installer)]
    if jre is not None:
        cmd += ["--jre", str(jre)]
    if payload is not None:
        cmd += ["--payload", str(payload)]
    for release in releases:
        cmd += ["--release", release]
    for arg in args:
        cmd += ["--arg", arg]
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"mkbundle failed ({done.returncode}): {' '.join(cmd)}\n"
                           f"{done.stdout}{done.stderr}")
    for tag, data in extra_blocks:
        append_block(out, tag, data)
    out.chmod(0o755)
    return out


def write_png(path, width=48, height=48):
    """Writes a small valid RGB PNG (a colour gradient) to `path`."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    rows = b"".join(
        b"\0" + b"".join(bytes((x * 5 % 256, y * 5 % 256, 160)) for x in range(width))
        for y in range(height))
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(rows))
           + chunk(b"IEND", b""))
    Path(path).write_bytes(png)
    return Path(path)


# ---- running a launcher ----------------------------------------------------

def display_env():
    """DISPLAY and XAUTHORITY of the test run, for tests that want a GUI."""
    return {k: os.environ[k] for k in ("DISPLAY", "XAUTHORITY") if k in os.environ}


def run_launcher(path, args=(), home=None, env=None, input=None, timeout=120, cwd=None,
                 user=None, preexec_fn=None):
    """Runs a launcher and returns the CompletedProcess (text output).

    The environment is small and fixed: HOME=home, PATH, LC_ALL=C, plus
    `env` (which may also set DISPLAY, TMPDIR, KV_RECORD, ...). Nothing else
    is inherited, so there is no DISPLAY unless given. Standard input is
    `input` or else empty. `user` runs it as that user (tests run as root);
    `preexec_fn` runs in the child first (limits). On timeout the whole process group is killed and
    subprocess.TimeoutExpired raised."""
    full_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C"}
    if home is not None:
        full_env["HOME"] = str(home)
    full_env.update(env or {})
    proc = subprocess.Popen([str(path), *map(str, args)], env=full_env,
                            cwd=None if cwd is None else str(cwd),
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, encoding="utf-8", errors="replace",
                            start_new_session=True, user=user, preexec_fn=preexec_fn)
    try:
        out, err = proc.communicate(input or "", timeout=timeout)
    except subprocess.TimeoutExpired:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        out, err = proc.communicate()
        raise subprocess.TimeoutExpired(proc.args, timeout, out, err)
    return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)


def read_until_prompt(stream, prompt=b">"):
    """Reads a running program's output until it ends with `prompt`: the
    program then waits for its answer. Fails if the output ends first."""
    seen = b""
    while not seen.endswith(prompt):
        chunk = os.read(stream.fileno(), 1)
        assert chunk, seen
        seen += chunk
    return seen


def seven_zip(directory, archive, method="LZMA2"):
    """Archives the contents of `directory` (entries relative to it)."""
    archive = Path(archive).resolve()
    subprocess.run(["7zz", "a", "-t7z", f"-m0={method}", "-bd", "-bso0", "-bsp0", "-spd",
                    "-y", "--", str(archive), "."], cwd=directory, check=True)
    return archive


def snapshot(root, folder_modes=False):
    """{relative path: description} of everything below `root`, links not
    followed: ("file", bytes, permission bits), ("link", target), and
    ("dir",), or ("dir", permission bits) with folder_modes."""
    root = Path(root)
    result = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = Path(folder) / name
            rel = str(path.relative_to(root))
            st = path.lstat()
            if stat.S_ISLNK(st.st_mode):
                result[rel] = ("link", os.readlink(path))
            elif stat.S_ISDIR(st.st_mode):
                result[rel] = ("dir", stat.S_IMODE(st.st_mode)) if folder_modes else ("dir",)
            else:
                result[rel] = ("file", path.read_bytes(), stat.S_IMODE(st.st_mode))
    return result
