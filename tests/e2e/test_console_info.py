"""Console launcher, informational runs: -version, -help and the yum help,
-showargsandexit, and a launcher that cannot open its own file."""

import console_support as cs
import kvtest
from console_support import payloads_fixture  # noqa: F401  (the payloads fixture)

# The usage texts are the launcher's own (core/usage.cpp, whose unit test
# checks their layout); a run is told by each text's first and last lines.
USAGES = {
    "main": ("-----------------------------------------------------\n"
             "-        Usage of the Korvane Installer          -\n",
             "-       and are case sensitive after -yum and -vmargs           -\n"
             "-----------------------------------------------------------------\n"),
    "yum": ("usage: -yum [options] COMMAND\n",
            "  --version             show Yum version and exit\n"),
}


def usage_printed(stdout, release):
    """The name of the one usage text `stdout` holds after `release`, else None."""
    if not stdout.startswith(release):
        return None
    body = stdout[len(release):]
    for name, (head, tail) in USAGES.items():
        if body.startswith(head) and body.endswith(tail) and body.count(head) == 1:
            return name
    return None


def test_version_prints_only_the_release_lines(launcher, payloads, tmp_path, home):
    media = tmp_path / "media"
    one = payloads.bundle(media / "one" / launcher.name, launcher)
    two = payloads.bundle(media / "two" / launcher.name, launcher,
                          releases=("KVINSTALLER_FIRST", "KVINSTALLER_SECOND"))
    target = tmp_path / "target"
    cases = [
        (one, ["-version"], cs.release_line()),
        (one, ["--VERSION"], cs.release_line()),
        (one, ["-yum", "--version"], cs.release_line()),
        (one, ["-version", "-silent", "-installpath", target], cs.release_line()),
        # The block nearer the end of the file comes first.
        (two, ["-version"], cs.release_line("KVINSTALLER_SECOND")
         + cs.release_line("KVINSTALLER_FIRST")),
        # Without a bundle there is no release to print.
        (launcher, ["-version"], ""),
    ]
    for program, args, expected in cases:
        done = cs.run(program, args, home=home, record=tmp_path / "record")
        assert (done.returncode, done.stdout, done.stderr) == (0, expected, ""), args
    assert not target.exists()
    assert not (tmp_path / "record").exists()
    assert list(home.iterdir()) == []


def test_help_prints_the_usage_of_the_section_in_force(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    cases = [
        (["-help"], "main"),
        (["--HELP"], "main"),
        (["-help", "-version"], "main"),
        (["-silent", "-help", "-installpath", "relative"], "main"),
        (["-yum", "--help"], "yum"),
        (["-yum", "install", "-h"], "yum"),
        (["-YUM", "-h"], "yum"),
        (["-help", "-yum"], "yum"),
        (["-yum", "--help", "-global"], "main"),
        # Not a switch in the scan: forwarded as an option without effect.
        (["--yum", "-help"], "main"),
    ]
    cases = [(program, args, cs.release_line(), usage) for args, usage in cases]
    # Without a bundle only the usage is printed.
    cases.append((launcher, ["-help"], "", "main"))
    for program, args, release, usage in cases:
        done = cs.run(program, args, home=home)
        assert (done.returncode, done.stderr) == (0, ""), args
        assert usage_printed(done.stdout, release) == usage, (args, done.stdout)
    assert list(home.iterdir()) == []


def test_showargsandexit_lists_the_installer_arguments_instead_of_launching(
        launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher)
    target = tmp_path / "new" / "target"
    record = tmp_path / "record"
    done = cs.run(program, ["-silent", "-installPath", target, "-Foo", "Bar",
                            "-showargsandexit", "-vmargs", "-Xmx1g"], home=home, record=record)
    expected = [str(program), *cs.CONSOLE_SWITCHES, "-silent", "-installpath", str(target),
                "-foo", "Bar", "-showargsandexit", "-vmargs", "-Xmx1g"]
    assert done.returncode == 0
    assert done.stderr == ""
    assert done.stdout == cs.EXTRACTING_BOTH + "".join(
        f"argv[{i}] = {text}\n" for i, text in enumerate(expected))
    assert not record.exists()
    assert kvtest.snapshot(target) == payloads.expected_tree()
    assert (home / ".kvInstaller.loc").read_text() == str(target)

    # An early end still lists the arguments, the VM arguments numbered on.
    done = cs.run(program, ["-silent", "-showargsandexit", "-vmargs", "-Xms1m"], home=home)
    expected = [str(program), *cs.CONSOLE_SWITCHES, "-silent", "-showargsandexit",
                "-vmargs", "-Xms1m"]
    assert (done.returncode, done.stderr) == (1, cs.SILENT_PATH_REQUIRED)
    assert done.stdout == "".join(f"argv[{i}] = {text}\n" for i, text in enumerate(expected))


def test_launcher_that_cannot_open_itself_ends_with_1(launcher, tmp_path, home):
    for argv0 in ("no-such-setup", str(tmp_path / "missing" / "setup_linux")):
        done = cs.run_as(launcher, argv0, ["-version"], home=home, cwd=tmp_path)
        assert (done.returncode, done.stdout, done.stderr) == (
            1, "", "Can't open setup itself.\n"), argv0
