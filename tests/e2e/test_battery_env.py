"""A hostile or odd environment: temporary folders, install paths full of
shell characters, files where folders should be, odd .ini files, location
files that are links or unreadable, no HOME, no or a broken DISPLAY, and a
logo name planted in /tmp. Each case states its expected outcome."""

import os
import shutil
import stat
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

import fault_support as fs
import kvtest


NOBODY = 65534


@pytest.fixture
def bundle(launcher, tmp_path):
    return fs.small_bundle(tmp_path / "setup_linux", launcher, tmp_path / "trees")


def no_crash(done):
    assert done.returncode >= 0, f"ended by signal {-done.returncode}"


# ---- temporary install folders ---------------------------------------------

STAT_INSTALLER = r"""#!/bin/sh
stat -c '%a %u %F' ../../.. > "$KV_MARK"
exit 0
"""


@pytest.mark.parametrize("mode", [0o777, 0o1777], ids=["0777", "1777"])
def test_world_writable_tmpdir(launcher, tmp_path, mode):
    # Expected: the temporary install folder is a fresh, private (0700)
    # folder of this user inside TMPDIR, and it is gone afterwards.
    tree = kvtest.make_installer_tree(tmp_path / "installer")
    program = kvtest.installer_dir(tree) / "kvInstaller"
    program.write_text(STAT_INSTALLER)
    program.chmod(0o755)
    jre = kvtest.make_jre_tree(tmp_path / "jre")
    bundle = kvtest.mkbundle(tmp_path / "setup", launcher, installer=tree, jre=jre,
                             version=kvtest.DEFAULT_VERSION)
    tmpdir = tmp_path / "shared-tmp"
    tmpdir.mkdir()
    tmpdir.chmod(mode)
    # Names another user might have planted beforehand.
    for n in range(5):
        os.symlink("/etc", tmpdir / f"kvtmp{n:06d}")
    mark = tmp_path / "mark"
    done = kvtest.run_launcher(bundle, ["-silent", "-validate"], home=tmp_path,
                               env={"TMPDIR": str(tmpdir), "KV_MARK": str(mark)})
    no_crash(done)
    assert done.returncode == 0, done.stdout + done.stderr
    assert mark.read_text().split() == ["700", str(os.getuid()), "directory"]
    assert sorted(os.listdir(tmpdir)) == [f"kvtmp{n:06d}" for n in range(5)]


# ---- install paths -----------------------------------------------------------

ODD_PATHS = {
    # id: (folder name, accepted)
    "semicolon": ("a;b", True),
    "single-quote": ("it's", True),
    "double-quote": ('say "hi"', False),     # '"' is a forbidden character
    "dollar": ("$HOME", True),
    "backticks": ("`touch${IFS}pwned`", True),
    "space": ("a b", False),                 # spaces need -allowspaceininstallpath
    "newline": ("new\nline", True),
    "colon": ("a:b", False),                 # ':' is a forbidden character
}


@pytest.mark.parametrize("case", list(ODD_PATHS))
def test_install_paths_with_shell_characters(bundle, tmp_path, case):
    # Expected: a forbidden character is refused with the check's text and
    # exit code 1; otherwise the installer lands in exactly that folder and
    # receives it literally; no shell ever sees it.
    name, accepted = ODD_PATHS[case]
    target = tmp_path / name
    done = kvtest.run_launcher(bundle, fs.install_args(target), home=tmp_path, cwd=tmp_path,
                               env={"KV_RECORD": str(tmp_path / "record")})
    no_crash(done)
    assert not (tmp_path / "pwned").exists()
    if not accepted:
        assert done.returncode == 1
        assert "invalid characters" in done.stderr
        return
    assert done.returncode == 0, done.stdout + done.stderr
    assert (kvtest.installer_dir(target) / "kvInstaller").is_file()
    args = kvtest.read_record(tmp_path / "record")["args"]
    at = [a.lower() for a in args].index("-installpath")
    assert args[at + 1] == str(target)


def test_install_path_with_dot_dot(bundle, tmp_path):
    # Expected: ".." is resolved by the file system like any path: the
    # installer lands in the folder the path names.
    (tmp_path / "up").mkdir()
    target = tmp_path / "up" / ".." / "kv"
    done = fs.run_install(bundle, target, tmp_path)
    no_crash(done)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (kvtest.installer_dir(tmp_path / "kv") / "kvInstaller").is_file()


def test_install_path_that_is_a_file(bundle, tmp_path):
    # Expected: refused by the location check, exit code 1, the file intact.
    target = tmp_path / "file"
    target.write_text("a file\n")
    done = fs.run_install(bundle, target, tmp_path)
    no_crash(done)
    assert done.returncode == 1
    assert done.stderr.strip()
    assert target.read_text() == "a file\n"


def test_file_where_a_folder_of_the_tree_should_be(bundle, tmp_path):
    # Expected: the output-file line and code 11 for the block, the lock file
    # kept, the file intact, and no success.
    target = tmp_path / "kv"
    target.mkdir()
    (target / "maintenance").write_text("in the way\n")
    done = fs.run_install(bundle, target, tmp_path)
    no_crash(done)
    assert "Could not open output file '" in done.stdout
    assert "failed: 11" in done.stderr
    assert (target / ".jreLock").exists() or (target / ".installerLock").exists()
    assert (target / "maintenance").read_text() == "in the way\n"
    assert done.returncode != 0


def test_ordinary_user_recovers_and_upgrades_over_read_only_files(launcher, tmp_path):
    # Expected: run as an ordinary user, the runtime's read-only (0444)
    # files are replaced on the run after an interrupted one and on an
    # upgrade: the directory's permission decides, as for tar.
    shared = Path(tempfile.mkdtemp(prefix="kv-nobody-"))
    try:
        shared.chmod(0o755)
        jre = kvtest.make_jre_tree(tmp_path / "jre")
        legal = kvtest.installer_dir(jre) / "jre" / kvtest.JRE_RELEASE / "legal"
        legal.mkdir()
        (legal / "NOTICE").write_text("notice\n")
        (legal / "NOTICE").chmod(0o444)
        bundles = {}
        for version in ("2.7.3.1", "2.7.4.1"):
            installer = kvtest.make_installer_tree(tmp_path / version, version=version)
            bundles[version] = kvtest.mkbundle(shared / f"setup-{version}", launcher,
                                               installer=installer, jre=jre, version=version)
        home = shared / "home"
        home.mkdir()
        os.chown(home, NOBODY, -1)
        target = home / "kv"

        def run(version):
            done = kvtest.run_launcher(bundles[version], ["-silent", "-installPath", target],
                                       home=home, user=NOBODY)
            assert done.returncode == 0, done.stdout + done.stderr
            return done

        run("2.7.3.1")
        notice = kvtest.installer_dir(target) / "jre" / kvtest.JRE_RELEASE / "legal" / "NOTICE"
        assert stat.S_IMODE(notice.stat().st_mode) == 0o444
        (target / ".jreLock").touch()  # an interrupted extraction
        assert "Extracting JRE..." in run("2.7.3.1").stdout
        (target / "maintenance" / "kvInstaller" / kvtest.LINUX_PLATFORM / "jre" /
         kvtest.JRE_RELEASE / "COPYRIGHT").unlink()  # an upgrade brings a new runtime
        assert "Extracting JRE..." in run("2.7.4.1").stdout
        assert notice.read_text() == "notice\n" and notice.stat().st_uid == NOBODY
        assert not (target / ".jreLock").exists() and not (target / ".installerLock").exists()
    finally:
        shutil.rmtree(shared)


# ---- .ini files ----------------------------------------------------------------

def make_ini(tmp_path, kind):
    path = tmp_path / "odd.ini"
    if kind == "empty":
        path.write_bytes(b"")
    elif kind == "binary":
        path.write_bytes(bytes(range(256)) * 16)
    elif kind == "huge-comments":
        with open(path, "wb") as f:
            f.write(b"# a comment line of the huge file\n" * 300000)
            f.write(b"-fromhugeini\n")
    elif kind == "folder":
        path.mkdir()
    elif kind == "link":
        real = tmp_path / "real.ini"
        real.write_text("-fromlinkedini\n")
        path.symlink_to(real)
    elif kind == "dangling-link":
        path.symlink_to(tmp_path / "missing.ini")
    return path


@pytest.mark.parametrize("kind", ["empty", "binary", "huge-comments", "folder", "link",
                                  "dangling-link"])
def test_odd_ini_files(bundle, tmp_path, kind):
    # Expected: the run completes; only real lines of a readable file reach
    # the installer (a folder or a dangling link counts as no file).
    ini = make_ini(tmp_path, kind)
    target = tmp_path / "kv"
    done = fs.run_install(bundle, target, tmp_path, "-ini", str(ini))
    no_crash(done)
    assert done.returncode == 0, done.stdout + done.stderr
    args = kvtest.read_record(f"{target}.record")["args"]
    assert "-ini" not in args
    if kind == "huge-comments":
        assert "-fromhugeini" in args
    if kind == "link":
        assert "-fromlinkedini" in args


def test_ini_with_more_arguments_than_a_program_can_take(bundle, tmp_path):
    # Expected: the list grows as needed; starting the installer with an
    # argument vector beyond the system's limit fails with "Launching failed"
    # and exit code 1, not a crash.
    ini = tmp_path / "many.ini"
    ini.write_text("".join(f"-D{n:07d}=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n" for n in range(120000)))
    done = fs.run_install(bundle, tmp_path / "kv", tmp_path, "-ini", str(ini))
    no_crash(done)
    assert done.returncode == 1
    assert "Launching failed" in done.stdout


# ---- location files in the home folder -------------------------------------------

@pytest.mark.parametrize("keyed", [False, True], ids=["loc", "locations"])
def test_location_file_that_is_a_link_is_not_written_through(bundle, tmp_path, keyed):
    # Expected: the run completes; the link and the file it points at stay
    # as they were (the location is simply not remembered).
    home = tmp_path / "home"
    home.mkdir()
    victim = tmp_path / "victim"
    victim.write_text("precious\n")
    name = ".kvInstaller.locations" if keyed else ".kvInstaller.loc"
    os.symlink(victim, home / name)
    extra = ["-productid", "com.korvane.demo:Demo"] if keyed else []
    done = fs.run_install(bundle, tmp_path / "kv", home, *extra)
    no_crash(done)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (home / name).is_symlink()
    assert victim.read_text() == "precious\n"


@pytest.mark.parametrize("keyed", [False, True], ids=["loc", "locations"])
def test_unreadable_location_file(bundle, tmp_path, keyed):
    # Expected: a location "file" that cannot be read or written (here a
    # folder: root reads any file) gives the built-in default and is left
    # alone; the run completes.
    home = tmp_path / "home"
    home.mkdir()
    name = ".kvInstaller.locations" if keyed else ".kvInstaller.loc"
    (home / name).mkdir()
    extra = ["-productid", "com.korvane.demo:Demo"] if keyed else []
    done = fs.run_install(bundle, tmp_path / "kv", home, *extra)
    no_crash(done)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (home / name).is_dir() and os.listdir(home / name) == []


# ---- HOME and DISPLAY -------------------------------------------------------------

@pytest.mark.parametrize("home", ["unset", "empty"])
def test_home_unset_or_empty(bundle, tmp_path, home):
    # Expected: the home folder comes from the password database; a
    # temporary install needs none of it and completes.
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
           "TMPDIR": str(tmp_path), "KV_RECORD": str(tmp_path / "record")}
    if home == "empty":
        env["HOME"] = ""
    done = subprocess.run([str(bundle), "-silent", "-validate"], env=env, capture_output=True,
                          text=True, timeout=120, stdin=subprocess.DEVNULL)
    no_crash(done)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (tmp_path / "record").exists()


@pytest.mark.parametrize("display", [None, ":4242", "no-such-host:0", "\x01garbage"],
                         ids=["none", "no-server", "bad-host", "garbage"])
def test_no_or_broken_display_falls_back_to_text_mode(bundle, tmp_path, display):
    # Expected: the GUI start fails, its text and "Falling back to text-based
    # mode..." are printed, and the console run completes.
    env = {"KV_RECORD": str(tmp_path / "record")}
    if display is not None:
        env["DISPLAY"] = display
    done = kvtest.run_launcher(bundle, ["-installPath", str(tmp_path / "kv")], home=tmp_path,
                               env=env)
    no_crash(done)
    assert "Falling back to text-based mode..." in done.stdout
    assert done.returncode == 0, done.stdout + done.stderr
    assert (tmp_path / "record").exists()


# ---- the logo file in /tmp --------------------------------------------------------

@pytest.mark.gui
def test_planted_logo_link_is_not_written_through(launcher, tmp_path, x_display):
    # Expected: "/tmp/<pid>_kvlogo.png" planted as a link before the run is
    # neither written through nor removed. The launcher runs as pid 1 of a
    # new pid namespace so that its logo name is known in advance.
    if shutil.which("unshare") is None:
        pytest.skip("unshare is missing")
    logo = Path("/tmp/1_kvlogo.png")
    if logo.exists() or logo.is_symlink():
        pytest.skip(f"{logo} exists already")
    victim = tmp_path / "victim"
    victim.write_text("precious\n")
    bundle = fs.small_bundle(tmp_path / "setup", launcher, tmp_path / "trees",
                             logo=kvtest.write_png(tmp_path / "logo.png"))
    logo.symlink_to(victim)
    try:
        env = dict(os.environ, HOME=str(tmp_path), **x_display)
        proc = subprocess.Popen(["unshare", "--pid", "--fork", str(bundle)], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True)
        time.sleep(5)  # the logo walk comes before the location dialog
        os.killpg(proc.pid, 9)
        out, err = proc.communicate()
        if b"Falling back to text-based mode" in out:
            pytest.skip("GTK cannot start here: no dialog mode, no logo")
        if proc.returncode not in (-9, 137):
            pytest.skip(f"unshare --pid is not allowed here: {err.decode(errors='replace')}")
        assert logo.is_symlink()
        assert victim.read_text() == "precious\n"
    finally:
        if logo.is_symlink():
            logo.unlink()
