"""Console launcher, install locations: invalid paths, a missing path in
silent mode, the console prompt, the stored default locations with and
without -productid, and a run without HOME."""

import errno
import pwd
import os
import stat
import subprocess

import console_support as cs
import kvtest
from console_support import payloads_fixture  # noqa: F401  (the payloads fixture)

LONG_PROMPT = "Enter install directory or press enter\n>"
SHORT_PROMPT = "Enter install directory\n>"


def default_line(path):
    return f"Default install directory: {path}\n"


def read_locations(home):
    """The entries of .kvInstaller.locations, keys in lower case."""
    entries = {}
    for line in (home / ".kvInstaller.locations").read_text().splitlines():
        key, _, value = line.partition("=")
        entries[key.strip().lower()] = value.strip()
    return entries


def test_invalid_locations_are_rejected_before_anything_is_made(launcher, payloads, tmp_path,
                                                                 home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    work = tmp_path / "work"
    work.mkdir()
    (work / "file").write_text("a plain file")
    cases = [
        ("inst", [], cs.invalid_path("inst")),
        ("~inst", [], cs.invalid_path("~inst")),
        ("./inst", [], cs.invalid_path("./inst")),
        ("", [], cs.invalid_path("")),
        (f"{work}/a b", [], cs.invalid_characters()),
        (f"{work}/a#b", ["-allowspaceininstallpath"], cs.invalid_characters(allow_space=True)),
        (f"{work}/file/sub", [],
         f"ERROR: directory {work}/file/sub cannot be created: {errno.EEXIST}.\n"),
    ]
    cases += [(f"{work}/a{c}b", [], cs.invalid_characters()) for c in cs.FORBIDDEN]
    for path, extra, expected in cases:
        done = cs.run(program, ["-silent", *extra, "-installpath", path], home=home,
                      record=tmp_path / "record", cwd=work)
        assert (done.returncode, done.stdout, done.stderr) == (1, "", expected), path

    # Longer than the installer's path buffers allow: refused, never cut.
    long_path = f"{work}/" + "d" * 2000
    done = cs.run(program, ["-silent", "-installpath", long_path], home=home)
    assert (done.returncode, done.stdout) == (1, "")
    assert done.stderr.startswith("Your installation could not be completed because the "
                                  "location you specified has more than ")
    assert done.stderr.endswith(" characters.\n")

    assert cs.listing(work) == ["file"]
    assert list(home.iterdir()) == []
    assert not (tmp_path / "record").exists()

    # "~/" stands for the home folder; spaces may be allowed.
    record = tmp_path / "record"
    for path, extra, target in (("~/inst", [], home / "inst"),
                                (f"{work}/with space", ["-allowSpaceInInstallPath"],
                                 work / "with space")):
        done = cs.run(program, ["-silent", *extra, "-installpath", path], home=home,
                      record=record)
        assert (done.returncode, done.stdout, done.stderr) == (
            0, cs.EXTRACTING_BOTH + cs.LAUNCHING, ""), path
        got = cs.record(record)
        assert got["args"] == [*cs.CONSOLE_SWITCHES, "-silent", *[e.lower() for e in extra],
                               "-installpath", str(target)], path
        assert got["cwd"] == str(kvtest.installer_dir(target))
        assert (home / ".kvInstaller.loc").read_text() == str(target)


def test_silent_mode_without_install_path_ends_with_1(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    stored = tmp_path / "stored"
    cases = [
        (["-silent"], None),
        (["-check", "/some/dir"], None),
        # A remembered default location is not a given install path.
        (["-SILENT", "-proxy", "p"], stored),
    ]
    for args, remembered in cases:
        if remembered:
            (home / ".kvInstaller.loc").write_text(str(remembered))
        done = cs.run(program, args, home=home, input=f"{tmp_path}/typed\n",
                      record=tmp_path / "record")
        assert (done.returncode, done.stdout, done.stderr) == (
            1, "", cs.SILENT_PATH_REQUIRED), args
    assert not stored.exists()
    assert not (tmp_path / "typed").exists()
    assert not (tmp_path / "record").exists()


def test_console_prompt_takes_typed_and_default_locations(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    record = tmp_path / "record"
    default = home / "Korvane"

    # Enter accepts the default; the path is inserted after the scanned options.
    done = cs.run(program, ["-recipe", "r.xml"], home=home, input="\n", record=record)
    assert done.stdout == (default_line(default) + LONG_PROMPT + cs.EXTRACTING_BOTH
                           + cs.LAUNCHING)
    assert (done.returncode, done.stderr) == (0, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-recipe", "r.xml",
                                         "-installpath", str(default)]
    assert kvtest.snapshot(default) == payloads.expected_tree()
    assert (home / ".kvInstaller.loc").read_text() == str(default)

    # A typed answer is trimmed; a rejected typed answer keeps the default.
    target = tmp_path / "typed"
    done = cs.run(program, ["-baseline", "list"], home=home,
                  input=f"relative\n \t{target}  \n", record=record)
    assert done.stdout == (default_line(default) + LONG_PROMPT + LONG_PROMPT
                           + cs.EXTRACTING_BOTH + cs.LAUNCHING)
    assert (done.returncode, done.stderr) == (0, cs.invalid_path("relative"))
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-baseline", "list",
                                         "-installpath", str(target)]
    assert (home / ".kvInstaller.loc").read_text() == str(target)

    # A rejected default is dropped: Enter then asks again, end of input ends.
    blocked = tmp_path / "blocked"
    blocked.write_text("a file where the default folder would be")
    (home / ".kvInstaller.loc").write_text(str(blocked))
    done = cs.run(program, ["-recipe", "r.xml"], home=home, input="\n\n   \n",
                  record=tmp_path / "unused")
    assert done.stdout == (default_line(blocked) + LONG_PROMPT + SHORT_PROMPT + SHORT_PROMPT
                           + SHORT_PROMPT)
    assert done.stderr == (f"ERROR: directory {blocked} cannot be created: {errno.EEXIST}.\n"
                           + cs.SILENT_PATH_REQUIRED)
    assert done.returncode == 1
    assert not (tmp_path / "unused").exists()

    # The yum section: its own error at end of input, and a typed path is
    # inserted before "-yum".
    (home / ".kvInstaller.loc").unlink()
    done = cs.run(program, ["-yum", "install", "pkg"], home=home, input="")
    assert (done.returncode, done.stdout, done.stderr) == (
        1, default_line(default) + LONG_PROMPT, cs.YUM_PATH_REQUIRED)
    done = cs.run(program, ["-yum", "install", "Pkg"], home=home, input="~/yum\n",
                  record=record)
    assert done.stdout == default_line(default) + LONG_PROMPT + cs.EXTRACTING_BOTH + cs.LAUNCHING
    assert (done.returncode, done.stderr) == (0, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-installpath", str(home / "yum"),
                                         "-yum", "install", "Pkg"]

    # --installroot= names the path: no prompt, rewritten with the checked path.
    done = cs.run(program, ["-yum", "install", "pkg", "--installroot=~/root"], home=home,
                  input="", record=record)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-yum", "install", "pkg",
                                         f"--installroot={home}/root"]


def test_product_id_selects_the_stored_location(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    record = tmp_path / "record"
    stored = tmp_path / "stored"
    (home / ".kvInstaller.locations").write_text(
        f"# remembered locations\nOTHER = /elsewhere\nMY_KEY = {stored}\n")

    # The key part is cleaned up and compared without regard to case.
    done = cs.run(program, ["-recipe", "r", "-productid", " my key : Tools/2 "], home=home,
                  input="\n", record=record)
    assert done.stdout == default_line(stored) + LONG_PROMPT + cs.EXTRACTING_BOTH + cs.LAUNCHING
    assert (done.returncode, done.stderr) == (0, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-recipe", "r", "-productid",
                                         " my key : Tools/2 ", "-installpath", str(stored)]
    assert read_locations(home) == {"other": "/elsewhere", "my_key": str(stored)}
    assert not (home / ".kvInstaller.loc").exists()

    # No entry for the key: the folder part names the default in HOME.
    done = cs.run(program, ["-baseline", "-productid", "New:Tools/2"], home=home, input="\n",
                  record=record)
    tools = home / "Tools_2"
    assert done.stdout == default_line(tools) + LONG_PROMPT + cs.EXTRACTING_BOTH + cs.LAUNCHING
    assert (done.returncode, done.stderr) == (0, "")
    assert read_locations(home) == {"other": "/elsewhere", "my_key": str(stored),
                                    "new": str(tools)}

    # A silent install stores its path under the key.
    target = tmp_path / "silent"
    done = cs.run(program, ["-silent", "-installpath", target, "-productid", "OTHER"],
                  home=home, record=record)
    assert (done.returncode, done.stderr) == (0, "")
    assert read_locations(home) == {"other": str(target), "my_key": str(stored),
                                    "new": str(tools)}
    assert not (home / ".kvInstaller.loc").exists()


def test_two_products_stored_at_once_keep_both_entries(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    stored = home / ".kvInstaller.locations"
    stored.write_text(f"OTHER = {tmp_path / 'other'}\n")
    stored.chmod(0o640)
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": str(home),
           "KV_RECORD": str(tmp_path / "record")}
    # A reads the stored locations and waits at the prompt...
    first = subprocess.Popen([str(program), "-recipe", "r", "-productid", "ProdA"], env=env,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, start_new_session=True)
    try:
        kvtest.read_until_prompt(first.stdout)
        # ... while B stores its own location, the home folder itself (whose
        # extraction lock is then an flock on it) ...
        done = cs.run(program, ["-silent", "-installpath", home, "-productid", "ProdB"],
                      home=home, record=tmp_path / "record")
        assert (done.returncode, done.stderr) == (0, "")
        # ... and A, finishing last, keeps it.
        out, err = first.communicate(b"\n", timeout=120)
    finally:
        if first.poll() is None:
            first.kill()
    assert (first.returncode, err) == (0, b""), out
    assert read_locations(home) == {"other": str(tmp_path / "other"),
                                    "proda": str(home / "Korvane"),
                                    "prodb": str(home)}
    assert stat.S_IMODE(stored.stat().st_mode) == 0o640
    assert sorted(p.name for p in home.iterdir()) == [".kvInstaller.locations", "Korvane",
                                                      "maintenance"]



def test_without_home_the_password_database_names_the_home_folder(launcher, payloads,
                                                                   tmp_path):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    account_home = pwd.getpwuid(os.getuid()).pw_dir
    try:
        default = open(f"{account_home}/.kvInstaller.loc").readline()
    except OSError:
        default = ""
    default = default or f"{account_home}/Korvane"
    done = cs.run(program, ["-yum", "install", "pkg"], home=None, input="")
    assert (done.returncode, done.stdout, done.stderr) == (
        1, default_line(default) + LONG_PROMPT, cs.YUM_PATH_REQUIRED)
    done = cs.run(program, ["-version"], home=None)
    assert (done.returncode, done.stdout, done.stderr) == (0, cs.release_line(), "")
