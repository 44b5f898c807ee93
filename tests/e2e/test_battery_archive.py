"""Bad archive entries: names that would leave the install directory, names
Windows treats specially, over-long names, symbolic-link entries, files
written "through" a link already in the target, and a decompression bomb.
Each case states its expected outcome on Linux."""

import os
import resource
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

import py7zr
import pytest

import fault_support as fs
import kvtest
import sevenzip_writer as sz

REFUSED = "Refusing unsafe archive entry"


def installer_archive(out, work, extra):
    """A 7z of the stand-in installer tree plus the entries `extra` maps
    (archive name -> bytes), written with py7zr, which keeps names as given."""
    tree = kvtest.make_installer_tree(Path(work) / "tree")
    payload = Path(work) / "entry-data"
    with py7zr.SevenZipFile(out, "w") as archive:
        for path in sorted(tree.rglob("*")):
            if path.is_file():
                archive.write(path, str(path.relative_to(tree)))
        for n, (name, data) in enumerate(extra.items()):
            source = payload.with_name(f"entry-data-{n}")
            source.write_bytes(data)
            archive.write(source, name)
    return Path(out)


def installer_entries(work):
    """The stand-in installer's files as entries of a crafted archive (one
    folder), so that a run that extracts them completely can launch it."""
    tree = kvtest.make_installer_tree(Path(work) / "crafted-installer")
    return [sz.Entry(str(path.relative_to(tree)), path.read_bytes(),
                     mode=0o100000 | (path.stat().st_mode & 0o777))
            for path in sorted(tree.rglob("*")) if path.is_file()]


def run_with_installer_archive(launcher, tmp_path, archive):
    jre = kvtest.make_jre_tree(tmp_path / "jre")
    bundle = kvtest.mkbundle(tmp_path / "setup", launcher, installer=archive, jre=jre,
                             version=kvtest.DEFAULT_VERSION)
    target = tmp_path / "place" / "kv"
    target.parent.mkdir(exist_ok=True)
    done = fs.run_install(bundle, target, tmp_path)
    assert done.returncode >= 0 and "Sanitizer" not in done.stderr
    return done, target


ESCAPING = {
    "dotdot": "../x",
    "dotdot-deep": "a/../../x",
    "absolute": "/tmp/kv-battery-abs-x",
    "drive": "C:\\x",
    "drive-relative": "C:x",
    "unc": "\\\\srv\\share\\x",
    "backslash-dotdot": "..\\x",
    "dots-and-spaces": ". ./x",
    # One letter and a colon is a drive-relative name on Windows.
    "x-colon-stream": "x:stream",
}


@pytest.mark.parametrize("case", list(ESCAPING))
def test_entries_that_would_leave_the_target_are_refused(launcher, tmp_path, case):
    # Expected: the entry is refused with a line naming it, the installer
    # block fails with 11 and keeps its lock, nothing appears outside.
    name = ESCAPING[case]
    archive = installer_archive(tmp_path / "i.7z", tmp_path, {name: b"escaped\n"})
    done, target = run_with_installer_archive(launcher, tmp_path, archive)
    assert f"{REFUSED} '{name}'" in done.stdout
    assert "ERROR: Extracting install failed: 11" in done.stderr
    assert (target / ".installerLock").exists()
    assert not (target.parent / "x").exists() and not (tmp_path / "x").exists()
    assert not Path("/tmp/kv-battery-abs-x").exists()
    # (The installer files before the bad entry were written, and the launch
    # goes ahead with them: its record lies beside the target.)
    assert set(os.listdir(target.parent)) <= {"kv", "kv.record"}
    assert not list(tmp_path.rglob("x")), "an escaping entry was written"
    assert not list(tmp_path.rglob("stream")), "an escaping entry was written"


HARMLESS_ON_LINUX = {
    # Windows would make a stream, a device or drop the dot or space; on
    # Linux each is an ordinary name inside the target.
    "stream": "file:stream",
    "device": "CON",
    "device-with-extension": "aux.txt",
    "trailing-dot": "x.",
    "trailing-dots": "y...",
    "trailing-space": "z ",
}


@pytest.mark.parametrize("case", list(HARMLESS_ON_LINUX))
def test_windows_special_names_are_plain_files_on_linux(launcher, tmp_path, case):
    name = HARMLESS_ON_LINUX[case]
    archive = installer_archive(tmp_path / "i.7z", tmp_path, {name: b"plain\n"})
    done, target = run_with_installer_archive(launcher, tmp_path, archive)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (target / name).read_bytes() == b"plain\n"


@pytest.mark.parametrize("case", ["component-300", "path-5000"])
def test_overlong_names_fail_with_11(launcher, tmp_path, case):
    # Expected: the system refuses the name; the output-file line and 11.
    name = "n" * 300 if case == "component-300" else "/".join(["d" * 100] * 50)
    archive = installer_archive(tmp_path / "i.7z", tmp_path, {name: b"long\n"})
    done, target = run_with_installer_archive(launcher, tmp_path, archive)
    assert "Could not open output file '" in done.stdout
    assert "ERROR: Extracting install failed: 11" in done.stderr


def test_symbolic_link_entries_inside_the_target_become_links(launcher, tmp_path):
    # Expected: links stored with -snl whose relative target stays inside
    # are made as links (a runtime's legal/ files), also on a second run.
    tree = kvtest.make_installer_tree(tmp_path / "tree")
    folder = kvtest.installer_dir(tree)
    (folder / "legal" / "base").mkdir(parents=True)
    (folder / "legal" / "base" / "NOTICE").write_text("notice\n")
    (folder / "legal" / "desktop").mkdir()
    os.symlink("../base/NOTICE", folder / "legal" / "desktop" / "NOTICE")
    os.symlink("kvInstaller", folder / "to-installer")
    archive = tmp_path / "links.7z"
    subprocess.run(["7zz", "a", "-bd", "-snl", str(archive), "."], cwd=tree, check=True,
                   capture_output=True)
    for attempt in range(2):
        if attempt:
            (tmp_path / "place" / "kv" / ".installerLock").touch()
        done, target = run_with_installer_archive(launcher, tmp_path, archive)
        assert done.returncode == 0, done.stdout + done.stderr
        linked = kvtest.installer_dir(target) / "legal" / "desktop" / "NOTICE"
        assert os.readlink(linked) == "../base/NOTICE"
        assert linked.read_text() == "notice\n"
        assert os.readlink(kvtest.installer_dir(target) / "to-installer") == "kvInstaller"


def test_entry_names_never_collide_with_the_staging_or_each_other(launcher, tmp_path):
    # Expected (as with 7zz x): every entry gets its own bytes whatever its
    # name or folder; of two entries with one name the later one wins, on
    # every run; names of 250 and 255 bytes work; a user's file that looks
    # like a temporary one stays; nothing of the staging folder is left.
    big = bytes(range(256)) * 8192  # 2 MiB, decoded beside the small folders
    names = {"data.kvpart": b"entry data.kvpart\n", "data": b"entry data\n",
             "x.kvpart": b"entry x.kvpart\n", "x": big, "dup": b"second\n",
             "n" * 250: b"long\n", "deep/" + "m" * 255: b"longest\n", "notes": b"entry notes\n"}
    entries = installer_entries(tmp_path) + [
        sz.Entry("data.kvpart", names["data.kvpart"], new_folder=True),
        sz.Entry("data", names["data"]),
        sz.Entry("x.kvpart", names["x.kvpart"], new_folder=True),
        sz.Entry("x", big, new_folder=True),
        sz.Entry("dup", b"first\n", new_folder=True),
        sz.Entry("dup", names["dup"], new_folder=True),
        sz.Entry("n" * 250, names["n" * 250], new_folder=True),
        sz.Entry("deep/" + "m" * 255, names["deep/" + "m" * 255]),
        sz.Entry("notes", names["notes"], new_folder=True),
    ]
    archive = sz.write_7z(tmp_path / "i.7z", entries)
    for run in range(3):
        target = tmp_path / "place" / "kv"
        shutil.rmtree(target.parent, ignore_errors=True)
        target.mkdir(parents=True)
        (target / "notes.kvpart").write_text("the user's own notes\n")
        done, target = run_with_installer_archive(launcher, tmp_path, archive)
        assert done.returncode == 0, done.stdout + done.stderr
        for name, data in names.items():
            assert (target / name).read_bytes() == data, (run, name[:20])
        assert (target / "notes.kvpart").read_text() == "the user's own notes\n"
        assert not list(target.glob(".kvstage-*"))
        assert (tmp_path / "place" / "kv.record").exists()


UNSAFE_LINKS = {
    "absolute": [sz.link("to-passwd", "/etc/passwd")],
    "climbing": [sz.link("a/up", "../../x")],
    "up-after-a-name": [sz.link("via", "sub/../x")],
    # On Linux "a\\up" is one name in the target itself: nothing to climb.
    "backslash-name": [sz.link("a\\up", "../x")],
    "through-a-link": [sz.link("lnk", "sub"), sz.Entry("lnk/evil", b"evil\n", new_folder=True)],
}


@pytest.mark.parametrize("case", list(UNSAFE_LINKS))
def test_unsafe_symbolic_link_entries_are_refused(launcher, tmp_path, case):
    # Expected: a link pointing outside (or through a ".." that a link on
    # the way could redirect), or a file reached through a link the archive
    # made, is refused with 11; nothing appears outside and no installer runs.
    entries = UNSAFE_LINKS[case]
    archive = sz.write_7z(tmp_path / "i.7z", installer_entries(tmp_path) + entries)
    done, target = run_with_installer_archive(launcher, tmp_path, archive)
    refused = entries[-1].name
    assert f"{REFUSED} '{refused}'" in done.stdout, done.stdout
    assert "ERROR: Extracting install failed: 11" in done.stderr
    assert done.returncode == 1 and "Launching installer..." not in done.stdout
    assert not os.path.lexists(target / refused)
    assert not (target / "sub").exists() and not (tmp_path / "x").exists()
    assert not list(target.glob(".kvstage-*"))


@pytest.mark.parametrize("where", ["folder", "file"])
def test_no_file_is_written_through_a_link_in_the_target(launcher, tmp_path, where):
    # Expected: a link planted in the install directory is never followed.
    # A folder on the way that is a link refuses the entry with 11; a link
    # in the file's own place (an earlier version's link entry) is replaced
    # by the file, as tar and 7zz do. The link's target stays untouched.
    outside = tmp_path / "outside"
    outside.mkdir()
    victim = outside / "victim"
    victim.write_text("untouched\n")
    target = tmp_path / "place" / "kv"
    folder = kvtest.installer_dir(target)
    if where == "folder":
        target.mkdir(parents=True)
        os.symlink(outside, target / "maintenance")
    else:
        folder.mkdir(parents=True)
        os.symlink(victim, folder / "kvInstaller")
    jre = kvtest.make_jre_tree(tmp_path / "jre")
    installer = kvtest.make_installer_tree(tmp_path / "installer")
    bundle = kvtest.mkbundle(tmp_path / "setup", launcher, installer=installer, jre=jre,
                             version=kvtest.DEFAULT_VERSION)
    done = fs.run_install(bundle, target, tmp_path)
    if where == "folder":
        assert REFUSED in done.stdout
        assert "failed: 11" in done.stderr
    else:
        assert done.returncode == 0, done.stdout + done.stderr
        placed = folder / "kvInstaller"
        assert not placed.is_symlink()
        assert placed.read_bytes() == (kvtest.installer_dir(installer) / "kvInstaller").read_bytes()
    assert sorted(os.listdir(outside)) == ["victim"]
    assert victim.read_text() == "untouched\n"


# ---- a decompression bomb ----------------------------------------------------

def _number(value):
    """A 7z NUMBER in its 9-byte form."""
    return b"\xff" + struct.pack("<Q", value)


def bomb(out, work, declared):
    """A one-file LZMA archive (plain header) whose folder claims to unpack
    to `declared` bytes; the start header's sizes and CRCs are fixed up."""
    src = Path(work) / "bomb-src"
    src.mkdir()
    (src / "bomb.bin").write_bytes(b"B" * 16)
    plain = Path(work) / "plain.7z"
    subprocess.run(["7zz", "a", "-bd", "-m0=LZMA", "-mhc=off", str(plain), "bomb.bin"],
                   cwd=src, check=True, capture_output=True)
    data = bytearray(plain.read_bytes())
    offset, size = struct.unpack_from("<QQ", data, 12)
    header = bytes(data[32 + offset:32 + offset + size])
    at = header.index(b"\x0c\x10\x00", header.index(b"\x0b"))  # CodersUnpackSize 16
    header = header[:at + 1] + _number(declared) + header[at + 2:]
    start = struct.pack("<QQI", offset, len(header), zlib.crc32(header))
    blob = bytes(data[:8]) + struct.pack("<I", zlib.crc32(start)) + start
    blob += bytes(data[32:32 + offset]) + header
    Path(out).write_bytes(blob)
    return Path(out)


@pytest.mark.parametrize("declared", [1 << 31, 1 << 40, (1 << 64) - 1],
                         ids=["2GiB", "1TiB", "2^64-1"])
def test_decompression_bomb_with_huge_declared_size(launcher, tmp_path, declared):
    # Expected: the decoder's error code (out of memory or bad data), no
    # huge file, no crash; the lock file stays.
    archive = bomb(tmp_path / "bomb.7z", tmp_path, declared)
    done, target = run_with_installer_archive(launcher, tmp_path, archive)
    lines = [l for l in done.stderr.splitlines() if l.startswith("ERROR: Extracting install failed: ")]
    assert lines, done.stdout + done.stderr
    code = int(lines[0].rsplit(" ", 1)[1])
    assert code in (1, 2, 16), code
    assert (target / ".installerLock").exists()
    total = sum(f.stat().st_size for f in target.rglob("*") if f.is_file() and not f.is_symlink())
    assert total < 10 << 20


def test_header_declaring_millions_of_empty_files_never_aborts(launcher, tmp_path):
    # Expected: a header declaring millions of nameless empty files (two bit
    # vectors: 4 MiB for 2^24 files under a 700 MB address-space limit; for
    # the i386 launcher, whose qemu-user needs the whole 4 GiB, 16 MiB for
    # 2^26 files) gets no tables bigger than a small multiple of itself:
    # code 2, never an abort; no installer runs.
    i386 = launcher.name == "setup_linux"
    archive = sz.write_empty_files_7z(tmp_path / "p.7z", 1 << (26 if i386 else 24))
    bundle = fs.small_bundle(tmp_path / "setup", launcher, tmp_path,
                             extra_blocks=[("p", archive.read_bytes())])
    limit = 700000 * 1024

    def limit_memory():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

    target = tmp_path / "kv"
    done = kvtest.run_launcher(bundle, fs.install_args(target), home=tmp_path,
                               preexec_fn=None if i386 else limit_memory, timeout=300)
    assert done.returncode == 1, (done.returncode, done.stdout[-300:], done.stderr[-300:])
    code = int(done.stderr.split("ERROR: Extracting payload failed: ")[1].split()[0])
    assert code == 2, done.stdout + done.stderr
    assert "Launching installer..." not in done.stdout


def test_huge_entry_name_never_aborts_whatever_the_memory(launcher, tmp_path):
    # Expected: an entry name of 10 M characters (a 20 MB name table) is
    # never copied whole: under any address-space limit the run ends with
    # code 2 (the tables do not fit) or 11 (no host takes such a name),
    # never an abort, and no line carries the whole name.
    if launcher.name == "setup_linux":
        pytest.skip("qemu-user needs the whole 4 GiB address space")
    archive = sz.write_7z(tmp_path / "p.7z", [sz.Entry("a" * 10_000_000, b"x")])
    bundle = fs.small_bundle(tmp_path / "setup", launcher, tmp_path,
                             extra_blocks=[("p", archive.read_bytes())])
    for limit in range(60 << 20, 140 << 20, 10 << 20):
        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        done = kvtest.run_launcher(bundle, fs.install_args(tmp_path / "kv"), home=tmp_path,
                                   preexec_fn=limit_memory, timeout=300)
        assert done.returncode == 1, (limit >> 20, done.returncode, done.stderr[-300:])
        code = int(done.stderr.split("ERROR: Extracting payload failed: ")[1].split()[0])
        assert code in (2, 11) and len(done.stdout) < 100_000, (limit >> 20, code)
        assert "Launching installer..." not in done.stdout
