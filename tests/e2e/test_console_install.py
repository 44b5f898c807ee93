"""Console launcher, installing: a silent install into a new folder, re-runs
over installed versions and leftover lock files, an interrupted extraction,
damaged archives, launchers without a bundle, the -patch filter and an
installer that cannot be started."""

import os
import subprocess
from pathlib import Path

import pytest

import console_support as cs
import kvtest
from console_support import payloads_fixture  # noqa: F401  (the payloads fixture)

PROFILE = Path("maintenance/kvInstaller/kvProfiles/Installer.x86-linux2.profile")


def eclipse_version(install_dir):
    text = (kvtest.installer_dir(install_dir) / ".eclipseproduct").read_text()
    return dict(line.split("=", 1) for line in text.splitlines())["version"]


def test_silent_install_into_a_new_nested_folder(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    target = tmp_path / "new" / "nested" / "folder"
    record = tmp_path / "record"
    done = cs.run(program, ["-silent", "-installPath", target, "-Proxy", "Host:1"],
                  home=home, record=record, env={"KV_EXIT": "5"})
    assert done.stdout == cs.EXTRACTING_BOTH + cs.LAUNCHING
    assert done.stderr == ""
    assert done.returncode == 5
    got = cs.record(record)
    assert got["argv0"] == cs.program_path(target)
    assert got["cwd"] == str(kvtest.installer_dir(target))
    assert got["args"] == [*cs.CONSOLE_SWITCHES, "-silent", "-installpath", str(target),
                           "-proxy", "Host:1"]
    assert got["env"]["HOME"] == str(home)
    # Exactly the two trees: no lock file, no setup.log probe left behind.
    assert kvtest.snapshot(target) == payloads.expected_tree()
    assert cs.listing(home) == [".kvInstaller.loc"]
    assert (home / ".kvInstaller.loc").read_text() == str(target)


def prepare(target, installed=None, marker=True, other_jre=False, locks=(), profile=False):
    """An install folder holding the given installed version, runtime marker,
    lock files and profile entries."""
    target.mkdir(parents=True)
    if installed:
        kvtest.make_installer_tree(target, version=installed)
    if marker:
        kvtest.make_jre_tree(target)
    if other_jre:
        kvtest.make_jre_tree(target, release="1.7.0_80")
    for lock in locks:
        (target / lock).write_text("")
    if profile:
        folder = target / PROFILE
        folder.mkdir(parents=True)
        (folder / "state.xml").write_text("old state")
        (folder / ".keep").write_text("hidden")


def test_rerun_extracts_what_is_missing_older_or_left_half_done(launcher, payloads, tmp_path,
                                                                  home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    bundled = kvtest.DEFAULT_VERSION
    # (name, prepare() arguments, expected extraction lines, installed version after)
    scenarios = [
        ("same version", dict(installed=bundled), "", bundled),
        ("same version, marker missing", dict(installed=bundled, marker=False, other_jre=True),
         "", bundled),
        ("older version", dict(installed=cs.OLDER_VERSION, profile=True),
         cs.EXTRACTING_INSTALLER, bundled),
        ("older version, no runtime", dict(installed=cs.OLDER_VERSION, marker=False),
         cs.EXTRACTING_BOTH, bundled),
        ("newer version", dict(installed=cs.NEWER_VERSION, profile=True), "", cs.NEWER_VERSION),
        ("installer lock", dict(installed=bundled, locks=[".installerLock"]),
         cs.EXTRACTING_INSTALLER, bundled),
        ("installer lock, no marker", dict(installed=bundled, marker=False,
                                           locks=[".installerLock"]),
         cs.EXTRACTING_BOTH, bundled),
        ("runtime lock", dict(installed=bundled, locks=[".jreLock"]), cs.EXTRACTING_JRE, bundled),
        ("both locks, newer version", dict(installed=cs.NEWER_VERSION,
                                           locks=[".installerLock", ".jreLock"]),
         cs.EXTRACTING_BOTH, bundled),
    ]
    for name, setup, extracted, version_after in scenarios:
        target = tmp_path / name.replace(" ", "_").replace(",", "")
        prepare(target, **setup)
        record = tmp_path / (target.name + ".record")
        done = cs.run(program, ["-silent", "-installpath", target], home=home, record=record)
        assert (done.returncode, done.stderr) == (0, ""), name
        assert done.stdout == extracted + cs.LAUNCHING, name
        assert cs.record(record)["argv0"] == cs.program_path(target), name
        assert eclipse_version(target) == version_after, name
        assert not (target / ".installerLock").exists(), name
        assert not (target / ".jreLock").exists(), name
        if setup.get("profile"):
            left = sorted(os.listdir(target / PROFILE))
            # The profile is emptied (hidden entries stay) only when the
            # installer or the runtime is replaced.
            assert left == ([".keep"] if extracted else [".keep", "state.xml"]), name
        if extracted == cs.EXTRACTING_BOTH:
            assert kvtest.snapshot(target / "maintenance/kvInstaller/x86-linux2/jre") == \
                kvtest.snapshot(payloads.jre_tree / "maintenance/kvInstaller/x86-linux2/jre"), name

    # A second run over a fresh install extracts nothing.
    target = tmp_path / "twice"
    for expected in (cs.EXTRACTING_BOTH + cs.LAUNCHING, cs.LAUNCHING):
        done = cs.run(program, ["-silent", "-installpath", target], home=home)
        assert (done.returncode, done.stdout, done.stderr) == (0, expected, "")
    assert kvtest.snapshot(target) == payloads.expected_tree()


def test_payload_and_bundle_without_version_block(launcher, payloads, tmp_path, home):
    extra = tmp_path / "extra"
    (extra / "payload" / "docs").mkdir(parents=True)
    (extra / "payload" / "docs" / "notes.txt").write_text("payload notes\n")
    with_payload = kvtest.mkbundle(tmp_path / launcher.name, launcher,
                                   version=kvtest.DEFAULT_VERSION,
                                   installer=payloads.installer_archive(),
                                   jre=payloads.jre_archive, payload=extra,
                                   releases=[cs.RELEASE])
    target = tmp_path / "target"
    # The payload block lies last, so it comes first, and on every run.
    for expected in (cs.EXTRACTING_BOTH, ""):
        done = cs.run(with_payload, ["-silent", "-installpath", target], home=home)
        assert (done.returncode, done.stderr) == (0, "")
        assert done.stdout == "Extracting Payload...\n" + expected + cs.LAUNCHING
    tree = payloads.expected_tree()
    tree.update(kvtest.snapshot(extra))
    assert kvtest.snapshot(target) == tree

    # Without a version block everything is extracted, whatever is installed.
    (tmp_path / "nov").mkdir()
    no_version = kvtest.mkbundle(tmp_path / "nov" / launcher.name, launcher,
                                 installer=payloads.installer_archive(),
                                 jre=payloads.jre_archive, releases=[cs.RELEASE])
    target = tmp_path / "newer"
    prepare(target, installed=cs.NEWER_VERSION)
    done = cs.run(no_version, ["-silent", "-installpath", target], home=home)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    assert eclipse_version(target) == kvtest.DEFAULT_VERSION


BIG_FILES = 4
BIG_FILE_SIZE = 20 * 1000 * 1000


@pytest.fixture
def big_installer(payloads):
    """An installer tree with 80 MB of incompressible data in four files,
    stored (not compressed) in its archive. Made once per session."""
    tree = payloads.folder / "big-installer"
    archive = payloads.folder / "big-installer.7z"
    if not archive.exists():
        cs.make_installer_tree(tree)
        data = kvtest.installer_dir(tree) / "data"
        data.mkdir()
        for i in range(BIG_FILES):
            (data / f"blob{i}").write_bytes(os.urandom(BIG_FILE_SIZE))
        kvtest.seven_zip(tree, archive, method="Copy")
    return tree, archive


def test_interrupted_extraction_is_completed_by_the_next_run(launcher, payloads, big_installer,
                                                             tmp_path, home):
    tree, archive = big_installer
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher,
                              installer_archive=archive)
    target = tmp_path / "target"
    data = kvtest.installer_dir(target) / "data"

    def writing_data():
        # Killed while the first of the large files is being written.
        return data.is_dir() and any(data.iterdir())

    seen, status = cs.kill_during(program, ["-silent", "-installpath", target], home,
                                  cs.EXTRACTING_INSTALLER, until=writing_data)
    assert seen == cs.EXTRACTING_BOTH
    assert status == -9, "the launcher ended before it could be killed"
    assert (target / ".installerLock").exists()
    assert not (target / ".jreLock").exists()

    record = tmp_path / "record"
    done = cs.run(program, ["-silent", "-installpath", target], home=home, record=record)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, cs.EXTRACTING_INSTALLER + cs.LAUNCHING, "")
    assert cs.record(record) is not None
    expected = kvtest.snapshot(tree)
    expected.update(kvtest.snapshot(payloads.jre_tree))
    assert kvtest.snapshot(target) == expected


def damaged(path, tag, offset_in_block):
    """Flips one byte of the block `tag` of the bundle at `path`."""
    start, _ = next((s, e) for t, s, e in cs.block_spans(path) if t == tag)
    cs.flip_byte(path, start + offset_in_block)
    return path


def damaged_bundles(launcher, payloads, folder):
    """Bundles whose installer or runtime archive (stored, not compressed)
    has one flipped byte in its first file's data, and one whose last block
    is an `i` block that is no archive at all."""
    folder.mkdir()
    installer_7z = kvtest.seven_zip(payloads.installer_tree(), folder / "installer.7z", "Copy")
    jre_7z = kvtest.seven_zip(payloads.jre_tree, folder / "jre.7z", "Copy")
    inside = 32 + 40  # past the 7z signature header, inside the first file's data
    bundles = {}
    for tag in ("i", "j"):
        (folder / tag).mkdir()
        bundle = kvtest.mkbundle(folder / tag / launcher.name, launcher,
                                 version=kvtest.DEFAULT_VERSION, installer=installer_7z,
                                 jre=jre_7z, releases=[cs.RELEASE])
        bundles[tag] = damaged(bundle, tag, inside)
    bundles["junk"] = payloads.bundle(folder / "junk" / launcher.name, launcher,
                                      installer=False,
                                      extra_blocks=[("i", b"this is not a 7z archive" * 4)])
    return bundles


def test_damaged_archives_report_the_error_and_start_no_installer(launcher, payloads,
                                                                  tmp_path, home):
    # A failed extraction ends the run with 1 and never starts the installer
    # from a half-replaced tree; the lock file makes the next run try again.
    bundles = damaged_bundles(launcher, payloads, tmp_path / "bundles")

    target = tmp_path / "older"
    prepare(target, installed=cs.OLDER_VERSION)
    record = tmp_path / "record-older"
    damaged_line = kvtest.damaged_setup(bundles["i"])
    for more in ([], ["-showargsandexit"]):
        done = cs.run(bundles["i"], ["-silent", "-installpath", target, *more], home=home,
                      record=record)
        # (-showargsandexit still lists the arguments at exit.)
        assert done.stdout.startswith(cs.EXTRACTING_INSTALLER)
        assert cs.LAUNCHING not in done.stdout and "Launching" not in done.stdout
        assert done.stderr == "ERROR: Extracting install failed: 3\n" + damaged_line
        assert done.returncode == 1
        assert not record.exists()
        assert (target / ".installerLock").exists()

    # A damaged runtime stops the walk before the installer.
    target = tmp_path / "runtime"
    prepare(target, installed=cs.OLDER_VERSION, marker=False)
    done = cs.run(bundles["j"], ["-silent", "-installpath", target], home=home,
                  record=tmp_path / "record-jre")
    assert done.stdout == cs.EXTRACTING_JRE
    assert done.stderr == "ERROR: Extracting jre failed: 3\n" + kvtest.damaged_setup(bundles["j"])
    assert done.returncode == 1
    assert (target / ".jreLock").exists()
    assert not (target / ".installerLock").exists()
    assert eclipse_version(target) == cs.OLDER_VERSION
    assert not (tmp_path / "record-jre").exists()

    # A block that is no archive at all.
    target = tmp_path / "fresh"
    done = cs.run(bundles["junk"], ["-silent", "-installpath", target], home=home,
                  record=tmp_path / "record-fresh")
    assert done.stdout == cs.EXTRACTING_INSTALLER
    assert done.stderr == ("ERROR: Extracting install failed: 17\n"
                           + kvtest.damaged_setup(bundles["junk"]))
    assert done.returncode == 1
    assert cs.listing(target) == [".installerLock"]
    assert not (tmp_path / "record-fresh").exists()


def test_a_damaged_file_does_not_replace_the_installed_one(launcher, payloads, tmp_path,
                                                           home):
    bundles = damaged_bundles(launcher, payloads, tmp_path / "bundles")
    target = tmp_path / "older"
    prepare(target, installed=cs.OLDER_VERSION)
    before = kvtest.snapshot(target)
    done = cs.run(bundles["i"], ["-silent", "-installpath", target], home=home)
    assert (done.returncode, done.stderr) == (
        1, "ERROR: Extracting install failed: 3\n" + kvtest.damaged_setup(bundles["i"]))
    # The damaged file is the archive's first: nothing of the new installer
    # is written, the older one stays whole.
    before[".installerLock"] = ("file", b"", (target / ".installerLock").stat().st_mode & 0o7777)
    assert kvtest.snapshot(target) == before


def test_installer_that_cannot_be_started_ends_with_1(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    target = tmp_path / "not-executable"
    prepare(target, installed=kvtest.DEFAULT_VERSION)
    (kvtest.installer_dir(target) / "kvInstaller").chmod(0o644)
    done = cs.run(program, ["-silent", "-installpath", target], home=home)
    assert (done.returncode, done.stdout, done.stderr) == (
        1, cs.LAUNCHING + "Launching failed\n", "")

    # An installer archive without the program in it.
    empty_tree = tmp_path / "no-program"
    kvtest.installer_dir(empty_tree).mkdir(parents=True)
    (kvtest.installer_dir(empty_tree) / "readme.txt").write_text("no program here\n")
    lacking = payloads.bundle(tmp_path / "lacking" / launcher.name, launcher,
                              installer_archive=kvtest.seven_zip(empty_tree, tmp_path / "np.7z"))
    target = tmp_path / "missing"
    done = cs.run(lacking, ["-silent", "-installpath", target], home=home)
    assert (done.returncode, done.stdout, done.stderr) == (
        1, cs.EXTRACTING_BOTH + cs.LAUNCHING + "Launching failed\n", "")


def test_launcher_without_bundle_uses_an_installed_product(launcher, tmp_path, home):
    program = cs.copy_launcher(launcher, tmp_path / "media")
    empty = tmp_path / "empty"
    empty.mkdir()
    installer_only = tmp_path / "installer-only"
    prepare(installer_only, installed=kvtest.DEFAULT_VERSION, marker=False)
    for target in (empty, tmp_path / "does" / "not" / "exist", installer_only):
        done = cs.run(program, ["-silent", "-installpath", target], home=home)
        assert (done.returncode, done.stdout, done.stderr) == (1, "", kvtest.NO_PRODUCTS + "\n")
    assert not (tmp_path / "does").exists()
    assert list(empty.iterdir()) == []
    assert list(home.iterdir()) == []

    full = tmp_path / "full"
    prepare(full, installed=kvtest.DEFAULT_VERSION)
    older_runtime = tmp_path / "older-runtime"
    prepare(older_runtime, installed=kvtest.DEFAULT_VERSION, marker=False)
    (older_runtime / "jre" / "1.6.0_06" / "x86-linux2").mkdir(parents=True)
    for target in (full, older_runtime):
        before = kvtest.snapshot(target)
        record = tmp_path / (target.name + ".record")
        done = cs.run(program, ["-silent", "-installpath", target, "-x"], home=home,
                      record=record)
        assert done.stdout == cs.fall_back_warning(target) + cs.LAUNCHING
        assert (done.returncode, done.stderr) == (0, "")
        got = cs.record(record)
        assert got["argv0"] == cs.program_path(target)
        assert got["args"] == [*cs.CONSOLE_SWITCHES, "-silent", "-installpath", str(target), "-x"]
        assert kvtest.snapshot(target) == before


def test_patch_is_dropped_for_an_installed_2_2_installer(launcher, payloads, tmp_path, home):
    bare = cs.copy_launcher(launcher, tmp_path / "bare")
    bundled_22 = payloads.bundle(tmp_path / "b22" / launcher.name, launcher, version="2.2.5.1")
    bundled_23 = payloads.bundle(tmp_path / "b23" / launcher.name, launcher, version="2.3.0.1")
    current = payloads.bundle(tmp_path / "cur" / launcher.name, launcher)
    args = ["-silent", "-patch", "-Patch", "-yum", "install", "-patch", "-global", "-PATCH"]
    kept = [*cs.CONSOLE_SWITCHES, "-silent", "-patch", "-patch", "-yum", "install", "-patch",
            "-global", "-patch"]
    dropped = [*cs.CONSOLE_SWITCHES, "-silent", "-yum", "install", "-patch", "-global"]
    cases = [
        ("bundle carries 2.2", bundled_22, None, dropped, "2.2.5.1"),
        ("no bundle, 2.2 installed", bare, "2.2.9.1", dropped, "2.2.9.1"),
        ("bundle carries 2.3", bundled_23, None, kept, "2.3.0.1"),
        ("2.2 replaced by a newer bundle", current, "2.2.9.1", kept, kvtest.DEFAULT_VERSION),
    ]
    for name, program, installed, expected, version_after in cases:
        target = tmp_path / name.replace(" ", "_")
        prepare(target, installed=installed, marker=installed is not None)
        record = tmp_path / (target.name + ".record")
        done = cs.run(program, [*args, "-installpath", target], home=home, record=record)
        assert (done.returncode, done.stderr) == (0, ""), name
        got = cs.record(record)
        # -installpath stands after -global, in the default section again.
        assert got["args"] == [*expected, "-installpath", str(target)], name
        assert eclipse_version(target) == version_after, name


def test_planted_links_are_never_followed_and_nothing_is_inherited(launcher, payloads, tmp_path,
                                                                    home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "keep.txt").write_text("not the launcher's to delete")
    target = tmp_path / "target"
    (target / PROFILE).parent.mkdir(parents=True)
    (target / PROFILE).symlink_to(outside)
    (target / ".installerLock").symlink_to(tmp_path / "made-through-installer-lock")
    (target / ".jreLock").symlink_to(tmp_path / "made-through-jre-lock")
    # A FIFO at the installed version file is no version (and no wait).
    kvtest.installer_dir(target).mkdir(parents=True)
    os.mkfifo(kvtest.installer_dir(target) / ".eclipseproduct")
    fds = tmp_path / "fds"
    # The installer lists what its descriptors lead to; its standard input
    # is closed, so the launcher's own file would have been descriptor 0.
    hook = f'ls -l /proc/$$/fd > "{fds}"'
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": str(home),
           "TMPDIR": str(tmp_path), "KV_HOOK": hook}
    for args in (["-installPath", str(target)], ["-validate"]):  # exec'ed, then waited for
        done = subprocess.run(["/bin/sh", "-c", 'exec "$0" "$@" <&-', str(program), "-silent",
                               *args], env=env, capture_output=True, text=True, timeout=120)
        assert (done.returncode, done.stdout, done.stderr) == (
            0, cs.EXTRACTING_BOTH + cs.LAUNCHING, ""), args
        held = dict(line.split()[-3::2] for line in fds.read_text().splitlines() if " -> " in line)
        assert "0" not in held, held
        assert str(program) not in held.values(), held
    assert not (tmp_path / "made-through-installer-lock").exists()
    assert not (tmp_path / "made-through-jre-lock").exists()
    assert not os.path.lexists(target / ".installerLock")
    assert not os.path.lexists(target / ".jreLock")
    assert (outside / "keep.txt").read_text() == "not the launcher's to delete"
    tree = kvtest.snapshot(target)
    assert tree.pop(str(PROFILE.parent)) == ("dir",)  # the link in it is gone
    assert tree == payloads.expected_tree()
