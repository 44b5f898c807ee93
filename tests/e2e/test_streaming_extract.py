"""The streaming extraction seen from the launcher: a CRC error in the middle
of a solid block leaves the lock file for the next run, and the console
progress line appears on a terminal only."""
import os
import pty
import re
import struct
import subprocess
import zlib
from pathlib import Path

import kvtest


def _reseal_header(data):
    """Recomputes the next-header CRC and the start-header CRC."""
    offset, size = struct.unpack_from("<QQ", data, 12)
    header = bytes(data[32 + offset:32 + offset + size])
    struct.pack_into("<I", data, 28, zlib.crc32(header))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))


def _break_crc(archive, name):
    listing = subprocess.run(["7zz", "l", "-slt", str(archive)], check=True,
                             capture_output=True, text=True).stdout
    block = listing[listing.index("Path = " + name + "\n"):]
    crc = int(re.search(r"CRC = ([0-9A-F]{8})", block).group(1), 16)
    data = bytearray(Path(archive).read_bytes())
    at = data.rindex(struct.pack("<I", crc))
    data[at] ^= 1
    _reseal_header(data)
    Path(archive).write_bytes(bytes(data))


def _jre_archive(work, break_name=None):
    tree = kvtest.make_jre_tree(work / "jre-tree")
    lib = kvtest.installer_dir(tree) / "jre" / kvtest.JRE_RELEASE / "lib"
    lib.mkdir(parents=True, exist_ok=True)
    for i in range(5):
        text = "".join("line %d of module %d\n" % (n, i) for n in range(40000))
        (lib / ("m%d" % i)).write_text(text)
    archive = work / "jre.7z"
    subprocess.run(["7zz", "a", "-bd", "-bso0", "-ms=on", "-mhc=off", str(archive), "."],
                   cwd=str(tree), check=True)
    if break_name:
        _break_crc(archive, break_name)
    return archive


def test_crc_error_mid_block_keeps_the_runtime_lock(launcher, tmp_path, home):
    archive = _jre_archive(tmp_path,
                           "maintenance/kvInstaller/x86-linux2/jre/%s/lib/m2" % kvtest.JRE_RELEASE)
    installer = kvtest.make_installer_tree(tmp_path / "installer")
    bundle = kvtest.mkbundle(tmp_path / "setup", launcher, installer=installer, jre=archive,
                             version=kvtest.DEFAULT_VERSION)
    target = tmp_path / "install"
    done = kvtest.run_launcher(bundle, ["-silent", "-installPath", str(target)], home=home)
    assert "ERROR: Extracting jre failed: 3" in done.stdout + done.stderr
    assert done.returncode == 1
    assert (target / ".jreLock").exists()
    lib = kvtest.installer_dir(target) / "jre" / kvtest.JRE_RELEASE / "lib"
    assert (lib / "m1").exists()
    assert not (lib / "m2").exists()


def _run_on_terminal(bundle, args, home):
    """Runs with standard output on a pseudo-terminal; (stdout, stderr)."""
    master, slave = pty.openpty()
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": str(home)}
    proc = subprocess.Popen([str(bundle), *args], stdin=subprocess.DEVNULL, stdout=slave,
                            stderr=subprocess.PIPE, env=env)
    os.close(slave)
    out = b""
    while True:
        try:
            piece = os.read(master, 65536)
        except OSError:
            break
        if not piece:
            break
        out += piece
    err = proc.stderr.read()
    proc.wait(timeout=120)
    os.close(master)
    return out.decode(errors="replace"), err.decode(errors="replace")


def test_progress_line_only_on_a_terminal(launcher, tmp_path, home):
    archive = _jre_archive(tmp_path)
    installer = kvtest.make_installer_tree(tmp_path / "installer")
    bundle = kvtest.mkbundle(tmp_path / "setup", launcher, installer=installer, jre=archive,
                             version=kvtest.DEFAULT_VERSION)
    args = ["-silent", "-installPath", str(tmp_path / "piped"), "-showargsandexit"]
    piped = kvtest.run_launcher(bundle, args, home=home)
    assert "Extracting:" not in piped.stderr
    assert "Extracting JRE..." in piped.stdout

    args = ["-silent", "-installPath", str(tmp_path / "tty"), "-showargsandexit"]
    out, err = _run_on_terminal(bundle, args, home)
    assert "Extracting JRE..." in out
    assert re.search(r"\rExtracting: \d+% \(\d+ of \d+ MB\)", err)
    # The line is wiped before the launcher goes on.
    assert err.endswith("\r" + " " * 40 + "\r")
