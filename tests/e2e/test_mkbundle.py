"""mkbundle end to end: builds bundles from directories and files, lists them
back, extracts the archives with 7zz and checks that bad inputs fail cleanly."""
import hashlib
import os
import random
import shutil
import stat
import struct
import subprocess
from pathlib import Path

import pytest
from sevenzip_writer import Entry, link, lzma2_chunks, write_7z

REPO = Path(__file__).resolve().parents[2]
MKBUNDLE = os.environ.get("KV_MKBUNDLE") or str(REPO / "dist" / "mkbundle")
LAUNCHER = Path(os.environ.get("KV_DIST") or REPO / "dist") / "setup_linux64"

pytestmark = pytest.mark.skipif(not os.access(MKBUNDLE, os.X_OK) or not LAUNCHER.is_file(),
                                reason=f"mkbundle or {LAUNCHER} not built; set KV_MKBUNDLE, KV_DIST")


VERSION = "2.7.3.271REL03"
VERSION_ARGS = ["--version", VERSION, "--name", "Korvane Installer",
                "--id", "com.korvane.p2.installer.ui.product"]
PLATFORM_DIR = Path("maintenance") / "kvInstaller" / "x86-linux2"


def pe_image(size=512, kind="Windows launcher"):
    """A stand-in PE image: headers, data directories (none used) and the
    launcher mark's section, as mkbundle reads them."""
    image = bytearray(size)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<HH", image, 0x80 + 4, 0x14C, 1)  # i386, one section
    struct.pack_into("<H", image, 0x80 + 20, 224)  # the optional header's size
    struct.pack_into("<I", image, 0x80 + 24 + 92, 16)
    mark = f"kvLauncherMark/{kind}/1.1.0".encode() + b"\0"
    table = 0x80 + 24 + 224
    image[table:table + 8] = b".kvmark\0"
    struct.pack_into("<IIII", image, table + 8, len(mark), 0x1000, len(mark), 0x1C0)
    image[0x1C0:0x1C0 + len(mark)] = mark
    return image


def run(*args, cwd=None, env=None):
    return subprocess.run([MKBUNDLE, *map(str, args)], capture_output=True, text=True, cwd=cwd,
                          env=env)


def unescape(quoted):
    assert quoted.startswith('"') and quoted.endswith('"'), quoted
    out, i, body = bytearray(), 0, quoted[1:-1]
    simple = {"\\": b"\\", '"': b'"', "n": b"\n", "r": b"\r", "t": b"\t"}
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode()
            i += 1
        elif body[i + 1] == "x":
            out.append(int(body[i + 2:i + 4], 16))
            i += 4
        else:
            out += simple[body[i + 1]]
            i += 2
    return out.decode("latin-1")


def listing(path):
    """[(tag, offset, length, text or None)] as mkbundle --list prints them."""
    result = run("--list", path)
    assert result.returncode == 0, result.stderr
    blocks = []
    for line in result.stdout.splitlines():
        parts = line.split(" ", 3)
        text = unescape(parts[3]) if len(parts) == 4 else None
        blocks.append((parts[0], int(parts[1]), int(parts[2]), text))
    return blocks


def footers(data):
    """The chain read backwards from the end of `data`, as the launcher does."""
    chain, end = [], len(data) - 8
    while end >= 0 and data[end + 4:end + 7] == b"kvi":
        start = struct.unpack_from("<I", data, end)[0]
        assert start <= end
        chain.append((chr(data[end + 7]), start, end))
        if start < 8:
            break
        end = start - 8
    return list(reversed(chain))


def tree(root):
    """{relative path: bytes or None for directories} below root."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames:
            found[os.path.relpath(os.path.join(dirpath, name), root)] = None
        for name in filenames:
            path = os.path.join(dirpath, name)
            found[os.path.relpath(path, root)] = Path(path).read_bytes()
    return found


@pytest.fixture
def work(tmp_path):
    launcher = tmp_path / "launcher"
    shutil.copy(LAUNCHER, launcher)
    os.chmod(launcher, 0o755)
    inst = tmp_path / "inst"
    (inst / PLATFORM_DIR).mkdir(parents=True)
    (inst / PLATFORM_DIR / "kvInstaller").write_bytes(b"#!/bin/sh\necho installer\n")
    (inst / PLATFORM_DIR / "kvInstaller").chmod(0o755)
    (inst / PLATFORM_DIR / ".eclipseproduct").write_text(f"name=K\nversion={VERSION}\n")
    (inst / "maintenance" / "kvInstaller" / "configuration").mkdir()
    (inst / "maintenance" / "kvInstaller" / "empty").mkdir()
    (inst / "maintenance" / "kvInstaller" / "configuration" / "config.ini").write_bytes(
        os.urandom(3000))
    (inst / ".hidden").write_bytes(b"dot file")
    (inst / "-dash name.txt").write_bytes(b"dash")
    (inst / "star*name?.txt").write_bytes(b"wild")
    jre = tmp_path / "jre"
    (jre / PLATFORM_DIR / "jre" / "1.8.0_40" / "bin").mkdir(parents=True)
    (jre / PLATFORM_DIR / "jre" / "1.8.0_40" / "COPYRIGHT").write_bytes(b"runtime")
    (jre / PLATFORM_DIR / "jre" / "1.8.0_40" / "bin" / "java").write_bytes(bytes(range(256)) * 40)
    logo = tmp_path / "logo.png"
    logo.write_bytes(b"\x89PNG\r\n\x1a\n" + b"L" * 37)
    return tmp_path, launcher, inst, jre, logo


def test_bundle_from_directories_lists_back_exactly(work):
    tmp, launcher, inst, jre, logo = work
    out = tmp / "setup_linux"
    result = run("-o", out, "--launcher", launcher, "--logo", logo, *VERSION_ARGS,
                 "--installer", inst, "--jre", jre, "--release", "KVINSTALLER_2_7_1_REL03",
                 "--arg", "-silent", "--arg", 'say "hi"\there', "--block", "x:" + str(logo))
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    # The closing line says what was written, on what, and that both
    # archives were test-decoded; a log gets no terminal control bytes.
    assert result.stderr.splitlines()[-1] == (
        f"mkbundle: wrote {out} ({len(data) / 1e6:.1f} MB): Linux x86-64 launcher 1.1.0, "
        "2 archives checked")
    assert "\b" not in result.stderr and "\r" not in result.stderr
    image = launcher.read_bytes()
    assert data.startswith(image)
    assert len(data) % 8 == 0
    assert stat.S_IMODE(out.stat().st_mode) == 0o755
    assert not [p for p in tmp.iterdir() if ".tmp-" in p.name]

    blocks = listing(out)
    assert [b[0] for b in blocks] == ["l", "v", "i", "j", "r", "a", "a", "x"]
    assert blocks[0][1] == (len(image) + 7) // 8 * 8
    for (tag, offset, length, _), (ftag, fstart, fend) in zip(blocks, footers(data)):
        assert (tag, offset, length) == (ftag, fstart, fend - fstart)
        assert offset % 8 == 0 and length % 8 == 0
    for earlier, later in zip(blocks, blocks[1:]):
        assert later[1] == earlier[1] + earlier[2] + 8
    assert blocks[-1][1] + blocks[-1][2] + 8 == len(data)

    texts = {i: b[3] for i, b in enumerate(blocks)}
    assert texts[1] == ("version=2.7.3.271REL03; name=Korvane Installer; "
                        "id=com.korvane.p2.installer.ui.product")
    assert texts[4] == "KVINSTALLER_2_7_1_REL03"
    assert texts[5] == "-silent" and texts[6] == 'say "hi"\there'
    assert texts[0] is None and texts[2] is None

    v = blocks[1]
    assert data[v[1]:v[1] + v[2]].rstrip(b"\0") == (
        b"version=2.7.3.271REL03\nname=Korvane Installer\nid=com.korvane.p2.installer.ui.product\n")
    r = blocks[4]
    assert data[r[1]:r[1] + r[2]] == b"KVINSTALLER_2_7_1_REL03\0".ljust(r[2], b"\0")
    logo_block = blocks[0]
    assert data[logo_block[1]:logo_block[1] + logo_block[2]] == logo.read_bytes().ljust(48, b"\0")

    # The archives extract to the source trees, byte for byte, with entries
    # relative to the directory; folders come only as parents of files.
    for index, source in ((2, inst), (3, jre)):
        tag, offset, length, _ = blocks[index]
        archive = tmp / f"{tag}.7z"
        archive.write_bytes(data[offset:offset + length])
        names = subprocess.run(["7zz", "l", "-slt", archive], capture_output=True,
                               text=True, check=True).stdout
        paths = [line[7:] for line in names.splitlines() if line.startswith("Path = ")][1:]
        assert paths and not [p for p in paths if p.startswith(("./", "/", "../"))]
        target = tmp / f"x_{tag}"
        subprocess.run(["7zz", "x", "-bd", "-y", f"-o{target}", archive],
                       capture_output=True, check=True)
        files = {k: v for k, v in tree(source).items() if v is not None}
        assert {k: v for k, v in tree(target).items() if v is not None} == files
    assert "1 empty folder" in result.stderr


def lzma2_dictionary_resets(data, pos):
    """Unpacked offsets where the LZMA2 stream at `pos` starts its
    dictionary afresh (the blocks that decode independently)."""
    resets, unpacked = [], 0
    while data[pos] != 0:
        control = data[pos]
        if control in (1, 2):
            size = (data[pos + 1] << 8 | data[pos + 2]) + 1
            packed = 3 + size
        else:
            size = ((control & 0x1F) << 16 | data[pos + 1] << 8 | data[pos + 2]) + 1
            packed = (data[pos + 3] << 8 | data[pos + 4]) + 1 + (6 if control >= 0xC0 else 5)
        if control == 1 or control >= 0xE0:
            resets.append(unpacked)
        unpacked += size
        pos += packed
    return resets


def test_default_archive_has_independent_blocks(work):
    # The launcher decodes one block per processor, also inside one large
    # file: an 8 MB dictionary started afresh every 8 MB.
    tmp, launcher, inst, _, _ = work
    rng = random.Random(7)
    words = [("%x" % rng.getrandbits(40)).encode() for _ in range(5000)]
    jre = tmp / "big"
    jre.mkdir()
    for name in ("a.bin", "b.bin"):
        (jre / name).write_bytes(b" ".join(rng.choice(words) for _ in range(900_000)))
    out = tmp / "setup_linux"
    result = run("-o", out, "--launcher", launcher, *VERSION_ARGS, "--installer", inst,
                 "--jre", jre)
    assert result.returncode == 0, result.stderr
    [(_, offset, length, _)] = [b for b in listing(out) if b[0] == "j"]
    archive = tmp / "j.7z"
    archive.write_bytes(out.read_bytes()[offset:offset + length])
    slt = subprocess.run(["7zz", "l", "-slt", archive], capture_output=True, text=True,
                         check=True).stdout
    methods = {line[9:] for line in slt.splitlines() if line.startswith("Method = ") and line[9:]}
    assert methods == {"LZMA2:23"}, methods
    blocks = {line[8:] for line in slt.splitlines() if line.startswith("Block = ") and line[8:]}
    assert blocks == {"0"}, blocks
    # The one folder's packed stream follows the 32-byte signature header.
    assert lzma2_dictionary_resets(archive.read_bytes(), 32) == [0, 8 << 20, 16 << 20]


def test_windows_order_and_ready_archives(work):
    tmp, launcher, inst, jre, _ = work
    archive = tmp / "payload.7z"
    subprocess.run(["7zz", "a", "-bd", "-bso0", archive, str(next(jre.rglob("java")))], check=True)
    version = tmp / "version.txt"
    version.write_bytes(b"version=1.0.0.1\nname=N\nid=I\n")
    out = tmp / "setup.exe"
    launcher.write_bytes(pe_image())
    result = run("--windows", "--unchecked", "-o", out, "--launcher", launcher,
                 "--version-file", version, "--installer", inst, "--jre", archive,
                 "--release", "R1", "--payload", archive, "--method", "Copy")
    assert result.returncode == 0, result.stderr
    blocks = listing(out)
    assert [b[0] for b in blocks] == ["v", "i", "j", "r", "p"]
    assert blocks[0][3] == "version=1.0.0.1; name=N; id=I"
    data = out.read_bytes()
    j = blocks[2]
    assert data[j[1]:j[1] + j[2]].rstrip(b"\0") == archive.read_bytes().rstrip(b"\0")


def test_signed_pe_lists_up_to_its_certificate_table(tmp_path):
    # A PE image whose data directory 4 names a table of 6456 bytes, then a
    # bundle, then the table: --list finds the bundle before the table.
    image = pe_image()
    opt = 0x80 + 24
    struct.pack_into("<II", image, opt + 96 + 8 * 4, 0, 0)
    unsigned = tmp_path / "setup_unsigned.exe"
    unsigned.write_bytes(bytes(image))
    out = tmp_path / "setup.exe"
    result = run("--windows", "--unchecked", "-o", out, "--launcher", unsigned,
                 "--version", "1.2.3.4", "--release", "REL_9")
    assert result.returncode == 0, result.stderr
    data = bytearray(out.read_bytes())
    struct.pack_into("<II", data, opt + 96 + 8 * 4, len(data), 6456)
    data += b"\xcc" * 6456
    signed = tmp_path / "signed.exe"
    signed.write_bytes(bytes(data))
    assert [(b[0], b[3]) for b in listing(signed)] == [("v", "version=1.2.3.4"), ("r", "REL_9")]
    # A signed launcher cannot be bundled again: the bundle must precede the table.
    again = run("-o", tmp_path / "again.exe", "--launcher", signed, "--release", "X")
    assert again.returncode != 0 and "signed" in again.stderr
    assert not (tmp_path / "again.exe").exists()


def test_list_without_bundle_exits_1(tmp_path):
    plain = tmp_path / "plain"
    shutil.copy("/bin/true", plain)
    result = run("--list", plain)
    assert result.returncode == 1
    assert "no bundle" in result.stdout
    tiny = tmp_path / "tiny"
    tiny.write_bytes(b"kvi")
    assert run("--list", tiny).returncode == 1
    missing = run("--list", tmp_path / "missing")
    assert missing.returncode != 0 and missing.stderr.startswith("mkbundle: ")


def leftovers(folder, before):
    return sorted(set(os.listdir(folder)) - before)


@pytest.mark.parametrize("case", ["missing launcher", "missing dir", "unreadable dir",
                                  "bad block tag", "long block tag", "missing -o",
                                  "missing block file", "not a 7z", "bundled launcher",
                                  "unknown option", "name without version", "other program",
                                  "mkbundle as launcher", "launcher of the other platform"])
def test_bad_inputs_fail_cleanly(work, case):
    tmp, launcher, inst, jre, logo = work
    out = tmp / "out"
    args = ["-o", out, "--launcher", launcher, "--version", "1.0.0.0", "--installer", inst]
    if case == "missing launcher":
        args[3] = tmp / "no-such-launcher"
    elif case == "missing dir":
        args[-1] = tmp / "no-such-dir"
    elif case == "unreadable dir":
        if os.geteuid() == 0:
            pytest.skip("root reads every directory")
        locked = tmp / "locked"
        locked.mkdir()
        (locked / "f").write_bytes(b"x")
        os.chmod(locked, 0)
        args[-1] = locked
    elif case == "bad block tag":
        args += ["--block", "" + ":" + str(logo)]
    elif case == "long block tag":
        args += ["--block", "ab:" + str(logo)]
    elif case == "missing -o":
        args = args[2:]
    elif case == "missing block file":
        args += ["--block", "q:" + str(tmp / "nothing")]
    elif case == "not a 7z":
        args += ["--jre", logo]
    elif case == "bundled launcher":
        assert run("-o", tmp / "first", "--launcher", launcher, "--release", "R",
                   "--unchecked").returncode == 0
        args[3] = tmp / "first"
    elif case == "unknown option":
        args += ["--frobnicate"]
    elif case == "name without version":
        args = ["-o", out, "--launcher", launcher, "--name", "N"]
    elif case in ("other program", "mkbundle as launcher"):
        args[3] = "/bin/ls" if case == "other program" else MKBUNDLE
    elif case == "launcher of the other platform":
        args += ["--windows"]
    before = set(os.listdir(tmp))
    result = run(*args)
    if case == "unreadable dir":
        os.chmod(tmp / "locked", 0o755)
    assert result.returncode != 0
    assert result.stderr.startswith("mkbundle: "), result.stderr
    if case in ("other program", "mkbundle as launcher"):
        assert f"'{args[3]}' is not a kvlauncher launcher" in result.stderr, result.stderr
    if case == "launcher of the other platform":
        assert "is a Linux program: drop --windows" in result.stderr, result.stderr
    assert not out.exists()
    assert leftovers(tmp, before) == []


def test_output_replaced_only_when_complete(work):
    tmp, launcher, inst, _, _ = work
    out = tmp / "out"
    out.write_bytes(b"previous")
    out.chmod(0o600)
    result = run("-o", out, "--launcher", launcher, "--installer", tmp / "absent", "--force")
    assert result.returncode != 0
    assert out.read_bytes() == b"previous"
    # An existing file that is not a bundle is kept unless --force is given.
    result = run("-o", out, "--launcher", launcher, "--installer", inst, "--unchecked")
    assert result.returncode == 1 and f"'{out}'" in result.stderr and "--force" in result.stderr
    assert out.read_bytes() == b"previous" and stat.S_IMODE(out.stat().st_mode) == 0o600
    result = run("-o", out, "--launcher", launcher, "--installer", inst, "--unchecked", "--force")
    assert result.returncode == 0, result.stderr
    assert [b[0] for b in listing(out)] == ["i"]
    # A bundle is replaced without --force.
    result = run("-o", out, "--launcher", launcher, "--release", "R2", "--unchecked")
    assert result.returncode == 0, result.stderr
    assert [b[0] for b in listing(out)] == ["r"]
    # Not even --force replaces an input.
    given = tmp / "given.7z"
    subprocess.run(["7zz", "a", "-bd", "-bso0", given, "."], cwd=inst, check=True)
    for flag, path in (("--launcher", launcher), ("--installer", given)):
        before = path.read_bytes()
        result = run("-o", path, "--launcher", launcher, "--installer", given, "--unchecked",
                     "--force")
        assert result.returncode == 1 and f"is the {flag} input" in result.stderr, result.stderr
        assert path.read_bytes() == before


def test_help_documents_list_format():
    result = run("--help")
    assert result.returncode == 0
    assert "TAG OFFSET LENGTH" in result.stdout


def test_output_of_4_gib_is_refused_before_writing(work):
    tmp, launcher, _, _, _ = work
    big = tmp / "big.bin"
    with open(big, "wb") as f:
        f.truncate(4 << 30)  # sparse: nothing is read before the refusal
    out = tmp / "out"
    before = set(os.listdir(tmp))
    result = run("-o", out, "--launcher", launcher, "--block", "q:" + str(big), "--unchecked")
    assert result.returncode != 0
    assert "4 GiB" in result.stderr
    assert leftovers(tmp, before) == []


def build(tmp, launcher, inst, jre, *extra, out=None, env=None):
    out = out or tmp / "out"
    return out, run("-o", out, "--launcher", launcher, *VERSION_ARGS, "--installer", inst,
                    "--jre", jre, *extra, env=env)


def refused(result, out, *phrases):
    assert result.returncode == 1, result.stderr
    for phrase in phrases:
        assert phrase in result.stderr, (phrase, result.stderr)
    assert not out.exists()


@pytest.mark.parametrize("case", ["platform folder given", "no kvInstaller", "mode 644",
                                  "windows tree", "no .eclipseproduct", "no version line",
                                  "NUL before version",
                                  "other version", "version format", "no name and id",
                                  "nothing but -o", "text logo", "windows launcher kind",
                                  "logo on windows", "raw v block", "output inside a tree",
                                  "lock file", "payload over the version file",
                                  "script without #!", "CRLF script"])
def test_broken_layouts_are_refused_before_compressing(work, case):
    tmp, launcher, inst, jre, logo = work
    program = inst / PLATFORM_DIR / "kvInstaller"
    product = inst / PLATFORM_DIR / ".eclipseproduct"
    pe = tmp / "setup.exe"
    pe.write_bytes(pe_image())
    args, phrases = None, []
    if case == "platform folder given":
        inst, phrases = inst / PLATFORM_DIR, ["'kvInstaller'", "folder that holds 'maintenance'"]
    elif case == "no kvInstaller":
        program.unlink()
        phrases = ["no 'maintenance/kvInstaller/x86-linux2/kvInstaller'"]
    elif case == "mode 644":
        program.chmod(0o644)
        phrases = ["mode 644", "executable"]
    elif case in ("script without #!", "CRLF script"):
        # execv cannot start either: the launcher says only "Launching failed".
        program.write_bytes(b"#!/bin/sh\r\necho hi\r\n" if case == "CRLF script" else b"echo hi\n")
        phrases = ["ending in a carriage return" if case == "CRLF script"
                   else "neither an ELF program nor a script starting with \"#!\""]
    elif case == "windows tree":
        (inst / PLATFORM_DIR).rename(inst / "maintenance" / "kvInstaller" / "x86-win32")
        phrases = ["x86-win32", "Windows launcher"]
    elif case == "no .eclipseproduct":
        product.unlink()
        phrases = [".eclipseproduct", "again on every run"]
    elif case in ("no version line", "NUL before version"):
        # The launcher reads only the first 1024 bytes, and a NUL byte ends them.
        gap = " " * 1030 if case == "no version line" else "\0"
        product.write_text(f"name=K\n{gap}\nversion={VERSION}\n")
        phrases = ["no 'version=' line"]
    elif case == "other version":
        product.write_text("version=2.7.4.271REL03\n")
        phrases = ["says version '2.7.4.271REL03'", f"'{VERSION}'", "never install"]
    elif case == "version format":
        args = ["--version", "2.7", "--name", "N", "--id", "I", "--installer", inst, "--jre", jre]
        phrases = ["'2.7' is not MAJOR.MINOR.MICRO.QUALIFIER"]
    elif case == "no name and id":
        args = ["--version", VERSION, "--installer", inst, "--jre", jre]
        phrases = ["no 'name=' line", "no 'id=' line"]
    elif case == "nothing but -o":
        args = []
        phrases = ["no version block", "no installer archive", "no Java runtime archive"]
    elif case == "text logo":
        text = tmp / "logo.txt"
        text.write_text("not a picture")
        args = [*VERSION_ARGS, "--installer", inst, "--jre", jre, "--logo", text]
        phrases = [f"logo '{text}': not a PNG"]
    elif case == "windows launcher kind":
        launcher, phrases = pe, ["Windows program: add --windows"]
    elif case == "logo on windows":
        args = ["--windows", *VERSION_ARGS, "--installer", inst, "--jre", jre, "--logo", logo]
        launcher, phrases = pe, ["--logo is for the Linux launcher"]
    elif case == "lock file":
        (inst / ".installerLock").write_text("")
        phrases = ["lock file '.installerLock'; every run would extract again"]
    elif case == "payload over the version file":
        # The payload is extracted first and on every run: every other run
        # would find its version and extract the installer again.
        pay = tmp / "pay"
        (pay / PLATFORM_DIR).mkdir(parents=True)
        (pay / PLATFORM_DIR / ".eclipseproduct").write_text("version=1.0.0.old\n")
        args = [*VERSION_ARGS, "--installer", inst, "--jre", jre, "--payload", pay]
        phrases = [f"payload '{pay}': holds 'maintenance/kvInstaller/x86-linux2/.eclipseproduct'"]
    elif case == "raw v block":
        args = [*VERSION_ARGS, "--installer", inst, "--jre", jre, "--block", f"v:{logo}"]
        phrases = ["the launcher reads 'v' blocks"]
    out = tmp / "out"
    if case == "output inside a tree":
        out = jre / "setup"
        args = [*VERSION_ARGS, "--installer", inst, "--jre", jre]
        phrases = [f"output '{out}' lies inside the runtime '{jre}'"]
    if args is None:
        _, result = build(tmp, launcher, inst, jre)
    else:
        result = run("-o", out, "--launcher", launcher, *args)
    if case == "logo on windows":
        assert result.returncode == 2 and phrases[0] in result.stderr
        return
    refused(result, out, *phrases)
    assert "archiving" not in result.stderr  # nothing was compressed


@pytest.mark.parametrize("case", ["BZip2 method", "Deflate archive", "password", "hidden header",
                                  "absolute link", "escaping link", "dangling link",
                                  "link leaving the folder", "fifo", "link at an absolute path",
                                  "damage after an empty stream"])
def test_archives_the_launcher_cannot_decode_are_refused(work, case):
    tmp, launcher, inst, jre, _ = work
    extra, given = [], None
    if case == "BZip2 method":
        extra, phrases = ["--method", "BZip2"], ["--method 'BZip2'"]
    elif case in ("Deflate archive", "password", "hidden header"):
        switches = {"Deflate archive": ["-m0=Deflate"], "password": ["-psecret"],
                    "hidden header": ["-psecret", "-mhe"]}[case]
        given = tmp / "given.7z"
        subprocess.run(["7zz", "a", "-bd", "-bso0", *switches, given, "."], cwd=jre, check=True)
        phrases = {"Deflate archive": ["it uses Deflate"], "password": ["encrypted"],
                   "hidden header": ["encrypted header"]}[case]
    elif case in ("absolute link", "escaping link"):
        os.symlink("/etc/passwd" if case == "absolute link" else "../../../outside",
                   jre / "maintenance" / "link")
        given = tmp / "given.7z"
        subprocess.run(["7zz", "a", "-bd", "-bso0", "-snl", given, "."], cwd=jre, check=True)
        phrases = ["link 'maintenance/link'", "does not stay inside the install directory"]
    elif case == "dangling link":
        os.symlink("missing.zip", jre / "src.zip")
        phrases = [f"dangling link '{jre}/src.zip' -> 'missing.zip'"]
    elif case == "link leaving the folder":
        os.symlink("../inst", jre / "up")
        phrases = [f"link '{jre}/up' -> '../inst' leaves the folder"]
    elif case == "fifo":
        os.mkfifo(jre / "pipe")
        phrases = [f"'{jre}/pipe' is neither a file"]
    elif case == "link at an absolute path":
        given = write_7z(tmp / "given.7z", [link("/l", ".")])
        phrases = ["entry '/l' would leave", "link '/l' -> '.' does not stay inside"]
    elif case == "damage after an empty stream":
        # The first step of bytes ends with 'a': the damage lies in 'e' or after.
        first = bytes(range(256)) * 1024
        given = write_7z(tmp / "given.7z", [Entry("a", first), Entry("e", stream=True),
                                            Entry("b", b"b" * 1000)], lzma2=True)
        data = bytearray(given.read_bytes())
        data[32 + len(lzma2_chunks(first))] = 0x05  # no chunk starts so
        given.write_bytes(bytes(data))
        phrases = ["damaged data in solid block 0, in 'e' or a later file up to 'b'"]
    out, result = build(tmp, launcher, inst, given or jre, *extra)
    refused(result, out, *phrases)
    if given is None:  # folders fail before anything is compressed
        assert "archiving" not in result.stderr


DECODED = ("Copy, LZMA, LZMA2 and PPMd, with the filters BCJ, BCJ2, ARM, ARMT, ARM64, PPC, "
           "IA64, SPARC, RISCV and Delta")
FIXES = {
    # case: (version file bytes or --method value, exit status, phrases)
    "BOM": (b"\xef\xbb\xbfversion=2.7.3.271REL03\nname=K\nid=I\n", 1,
            ["no 'version=' line (the file starts with a UTF-8 byte-order mark",
             "save the file without it"]),
    "spaces around =": (b"version = 2.7.3.271REL03\nname=K\nid = I\n", 1,
                        ["no 'version=' line (the line has spaces around '='",
                         "no 'id=' line (the line has spaces around '='"]),
    "space after =": (b"version= 2.7.3.271REL03\nname=K\nid=I\n", 1,
                      ["remove the spaces after '='"]),
    "method with a switch": ("Deflate -p123", 2,
                             ["bad --method 'Deflate -p123': a method is one word without "
                              "spaces, such as LZMA2"]),
    "method not decoded": ("Deflate", 1,
                           [f"--method 'Deflate': the launcher cannot decode it; it decodes "
                            f"{DECODED} (give one"]),
    "archive not decoded": ("-m0=Deflate", 1, [f"which the launcher cannot decode (it decodes "
                                               f"{DECODED})"]),
}


@pytest.mark.parametrize("case", list(FIXES))
def test_refusals_say_how_to_fix(work, case):
    tmp, launcher, inst, jre, _ = work
    given, status, phrases = FIXES[case]
    out = tmp / "out"
    if isinstance(given, bytes):
        version = tmp / "version.txt"
        version.write_bytes(given)
        result = run("-o", out, "--launcher", launcher, "--version-file", version,
                     "--installer", inst, "--jre", jre)
    elif given.startswith("-m0="):
        archive = tmp / "given.7z"
        subprocess.run(["7zz", "a", "-bd", "-bso0", given, archive, "."], cwd=jre, check=True)
        out, result = build(tmp, launcher, inst, archive)
    else:
        out, result = build(tmp, launcher, inst, jre, "--method", given)
    assert result.returncode == status, result.stderr
    for phrase in phrases:
        assert phrase in result.stderr, (phrase, result.stderr)
    assert not out.exists()


def test_warnings_say_what_they_cost_and_build(work):
    tmp, launcher, inst, _, _ = work
    jre = tmp / "plain-jre"
    (jre / "legal" / "java.base").mkdir(parents=True)
    (jre / "bin").mkdir()
    (jre / "bin" / "java").write_bytes(b"\x7fELF" + bytes(5000))
    out, result = build(tmp, launcher, inst, jre)
    assert result.returncode == 0, result.stderr
    assert ("no runtime marker 'maintenance/kvInstaller/x86-linux2/jre/1.8.0_40/COPYRIGHT'"
            in result.stderr and "every installer upgrade extracts the runtime again"
            in result.stderr)
    # It says what to do, and what the marker means for later bundles.
    assert "To extract it once, put the runtime's COPYRIGHT file at that path" in result.stderr
    assert "never replaced by a later bundle" in result.stderr
    assert f"runtime '{jre}': 1 empty folder(s)" in result.stderr
    assert out.exists()


def test_linked_installer_program_runs_after_a_real_install(work):
    tmp, _, inst, jre, _ = work
    launcher = Path(os.environ.get("KV_DIST") or REPO / "dist") / "setup_linux64"
    if not os.access(launcher, os.X_OK):
        pytest.skip(f"{launcher} not built")
    program = inst / PLATFORM_DIR / "kvInstaller"
    program.rename(inst / PLATFORM_DIR / "run.sh")
    os.symlink("run.sh", program)
    # CRLF lines and a blank after the version: the launcher reads it all the same.
    version = tmp / "version.properties"
    version.write_bytes(f"name=K\r\nid=k\r\nversion={VERSION} \r".encode())
    out = tmp / "out"
    result = run("-o", out, "--launcher", launcher, "--version-file", version,
                 "--installer", inst, "--jre", jre)
    assert result.returncode == 0, result.stderr
    assert run("--verify", out).returncode == 0
    for extracted in (True, False):
        ran = subprocess.run([out, "-silent", "-installPath", tmp / "site"], capture_output=True,
                             text=True, env={"PATH": "/usr/bin:/bin", "HOME": str(tmp)})
        assert ran.returncode == 0 and "installer" in ran.stdout.splitlines(), ran.stdout
        assert ("Extracting Installer..." in ran.stdout) == extracted, ran.stdout


def block_of(data, tag):
    [(start, end)] = [(s, e) for t, s, e in footers(data) if t == tag]
    return start, end


def test_verify_passes_a_good_bundle_and_names_a_damaged_file(work):
    tmp, launcher, inst, jre, logo = work
    lib = jre / PLATFORM_DIR / "jre" / "1.8.0_40" / "lib"
    lib.mkdir()
    rng = random.Random(11)
    for i in range(4):
        (lib / f"m{i}.so").write_bytes(bytes(rng.getrandbits(6) for _ in range(300_000)))
    out, result = build(tmp, launcher, inst, jre, "--logo", logo, "--release", "R1")
    assert result.returncode == 0, result.stderr
    good = run("--verify", out)
    assert good.returncode == 0, good.stdout
    lines = good.stdout.splitlines()
    assert [line[0] for line in lines[1:-1]] == ["l", "v", "i", "j", "r"]
    assert "decoded, CRCs match" in lines[4] and lines[-1].startswith("verdict: OK")

    data = bytearray(out.read_bytes())
    start, end = block_of(data, "j")
    data[start + (end - start) * 4 // 5] ^= 0x55
    bad = tmp / "bad"
    bad.write_bytes(bytes(data))
    result = run("--verify", bad)
    assert result.returncode == 1
    [problem] = [line for line in result.stdout.splitlines() if line.startswith("problem:")]
    assert f"block j at {start}" in problem and "/lib/m" in problem, problem
    assert result.stdout.splitlines()[-1].startswith("verdict: REFUSED")

    # A signed Windows bundle is read up to its certificate table.
    image = pe_image()
    unsigned = tmp / "setup_unsigned.exe"
    unsigned.write_bytes(bytes(image))
    win = tmp / "win"
    (win / "maintenance" / "kvInstaller").mkdir(parents=True)
    (inst / PLATFORM_DIR).rename(win / "maintenance" / "kvInstaller" / "x86-win32")
    folder = win / "maintenance" / "kvInstaller" / "x86-win32"
    for name in ("kvInstaller.exe", "kvInstallerc.exe"):
        (folder / name).write_bytes(b"MZ stand-in")
    (jre / PLATFORM_DIR).rename(jre / "maintenance" / "kvInstaller" / "x86-win32")
    setup = tmp / "setup.exe"
    _, result = build(tmp, unsigned, win, jre, "--windows", out=setup)
    assert result.returncode == 0, result.stderr
    data = bytearray(setup.read_bytes())
    struct.pack_into("<II", data, 0x80 + 24 + 96 + 8 * 4, len(data), 4000)
    setup.write_bytes(bytes(data) + b"\xcc" * 4000)
    result = run("--verify", setup)
    assert result.returncode == 0 and "Windows launcher" in result.stdout, result.stdout


def test_list_files_shows_what_each_archive_writes(work):
    tmp, launcher, inst, jre, _ = work
    os.symlink("kvInstaller", inst / PLATFORM_DIR / "kvInstaller.link")
    (inst / "maintenance" / "kvInstaller" / "configuration" / "config.ini").chmod(0o600)
    for odd in (" lead space", 'say "hi" ', "größe €"):
        (inst / odd).write_text("odd")
    out, result = build(tmp, launcher, inst, jre)
    assert result.returncode == 0, result.stderr
    listed = run("--list", out, "--files")
    assert listed.returncode == 0, listed.stderr
    lines = listed.stdout.splitlines()
    i_at = [n for n, line in enumerate(lines) if line.startswith("i ")][0]
    j_at = [n for n, line in enumerate(lines) if line.startswith("j ")][0]
    entries = {line.split(" ", 4)[4]: line.split(" ", 4)[2:4] for line in lines[i_at + 1:j_at]}
    assert entries["maintenance/kvInstaller/x86-linux2/kvInstaller"] == ["-rwxr-xr-x", "25"]
    assert entries["maintenance/kvInstaller/x86-linux2/kvInstaller.link"] == ["lrwxrwxrwx", "11"]
    assert entries["maintenance/kvInstaller/configuration/config.ini"] == ["-rw-------", "3000"]
    assert entries["-dash name.txt"] == ["-rw-r--r--", "4"]
    for odd in (" lead space", 'say "hi" ', "größe €"):
        assert entries[odd] == ["-rw-r--r--", "3"]
    assert not [name for name in entries if name.endswith(("empty", "configuration"))]
    assert list(entries) == sorted(entries)
    assert [line for line in lines[j_at + 1:] if line.endswith("/COPYRIGHT")]


def copy_tree(source, target, mtime, reverse):
    """Copies files and links in sorted or reverse order, all at `mtime`."""
    for folder, dirs, files in sorted(os.walk(source), reverse=reverse):
        rel = Path(folder).relative_to(source)
        (target / rel).mkdir(parents=True, exist_ok=True)
        for name in sorted(files, reverse=reverse):
            src, dst = Path(folder) / name, target / rel / name
            if src.is_symlink():
                os.symlink(os.readlink(src), dst)
            else:
                shutil.copy2(src, dst)
                os.utime(dst, (mtime, mtime))


def test_same_inputs_give_the_same_bytes(work):
    tmp, launcher, inst, jre, _ = work
    os.symlink("kvInstaller", inst / PLATFORM_DIR / "kvInstaller.link")
    digests = {}
    for epoch in (None, "1700000000"):
        env = dict(os.environ)
        env.pop("SOURCE_DATE_EPOCH", None)
        if epoch:
            env["SOURCE_DATE_EPOCH"] = epoch
        for name, mtime, reverse in (("a", 1_000_000_000, False), ("b", 1_600_000_000, True)):
            copy = tmp / f"{name}-{epoch}"
            copy_tree(inst, copy / "inst", mtime, reverse)
            copy_tree(jre, copy / "jre", mtime + 7, not reverse)
            out, result = build(tmp, launcher, copy / "inst", copy / "jre",
                                out=copy / "setup", env=env)
            assert result.returncode == 0, result.stderr
            digests.setdefault(epoch, set()).add(hashlib.sha256(out.read_bytes()).hexdigest())
        data = out.read_bytes()
        start, end = block_of(data, "i")
        archive = tmp / "i.7z"
        archive.write_bytes(data[start:end])
        slt = subprocess.run(["7zz", "l", "-slt", archive], capture_output=True, text=True,
                             check=True).stdout
        times = {line for line in slt.splitlines()[1:] if line.startswith("Modified = ")}
        assert times == ({"Modified = 2023-11-14 22:13:20.0000000"} if epoch else {"Modified = "})
    assert len(digests[None]) == 1 and len(digests["1700000000"]) == 1, digests
    assert digests[None] != digests["1700000000"]


@pytest.mark.slow
def test_bytes_do_not_depend_on_the_processor_count(work):
    # 7zz uses as many threads as the machine has processors; LZMA2 then
    # picks its block size from them unless it is fixed.
    tmp, launcher, inst, jre, _ = work
    rng = random.Random(3)
    words = [("%x" % rng.getrandbits(40)).encode() for _ in range(300)]
    wrapper = tmp / "bin" / "7zz"
    wrapper.parent.mkdir()
    wrapper.write_text(f'#!/bin/sh\ncmd=$1; shift\nexec {shutil.which("7zz")} "$cmd" '
                       '"-mmt$KV_THREADS" "$@"\n')
    wrapper.chmod(0o755)
    # Files larger than the blocks: 1 MB for d=256k, 16 MB for the default.
    for method, size in (("LZMA2:d=256k", 300_000), ("LZMA2", 1_600_000)):
        (jre / "modules").write_bytes(b" ".join(rng.choice(words) for _ in range(size)))
        digests = set()
        for threads in ("1", "4"):
            env = dict(os.environ, KV_THREADS=threads,
                       PATH=f"{wrapper.parent}:{os.environ['PATH']}")
            out, result = build(tmp, launcher, inst, jre, "--method", method, env=env,
                                out=tmp / f"setup-{threads}")
            assert result.returncode == 0, result.stderr
            digests.add(hashlib.sha256(out.read_bytes()).hexdigest())
        assert len(digests) == 1, method


def test_command_line_names_the_offending_argument(tmp_path):
    version = run("--version")
    assert version.returncode == 0 and version.stdout.startswith("mkbundle ")
    for args, message in ((["--list", "a", "b"], "unexpected argument 'b'"),
                          (["--list", "a", "--force"], "option --force cannot go with --list"),
                          (["--files"], "--files goes with --list")):
        result = run(*args)
        assert result.returncode == 2 and message in result.stderr, (args, result.stderr)


@pytest.mark.parametrize("names, phrase", [
    (["docs/AUX.txt"], "entry 'maintenance/kvInstaller/x86-win32/docs/AUX.txt': 'AUX.txt' is a "
                       "device name on Windows"),
    (["lpt1"], "'lpt1' is a device name on Windows"),
    (["notes."], "'notes.' ends in a dot, which Windows drops"),
    (["trail "], "'trail ' ends in a space, which Windows drops"),
    (["Read.me", "read.ME"], "are one file on Windows"),
    (["a.txt", "a.txt.."], "'a.txt..' ends in a dot"),
])
def test_windows_bundles_refuse_names_windows_cannot_hold(work, names, phrase):
    out, result = build_for_windows(work, ["kvInstaller.exe", "kvInstallerc.exe", *names])
    refused(result, out, phrase)


def test_windows_programs_are_found_in_any_case(work):
    """Windows starts "kvInstaller.exe" whatever the case of the name in the
    archive, and the check reads the program found so."""
    out, result = build_for_windows(work, ["KVINSTALLER.EXE", "kvinstallerC.Exe"])
    assert result.returncode == 0 and out.exists(), result.stderr


def build_for_windows(work, programs):
    """Builds a Windows bundle of the installer tree moved to the Windows
    platform folder, with `programs` (and any other names) in it."""
    tmp, _, inst, jre, _ = work
    win = tmp / "win"
    (win / "maintenance" / "kvInstaller").mkdir(parents=True)
    (inst / PLATFORM_DIR).rename(win / "maintenance" / "kvInstaller" / "x86-win32")
    folder = win / "maintenance" / "kvInstaller" / "x86-win32"
    for name in programs:
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(b"MZ stand-in")
    (jre / PLATFORM_DIR).rename(jre / "maintenance" / "kvInstaller" / "x86-win32")
    launcher = tmp / "setup.exe"
    launcher.write_bytes(pe_image())
    return build(tmp, launcher, win, jre, "--windows")
