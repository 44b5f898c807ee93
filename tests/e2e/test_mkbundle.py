"""mkbundle end to end: builds bundles from directories and files, lists them
back, extracts the archives with 7zz and checks that bad inputs fail cleanly."""
import os
import random
import shutil
import stat
import struct
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
MKBUNDLE = os.environ.get("KV_MKBUNDLE") or str(REPO / "dist" / "mkbundle")

pytestmark = pytest.mark.skipif(not os.access(MKBUNDLE, os.X_OK),
                                reason=f"mkbundle not built ({MKBUNDLE}); set KV_MKBUNDLE")


def run(*args, cwd=None):
    return subprocess.run([MKBUNDLE, *map(str, args)], capture_output=True, text=True, cwd=cwd)


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
    shutil.copy("/bin/true", launcher)
    os.chmod(launcher, 0o755)
    inst = tmp_path / "inst"
    (inst / "maintenance" / "kvInstaller" / "x86-linux2").mkdir(parents=True)
    (inst / "maintenance" / "kvInstaller" / "x86-linux2" / "kvInstaller").write_bytes(
        b"#!/bin/sh\necho installer\n")
    (inst / "maintenance" / "kvInstaller" / "configuration").mkdir()
    (inst / "maintenance" / "kvInstaller" / "empty").mkdir()
    (inst / "maintenance" / "kvInstaller" / "configuration" / "config.ini").write_bytes(
        os.urandom(3000))
    (inst / ".hidden").write_bytes(b"dot file")
    (inst / "-dash name.txt").write_bytes(b"dash")
    (inst / "star*name?.txt").write_bytes(b"wild")
    jre = tmp_path / "jre"
    (jre / "bin").mkdir(parents=True)
    (jre / "bin" / "java").write_bytes(bytes(range(256)) * 40)
    logo = tmp_path / "logo.png"
    logo.write_bytes(b"\x89PNG\r\n\x1a\n" + b"L" * 37)
    return tmp_path, launcher, inst, jre, logo


def test_bundle_from_directories_lists_back_exactly(work):
    tmp, launcher, inst, jre, logo = work
    out = tmp / "setup_linux"
    result = run("-o", out, "--launcher", launcher, "--logo", logo, "--version", "2.7.3.271REL03",
                 "--name", "Korvane Installer", "--id", "com.korvane.p2.installer.ui.product",
                 "--installer", inst, "--jre", jre, "--release", "KVINSTALLER_2_7_1_REL03",
                 "--arg", "-silent", "--arg", 'say "hi"\there', "--block", "x:" + str(logo))
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
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
    # relative to the directory.
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
        assert tree(target) == tree(source)


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
    result = run("-o", out, "--launcher", launcher, "--version", "1.0", "--name", "N", "--id", "I",
                 "--installer", inst, "--jre", jre)
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
    subprocess.run(["7zz", "a", "-bd", "-bso0", archive, str(jre / "bin" / "java")], check=True)
    version = tmp / "version.txt"
    version.write_bytes(b"version=1.0.0.1\nname=N\nid=I\n")
    out = tmp / "setup.exe"
    result = run("--windows", "-o", out, "--launcher", launcher, "--version-file", version,
                 "--installer", inst, "--jre", archive, "--release", "R1", "--payload", archive,
                 "--method", "Copy")
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
    image = bytearray(512)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x80)
    image[0x80:0x84] = b"PE\0\0"
    opt = 0x80 + 24
    struct.pack_into("<I", image, opt + 92, 16)
    struct.pack_into("<II", image, opt + 96 + 8 * 4, 0, 0)
    unsigned = tmp_path / "setup_unsigned.exe"
    unsigned.write_bytes(bytes(image))
    out = tmp_path / "setup.exe"
    result = run("--windows", "-o", out, "--launcher", unsigned, "--version", "1.2.3.4",
                 "--release", "REL_9")
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
                                  "unknown option", "name without version"])
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
        assert run("-o", tmp / "first", "--launcher", launcher, "--release", "R").returncode == 0
        args[3] = tmp / "first"
    elif case == "unknown option":
        args += ["--frobnicate"]
    elif case == "name without version":
        args = ["-o", out, "--launcher", launcher, "--name", "N"]
    before = set(os.listdir(tmp))
    result = run(*args)
    if case == "unreadable dir":
        os.chmod(tmp / "locked", 0o755)
    assert result.returncode != 0
    assert result.stderr.startswith("mkbundle: "), result.stderr
    assert not out.exists()
    assert leftovers(tmp, before) == []


def test_output_replaced_only_when_complete(work):
    tmp, launcher, inst, _, _ = work
    out = tmp / "out"
    out.write_bytes(b"previous")
    result = run("-o", out, "--launcher", launcher, "--installer", tmp / "absent")
    assert result.returncode != 0
    assert out.read_bytes() == b"previous"
    result = run("-o", out, "--launcher", launcher, "--installer", inst)
    assert result.returncode == 0, result.stderr
    assert [b[0] for b in listing(out)] == ["i"]


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
    result = run("-o", out, "--launcher", launcher, "--block", "q:" + str(big))
    assert result.returncode != 0
    assert "4 GiB" in result.stderr
    assert leftovers(tmp, before) == []
