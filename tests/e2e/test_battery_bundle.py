"""Bad bundles: odd footers, a truncated launcher, stray bytes after the
last footer, thousands of argument blocks, and odd `v` blocks. Each case
states its expected outcome; none may crash the launcher."""

import shutil
import struct

import pytest

import fault_support as fs
import kvtest

def footer(start, tag):
    return struct.pack("<I", start) + kvtest.FOOTER_MAGIC + tag.encode()


def launcher_plus(launcher, tmp_path, tail):
    """A copy of the bare launcher with `tail` appended."""
    out = tmp_path / "setup"
    out.write_bytes(launcher.read_bytes() + tail)
    out.chmod(0o755)
    return out


def no_crash(done):
    assert done.returncode >= 0, f"ended by signal {-done.returncode}"
    assert "Sanitizer" not in done.stderr


# ---- footers ---------------------------------------------------------------

def test_footer_with_start_0_is_one_block_covering_the_image(launcher, tmp_path):
    # Expected: the block [0, footer) is visited once; its text is the image
    # up to its first NUL ("\x7fELF" and the class bytes).
    program = launcher_plus(launcher, tmp_path, footer(0, "r"))
    done = kvtest.run_launcher(program, ["-version"], home=tmp_path)
    no_crash(done)
    assert done.returncode == 0
    assert done.stdout.startswith("Korvane Installer version \x7fELF")
    assert done.stdout.count("Korvane Installer version") == 1


def assert_damaged(program, tmp_path):
    """Bytes after the image but no bundle end: every run names the file as
    damaged, ends with 1 and extracts nothing."""
    target = tmp_path / "kv"
    for args in (["-version"], fs.install_args(target)):
        done = kvtest.run_launcher(program, args, home=tmp_path)
        no_crash(done)
        assert (done.returncode, done.stdout) == (1, "")
        assert done.stderr == kvtest.damaged_setup(program)
    assert not target.exists()


@pytest.mark.parametrize("start", ["beyond", 0xFFFFFFF8, 0xFFFFFFFF],
                         ids=["beyond-the-file", "near-2^32", "2^32-1"])
def test_last_footer_pointing_outside_means_a_damaged_file(launcher, tmp_path, start):
    # Expected: a last footer whose start lies after it is no bundle end.
    size = launcher.stat().st_size
    start = size + 4096 if start == "beyond" else start
    assert_damaged(launcher_plus(launcher, tmp_path, footer(start, "r")), tmp_path)


def test_footer_pointing_forward_ends_the_chain(launcher, tmp_path):
    # Expected: the walk visits the last block, then meets a footer whose
    # start is not before the block after it and stops there.
    image = launcher.read_bytes()
    early = b"EARLY\0\0\0"
    forward = footer(len(image) + 4000, "r")  # points past its own block
    middle = image + early + forward
    late = b"LATE\0\0\0\0"
    program = tmp_path / "setup"
    program.write_bytes(middle + late + footer(len(middle), "r"))
    program.chmod(0o755)
    done = kvtest.run_launcher(program, ["-version"], home=tmp_path)
    no_crash(done)
    assert done.returncode == 0
    assert done.stdout == "Korvane Installer version LATE\n"


def test_footer_pointing_at_itself_ends_the_chain(launcher, tmp_path):
    image = launcher.read_bytes()
    selfish = image + b"SELF\0\0\0\0" + footer(len(image) + 8, "r")  # start == end
    program = tmp_path / "setup"
    program.write_bytes(selfish + b"LAST\0\0\0\0" + footer(len(selfish), "r"))
    program.chmod(0o755)
    done = kvtest.run_launcher(program, ["-version"], home=tmp_path)
    no_crash(done)
    # The empty block [start, end) is visited (an empty release text), then
    # the chain goes on to its start and ends inside the image.
    assert done.returncode == 0
    assert done.stdout.splitlines()[0] == "Korvane Installer version LAST"


def test_thousands_of_argument_blocks_arrive_in_order(launcher, tmp_path):
    # Expected: all 3000 embedded arguments reach the installer, in file order.
    bundle = fs.small_bundle(tmp_path / "setup", launcher, tmp_path)
    blob = bytearray(bundle.read_bytes())
    for n in range(3000):
        data = f"arg{n:04d}".encode()
        start = len(blob)
        blob += data + bytes(-len(data) % 8) + footer(start, "a")
    bundle.write_bytes(bytes(blob))
    target = tmp_path / "kv"
    done = fs.run_install(bundle, target, tmp_path)
    no_crash(done)
    assert done.returncode == 0, done.stderr
    args = kvtest.read_record(f"{target}.record")["args"]
    embedded = [a for a in args if a.startswith("arg")]
    assert embedded == [f"arg{n:04d}" for n in range(3000)]


# ---- damaged launcher files ------------------------------------------------

@pytest.mark.parametrize("cut", ["middle", "last-5"])
def test_truncated_launcher_says_it_is_damaged(launcher, tmp_path, cut):
    # Expected: the cut leaves no footer at the end: the file is named as
    # damaged, nothing is extracted.
    bundle = fs.small_bundle(tmp_path / "full", launcher, tmp_path)
    blob = bundle.read_bytes()
    image = launcher.stat().st_size
    keep = image + (len(blob) - image) // 2 + 3 if cut == "middle" else len(blob) - 5
    program = tmp_path / "setup"
    program.write_bytes(blob[:keep])
    program.chmod(0o755)
    assert_damaged(program, tmp_path)


def test_stray_bytes_after_the_last_footer(launcher, tmp_path):
    # Expected: the end of the file is no footer: named as damaged.
    bundle = fs.small_bundle(tmp_path / "full", launcher, tmp_path)
    stray = tmp_path / "setup"
    stray.write_bytes(bundle.read_bytes() + b"stray bytes after the bundle\n" * 3)
    stray.chmod(0o755)
    assert_damaged(stray, tmp_path)


# ---- v blocks ----------------------------------------------------------------

V = kvtest.DEFAULT_VERSION
V_CASES = {
    # id: (bytes of the v block, whether the installer is extracted again)
    "non-numeric": (b"version=abc.def\n", False),      # 0.0.0 is not newer
    "empty": (b"", True),                                # no version: extract
    "crlf-newer": (b"name=x\r\nversion=2.7.4.a\r\n", True),
    "crlf-equal": (f"name=x\r\nversion={V}\r\n".encode(), False),  # CR is no qualifier byte
    "bom": (f"\ufeffversion={V}\n".encode(), True),      # the key is not "version"
    "nul-before-version": (f"name=x\0\nversion={V}\n".encode(), True),
    "nul-after-version": (f"version={V}\0junk 9.9.9".encode(), False),
    "1mb-line-first": (b"x=" + b"y" * (1 << 20) + f"\nversion={V}\n".encode(), True),
    "1mb-qualifier": (b"version=2.7.3." + b"z" * (1 << 20) + b"\n", True),
}


@pytest.fixture
def installed(launcher, tmp_path):
    """A folder holding the current installer and runtime."""
    bundle = fs.small_bundle(tmp_path / "current", launcher, tmp_path)
    target = tmp_path / "installed"
    assert fs.run_install(bundle, target, tmp_path).returncode == 0
    return target


@pytest.mark.parametrize("case", list(V_CASES))
def test_odd_version_blocks(launcher, tmp_path, installed, case):
    data, extracts = V_CASES[case]
    version_file = tmp_path / "v.txt"
    version_file.write_bytes(data)
    installer = kvtest.make_installer_tree(tmp_path / "odd-installer")
    jre = kvtest.make_jre_tree(tmp_path / "odd-jre")
    bundle = kvtest.mkbundle(tmp_path / "odd", launcher, installer=installer, jre=jre,
                             version_file=version_file)
    target = tmp_path / "copy"
    shutil.copytree(installed, target, symlinks=True)
    done = fs.run_install(bundle, target, tmp_path)
    no_crash(done)
    assert done.returncode == 0, done.stderr
    assert ("Extracting Installer..." in done.stdout) == extracts, done.stdout
