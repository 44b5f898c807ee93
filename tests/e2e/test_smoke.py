"""The built programs have the shape they are shipped in, and the shared
helpers of the end-to-end tests do what the other tests rely on."""

import struct
import subprocess

import pytest

import kvtest

# (ELF class, e_machine) per launcher: 1/3 is 32-bit i386, 2/62 is x86-64.
EXPECTED_ELF = {"setup_linux": (1, 3), "setup_linux64": (2, 62)}

def elf_identity(path):
    header = path.read_bytes()[:20]
    assert header[:4] == b"\x7fELF", f"{path} is not an ELF file"
    return header[4], struct.unpack_from("<H", header, 18)[0]


def test_launcher_is_an_elf_program_of_its_architecture(launcher):
    assert elf_identity(launcher) == EXPECTED_ELF[launcher.name]
    assert launcher.stat().st_mode & 0o111


def test_launcher_starts_on_glibc_2_17(launcher):
    """No imported symbol version above GLIBC_2.17, no library beyond the C
    library's own; the check itself refuses a program built on this host."""
    check = str(kvtest.REPO_ROOT / "scripts" / "check-glibc-floor.sh")
    done = subprocess.run([check, str(launcher)], capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "highest glibc symbol version GLIBC_2." in done.stdout
    host_built = subprocess.run([check, "/bin/ls"], capture_output=True, text=True)
    assert host_built.returncode == 1 and "FAIL /bin/ls: needs GLIBC_2.3" in host_built.stdout


def test_mkbundle_knows_the_launchers_it_ships_with(dist_dir, launcher):
    """dist/mkbundle runs and tells each launcher of dist/ by its mark, which
    names mkbundle's own version."""
    mkbundle = str(dist_dir / "mkbundle")
    version = subprocess.run([mkbundle, "--version"], capture_output=True, text=True)
    assert version.returncode == 0 and version.stdout.startswith("mkbundle "), version
    own = version.stdout.split()[1]
    listed = subprocess.run([mkbundle, "--list", str(launcher)], capture_output=True, text=True)
    assert listed.returncode == 1 and listed.stdout == "no bundle\n"
    kind = "x86-64" if launcher.name == "setup_linux64" else "i386"
    assert listed.stderr == f"mkbundle: '{launcher}' is built on the Linux {kind} launcher {own}\n"


def test_appended_blocks_are_listed_in_file_order(tmp_path):
    image = tmp_path / "image"
    image.write_bytes(b"\x7fELF" + b"\x01" * 61)
    kvtest.append_block(image, "v", kvtest.properties_text())
    kvtest.append_block(image, "a", "-silent", pad=False)
    kvtest.append_block(image, "r", b"KVINSTALLER_DEMO_1_0\0")
    blocks = kvtest.list_blocks(image)
    assert [tag for tag, _ in blocks] == ["v", "a", "r"]
    assert blocks[0][1].rstrip(b"\0").decode() == kvtest.properties_text()
    assert blocks[1][1] == b"-silent"
    assert kvtest.list_blocks(kvtest.write_png(tmp_path / "logo.png")) == []


@pytest.mark.parametrize("exit_code", [0, 7])
def test_stand_in_installer_records_what_it_received(tmp_path, home, exit_code):
    record = tmp_path / "record"
    root = kvtest.make_installer_tree(tmp_path / "install", exit_code=exit_code, record=record)
    program = kvtest.installer_dir(root) / "kvInstaller"
    args = ["-silent", "two words", "line\nbreak", "", "it's"]
    done = kvtest.run_launcher(program, args, home=home, cwd=tmp_path, env={"EXTRA": "x=y"})
    assert done.returncode == exit_code
    got = kvtest.read_record(record)
    assert got["argv0"] == str(program)
    assert got["cwd"] == str(tmp_path)
    assert got["args"] == args
    assert got["env"]["HOME"] == str(home)
    assert got["env"]["EXTRA"] == "x=y"
    assert "DISPLAY" not in got["env"]


def test_stand_in_installer_obeys_kv_record_and_kv_exit(tmp_path, home):
    root = kvtest.make_installer_tree(tmp_path / "install", record=tmp_path / "unused")
    kvtest.make_jre_tree(root)
    program = kvtest.installer_dir(root) / "kvInstaller"
    record = tmp_path / "chosen record"
    done = kvtest.run_launcher(program, ["x"], home=home,
                               env={"KV_RECORD": str(record), "KV_EXIT": "3"})
    assert done.returncode == 3
    assert kvtest.read_record(record)["args"] == ["x"]
    assert not (tmp_path / "unused").exists()
    assert (kvtest.installer_dir(root) / "jre" / kvtest.JRE_RELEASE / "COPYRIGHT").is_file()
    assert "version=" + kvtest.DEFAULT_VERSION in (
        kvtest.installer_dir(root) / ".eclipseproduct").read_text()
