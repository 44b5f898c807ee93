"""Console launcher, temporary installs and the launch: -validate and
-download in their forms, the temporary folder (made under $TMPDIR, private,
removed afterwards without following links), the installer's exit code or
signal, and the fall-back from GUI to text mode without a display."""

from pathlib import Path

import console_support as cs
import kvtest
from console_support import payloads_fixture  # noqa: F401  (the payloads fixture)


def temporary_folder(args):
    """The install folder the launcher handed to the installer."""
    return Path(args[args.index("-installPath") + 1])


def test_validate_uses_a_private_temporary_folder_and_removes_it(launcher, payloads, tmp_path,
                                                                  home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    tmpdir = tmp_path / "tmp"
    tmpdir.mkdir()
    record = tmp_path / "record"
    mode = tmp_path / "mode"
    note_mode = f'stat -c %a ../../.. > "{mode}"; '
    # (installer's KV_HOOK, KV_EXIT, expected exit code)
    cases = [
        ("", "0", 0),
        ("", "3", 3),
        ("kill -KILL $$", "0", 9),
        ("kill -TERM $$", "0", 15),
    ]
    for hook, exit_code, expected in cases:
        done = cs.run(program, ["-validate"], home=home, record=record,
                      env={"TMPDIR": str(tmpdir), "KV_HOOK": note_mode + hook,
                           "KV_EXIT": exit_code})
        assert (done.returncode, done.stdout, done.stderr) == (
            expected, cs.EXTRACTING_BOTH + cs.LAUNCHING, ""), hook
        got = cs.record(record)
        folder = temporary_folder(got["args"])
        assert got["args"] == [*cs.CONSOLE_SWITCHES, "-validate", "-installPath", str(folder)]
        assert folder.parent == tmpdir
        assert got["cwd"] == str(kvtest.installer_dir(folder))
        assert got["argv0"] == cs.program_path(folder)
        assert mode.read_text() == "700\n"
        assert list(tmpdir.iterdir()) == [], hook
    assert list(home.iterdir()) == []

    # Without TMPDIR the folder is made in /tmp.
    done = cs.run(program, ["-validate"], home=home, record=record)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    folder = temporary_folder(cs.record(record)["args"])
    assert folder.parent == Path("/tmp")
    assert not folder.exists()

    # A TMPDIR that the location check would refuse gives way to /tmp too.
    for name in ("with space", "with:colon"):
        refused = tmp_path / name
        refused.mkdir()
        done = cs.run(program, ["-validate"], home=home, record=record,
                      env={"TMPDIR": str(refused)})
        assert (done.returncode, done.stdout, done.stderr) == (
            0, cs.EXTRACTING_BOTH + cs.LAUNCHING, ""), name
        folder = temporary_folder(cs.record(record)["args"])
        assert folder.parent == Path("/tmp") and not folder.exists()
        assert list(refused.iterdir()) == []

    # Runs that end before the launch remove the folder too.
    done = cs.run(program, ["-validate", "-showargsandexit"], home=home, record=record,
                  env={"TMPDIR": str(tmpdir)})
    listed = done.stdout.splitlines()
    folder = Path(listed[-1].partition(" = ")[2])
    assert listed[:-1] == ["Extracting JRE...", "Extracting Installer...",
                           f"argv[0] = {program}", "argv[1] = --launcher.suppressErrors",
                           "argv[2] = -nosplash", "argv[3] = -validate",
                           "argv[4] = -showargsandexit", "argv[5] = -installPath"]
    assert folder.parent == tmpdir
    assert (done.returncode, done.stderr) == (0, "")
    assert list(tmpdir.iterdir()) == []

    # No folder can be made: nothing else happens.
    done = cs.run(program, ["-validate"], home=home, record=tmp_path / "unused",
                  env={"TMPDIR": str(tmp_path / "no-such-folder")})
    assert (done.returncode, done.stdout, done.stderr) == (
        1, "", "Error: could not create a temporary install folder.\n")
    assert not (tmp_path / "unused").exists()

    # With an install path the folder stays and the launcher becomes the
    # installer; nothing is remembered.
    target = tmp_path / "target"
    done = cs.run(program, ["-validate", "-installpath", target], home=home, record=record,
                  env={"TMPDIR": str(tmpdir), "KV_EXIT": "4"})
    assert (done.returncode, done.stdout, done.stderr) == (
        4, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-validate", "-installpath",
                                         str(target)]
    assert kvtest.snapshot(target) == payloads.expected_tree()
    assert list(tmpdir.iterdir()) == []
    assert list(home.iterdir()) == []


def test_removing_the_temporary_folder_never_follows_links(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    tmpdir = tmp_path / "tmp"
    tmpdir.mkdir()
    outside = tmp_path / "outside"
    (outside / "inner").mkdir(parents=True)
    (outside / "keep.txt").write_text("keep me")
    (outside / "inner" / "deep.txt").write_text("keep me too")
    before = kvtest.snapshot(outside)
    record = tmp_path / "record"
    env = {"TMPDIR": str(tmpdir), "KV_OUTSIDE": str(outside)}

    links = ('ln -s "$KV_OUTSIDE" ../../../outside-dir; '
             'ln -s "$KV_OUTSIDE/keep.txt" ../../../outside-file; '
             'mkdir ../../../sub; ln -s "$KV_OUTSIDE/inner" ../../../sub/deeper; '
             'ln -s "$KV_OUTSIDE" jre-link; ln -s /nowhere ../../../dangling')
    done = cs.run(program, ["-validate"], home=home, record=record,
                  env={**env, "KV_HOOK": links})
    assert (done.returncode, done.stdout, done.stderr) == (
        0, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    assert list(tmpdir.iterdir()) == []
    assert kvtest.snapshot(outside) == before

    # The folder itself replaced by a link to the outside: not removed
    # through the link, and reported.
    swap = ('T=$(cd ../../.. && pwd -P); mv "$T" "$T.moved"; ln -s "$KV_OUTSIDE" "$T"')
    done = cs.run(program, ["-validate"], home=home, record=record,
                  env={**env, "KV_HOOK": swap, "KV_EXIT": "6"})
    assert done.stdout == (cs.EXTRACTING_BOTH + cs.LAUNCHING
                           + "Failed to clean temporary files.\n")
    assert (done.returncode, done.stderr) == (6, "")
    assert kvtest.snapshot(outside) == before
    folder = temporary_folder(cs.record(record)["args"])
    assert folder.is_symlink()
    assert kvtest.snapshot(Path(str(folder) + ".moved")) == payloads.expected_tree()


def test_download_in_its_forms(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    tmpdir = tmp_path / "tmp"
    tmpdir.mkdir()
    record = tmp_path / "record"
    env = {"TMPDIR": str(tmpdir)}
    target = tmp_path / "target"

    # A download path and no install path: a temporary install, waited for.
    downloads = tmp_path / "new" / "downloads"
    done = cs.run(program, ["-Download", downloads, "-silent"],
                  home=home, record=record, env={**env, "KV_EXIT": "2"})
    assert (done.returncode, done.stdout, done.stderr) == (
        2, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    got = cs.record(record)
    folder = temporary_folder(got["args"])
    assert got["args"] == [*cs.CONSOLE_SWITCHES, "-download", str(downloads), "-silent",
                           "-installPath", str(folder)]
    assert folder.parent == tmpdir
    assert downloads.is_dir() and list(downloads.iterdir()) == []
    assert list(tmpdir.iterdir()) == []

    # "~/" in the download path; the install path serves as is.
    done = cs.run(program, ["-download", "~/dl", "-silent", "-installpath", target], home=home,
                  record=record, env=env)
    assert (done.returncode, done.stdout, done.stderr) == (
        0, cs.EXTRACTING_BOTH + cs.LAUNCHING, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-download", f"{home}/dl",
                                         "-silent", "-installpath", str(target)]

    # Without a path of its own the install path is the download path,
    # inserted after "-download" wherever it stands.
    for args, expected in (
            (["-download", "-silent", "-installpath", target],
             ["-download", str(target), "-silent", "-installpath", str(target)]),
            (["-silent", "-installpath", target, "-download"],
             ["-silent", "-installpath", str(target), "-download", str(target)])):
        done = cs.run(program, args, home=home, record=record, env=env)
        assert (done.returncode, done.stdout, done.stderr) == (0, cs.LAUNCHING, ""), args
        assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, *expected], args
    assert list(home.iterdir()) == [home / "dl"]

    # Failures.
    for args, expected in (
            (["-download", "-silent"], cs.DOWNLOAD_PATH_REQUIRED),
            (["-download", "relative", "-silent"], cs.invalid_path("relative")),
            (["-download", f"{tmp_path}/a:b", "-silent", "-installpath", target],
             cs.invalid_characters()),
            (["-download", f"{tmp_path}/dl", "-silent", "-installpath", "rel"],
             cs.invalid_path("rel"))):
        done = cs.run(program, args, home=home, record=tmp_path / "unused", env=env)
        assert (done.returncode, done.stdout, done.stderr) == (1, "", expected), args
        assert list(tmpdir.iterdir()) == [], args
    assert not (tmp_path / "unused").exists()
    assert not (tmp_path / "dl").exists()


def test_without_display_the_launcher_falls_back_to_text_mode(launcher, payloads, tmp_path,
                                                              home):
    media = tmp_path / "media"
    program = payloads.bundle(media / launcher.name, launcher)
    failure = cs.gui_failure_text(launcher)
    target = tmp_path / "target"
    record = tmp_path / "record"
    done = cs.run(program, ["-installpath", target, "-Proxy", "p"], home=home, record=record)
    assert done.stdout == failure + cs.FALLING_BACK + cs.EXTRACTING_BOTH + cs.LAUNCHING
    assert (done.returncode, done.stderr) == (0, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, "-silent", "-installpath",
                                         str(target), "-proxy", "p"]

    done = cs.run(program, [], home=home)
    assert (done.returncode, done.stdout, done.stderr) == (
        1, failure + cs.FALLING_BACK, cs.SILENT_PATH_REQUIRED)

    # The media's host check runs between the two messages.
    check = media / "installer" / "host_info" / "check_hosts"
    check.parent.mkdir(parents=True)
    check.write_text('#!/bin/sh\necho "host check: $0 $*"\nexit 7\n')
    check.chmod(0o755)
    done = cs.run(program, ["-proxy", "p"], home=home, input="")
    assert done.stdout == (failure + f"host check: {media}//installer/host_info/check_hosts "
                           "hosts\n" + cs.FALLING_BACK)
    assert (done.returncode, done.stderr) == (1, cs.SILENT_PATH_REQUIRED)
