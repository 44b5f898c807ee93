"""Console launcher, informational runs: -version, -help and the yum help,
-showargsandexit, and a launcher that cannot open its own file."""

import console_support as cs
import kvtest
from console_support import payloads_fixture  # noqa: F401  (the payloads fixture)

MAIN_USAGE = [
    "-----------------------------------------------------",
    "-        Usage of the Korvane Installer          -",
    "-----------------------------------------------------",
    "  -help\t\t\tprint this help",
    "  -silent\t\trun in non-interactive, command-line mode.",
    "  -installPath <path>\tfull path to the target installation directory",
    "  -archs\t\tspecify the target architectures",
    "  -nosplash\t\tdo not show the splash screen",
    "  -skipQuota\t\tskip quota check",
    "  -proxy\t\tspecify proxy server, \n\t\t\t<server ip>:<port>:<http|socks>[:<username>:<password>]",
    "  -installerUpdateURLS\tlist of locations to search for installer updates",
    "  -productUpdateURLS\tlist of locations to search for product updates",
    "  -add\t\t\tinstall products and update existing products if newer\n\t\t\tversions are available",
    "  -applyUpdates\t\tupdate existing products if newer versions are available",
    "  -remove\t\tremove products",
    "  -patch\t\tsearch for and install patches",
    "  -print_toc (<path>)\tprint the contents of a patch to the console. Appending\n\t\t\ta file path"
    " redirects the output to the file.\n\t\t\tOnly relevant with the '-patch -silent' options.",
    "  -extract <path>\texport patch contents to a directory. Only \n\t\t\trelevant with the"
    " '-patch -silent' options.",
    "  -validate\t\tvalidate the integrity of the media based on the \n\t\t\tspecified level.",
    "  -download\t\tdownload content for a later installation.",
    "  -yum [yum options] COMMAND.\n\t\t\trun yum COMMAND. See -yum --help for details",
    "  -repousername\t\tusername for repository authentication.",
    "  -repopassword\t\tpassword for repository authentication.",
    "  -recipe\t\t<file> full path to the installation recipe file",
    "  -check [dir]\t\tcheck integrity of installed content for (optional)\n\t\t\tdir or complete"
    " installation.",
    "  -install-KVL7\t\texisting Korvane Linux 7 installations only; skip\n\t\t\tsteps preceding"
    " the Korvane Linux 7 git operations.",
    "  -install-KVL-mode [minimal|full]\n\t\t\tKorvane Linux installations only;\n\t\t\tSelects"
    " 'minimal' or 'full' installation mode.",
    "  -baseline <release>\tSpecify an ID or list to list the currently \n\t\t\tavailable baselines.",
    "-----------------------------------------------------------------",
    "- NOTE: option names are case insensitive in default (-p2) mode -",
    "-       and are case sensitive after -yum and -vmargs           -",
    "-----------------------------------------------------------------",
]

YUM_USAGE = [
    "usage: -yum [options] COMMAND",
    "\nList of Commands:\n",
    "groupinstall   Install all packages of a group",
    "grouplist      List available package groups",
    "install        Install one or more packages",
    "localinstall   Install a local rpm package or packages on your system",
    "list           List a package or groups of packages",
    "update         Update installed packages to latest available versions",
    "localupdate    Update a local rpm package or packages on your system",
    "downgrade      Downgrade installed package or packages on your system",
    "remove         Remove one or more packages",
    "\noptions:",
    "  -h, --help            show this help message and exit",
    "  -y                    answer yes for all questions",
    "  --installroot=[path]  set install root",
    "  --version             show Yum version and exit",
]


def lines(items):
    return "".join(item + "\n" for item in items)


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
    main = cs.release_line() + lines(MAIN_USAGE)
    yum = cs.release_line() + lines(YUM_USAGE)
    cases = [
        (["-help"], main),
        (["--HELP"], main),
        (["-help", "-version"], main),
        (["-silent", "-help", "-installpath", "relative"], main),
        (["-yum", "--help"], yum),
        (["-yum", "install", "-h"], yum),
        (["-YUM", "-h"], yum),
        (["-help", "-yum"], yum),
        (["-yum", "--help", "-global"], main),
        # Not a switch in the scan: forwarded as an option without effect.
        (["--yum", "-help"], main),
    ]
    cases = [(program, args, expected) for args, expected in cases]
    # Without a bundle only the usage is printed.
    cases.append((launcher, ["-help"], lines(MAIN_USAGE)))
    for program, args, expected in cases:
        done = cs.run(program, args, home=home)
        assert (done.returncode, done.stderr) == (0, ""), args
        assert done.stdout == expected, args
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
