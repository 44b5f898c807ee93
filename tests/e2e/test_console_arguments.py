"""Console launcher, the installer's arguments: embedded arguments and the
case rules, the .ini file beside the launcher, through -ini and in the
customization folder, -vmargs from all three sources, and the files the
launcher looks for beside itself."""

import console_support as cs
from console_support import payloads_fixture  # noqa: F401  (the payloads fixture)

INI_LINES = [
    "  ${iniloc}/plugins  ",
    "-data=${iniloc}/ws",
    "# a comment",
    "",
    "   \t",
    "  # an indented comment",
    "-Dname=Value",
    "two words # stay one argument",
    "x=${iniloc}:${iniloc}",
]


def ini_arguments(folder):
    """What INI_LINES become for an .ini file in `folder` (before the scan)."""
    return [f"{folder}/plugins", f"-data={folder}/ws", "-Dname=Value",
            "two words # stay one argument", f"x={folder}:${{iniloc}}"]


def scanned(args):
    """The default-section scan: options are lower-cased."""
    return [a.lower() if a.startswith("-") else a for a in args]


def installed_args(program, args, home, tmp_path, **kw):
    record = tmp_path / "record"
    if record.exists():
        record.unlink()
    done = cs.run(program, args, home=home, record=record, **kw)
    assert (done.returncode, done.stderr) == (0, ""), args
    assert done.stdout.endswith(cs.LAUNCHING)
    return cs.record(record)["args"]


def test_embedded_arguments_and_case_rules(launcher, payloads, tmp_path, home):
    program = payloads.bundle(tmp_path / "media" / launcher.name, launcher,
                              args=["-First", "--SILENT", "Embedded Value"])
    target = tmp_path / "target"
    args = installed_args(program, ["-InstallPath", target, "-Dname=Value", "KeepCase",
                                    "--Proxy", "p:1", "-winconsole", "-vmargs"],
                          home, tmp_path)
    assert args == [*cs.CONSOLE_SWITCHES, "-first", "-silent", "Embedded Value", "-installpath",
                    str(target), "-dname=value", "KeepCase", "-proxy", "p:1", "-winconsole"]


def test_ini_file_beside_the_launcher(launcher, payloads, tmp_path, home):
    media = tmp_path / "media"
    program = payloads.bundle(media / launcher.name, launcher)
    (media / "setup.ini").write_text("\n".join(INI_LINES) + "\n")
    target = tmp_path / "target"
    user = ["-silent", "-installpath", str(target), "-User"]
    expected = [*cs.CONSOLE_SWITCHES, *scanned(ini_arguments(media) + user)]
    assert installed_args(program, user, home, tmp_path) == expected

    # Started by a relative name from its own folder.
    record = tmp_path / "record"
    done = cs.run_as(program, f"./{launcher.name}", user, home=home, cwd=media,
                     env={"KV_RECORD": str(record)})
    assert (done.returncode, done.stdout, done.stderr) == (0, cs.LAUNCHING, "")
    assert cs.record(record)["args"] == expected


def test_ini_option_and_customization_folder(launcher, payloads, tmp_path, home):
    media = tmp_path / "media"
    program = payloads.bundle(media / launcher.name, launcher)
    (media / "setup.ini").write_text("-beside\n")
    other = tmp_path / "other"
    other.mkdir()
    (other / "a.ini").write_text("-from-a\n${iniloc}\n")
    (other / "b.ini").write_text("-from-b\n")
    target = tmp_path / "target"
    base = ["-silent", "-installpath", str(target)]
    cases = [
        ([*base, "-ini", other / "a.ini"], ["-from-a", str(other), *base]),
        ([*base, "-ini", other / "a.ini", "-ini", other / "b.ini"],
         ["-from-a", str(other), *base, "-ini", str(other / "b.ini")]),
        # "-ini" is case-sensitive and needs a value.
        ([*base, "-INI", other / "b.ini"], ["-beside", *base, "-ini", str(other / "b.ini")]),
        ([*base, "-ini"], ["-beside", *base, "-ini"]),
        # A named file that cannot be read adds nothing, and nothing else is tried.
        ([*base, "-ini", other / "missing.ini"], base),
    ]
    for user, expected in cases:
        got = installed_args(program, user, home, tmp_path)
        assert got == [*cs.CONSOLE_SWITCHES, *scanned(expected)], user

    # A relative name is found from the current folder, which the
    # placeholder then names; a long line stays one argument.
    long_line = "-long=" + "x" * 5000
    (other / "c.ini").write_text("${iniloc}/rel\n" + long_line + "\n")
    got = installed_args(program, [*base, "-ini", "c.ini"], home, tmp_path, cwd=other)
    assert got == [*cs.CONSOLE_SWITCHES, f"{other}/rel", long_line, *base]

    # Without an .ini beside it the customization folder is tried; the
    # placeholder names the folder as the file was reached.
    (media / "setup.ini").unlink()
    custom = tmp_path / "installer_customization"
    custom.mkdir()
    (custom / "setup.ini").write_text("\n".join(INI_LINES) + "\n")
    got = installed_args(program, base, home, tmp_path)
    reached = media / ".." / "installer_customization"
    assert got == [*cs.CONSOLE_SWITCHES, *scanned(ini_arguments(reached) + base)]


def test_vmargs_from_all_three_sources_come_last(launcher, payloads, tmp_path, home):
    media = tmp_path / "media"
    program = payloads.bundle(media / launcher.name, launcher,
                              args=["-Embedded", "-vmargs", "-Xms64m", "-Dembedded=A"])
    (media / "setup.ini").write_text("-FromIni\n-vmargs\n-Xmx1g\n")
    target = tmp_path / "target"
    got = installed_args(program, ["-User", "-silent", "-installpath", target, "-vmargs",
                                   "-Dk=V", "-Silent"], home, tmp_path)
    assert got == [*cs.CONSOLE_SWITCHES, "-embedded", "-fromini", "-user", "-silent",
                   "-installpath", str(target),
                   "-vmargs", "-Xms64m", "-Dembedded=A", "-Xmx1g", "-Dk=V", "-Silent"]

    # A lone "-vmargs" adds nothing; VM arguments never select an option.
    plain = payloads.bundle(tmp_path / "plain" / launcher.name, launcher)
    done = cs.run(plain, ["-vmargs", "-silent"], home=home)
    assert done.stdout == cs.gui_failure_text(launcher) + cs.FALLING_BACK
    assert (done.returncode, done.stderr) == (1, cs.SILENT_PATH_REQUIRED)
    got = installed_args(plain, ["-silent", "-installpath", target, "-vmargs"], home, tmp_path)
    assert got == [*cs.CONSOLE_SWITCHES, "-silent", "-installpath", str(target)]


def test_side_files_next_to_the_launcher(launcher, payloads, tmp_path, home):
    media = tmp_path / "media"
    program = payloads.bundle(media / launcher.name, launcher)
    target = tmp_path / "target"
    base = ["-silent", "-installpath", str(target)]

    def args_with(*extra):
        return installed_args(program, [*base, *extra], home, tmp_path)[len(cs.CONSOLE_SWITCHES):]

    assert args_with() == base
    (media / "dvds.repos").write_text("")
    assert args_with() == [*base, "-sdf", f"{media}/dvds.repos"]
    (media / "dvds.properties").mkdir()  # any kind of entry counts
    assert args_with() == [*base, "-sdf", f"{media}/dvds.properties"]
    (media / "sdf.xml").write_text("<sdf/>")
    (media / "yum.repos").write_text("a file, not a folder")
    assert args_with() == [*base, "-sdf", f"{media}/sdf.xml"]
    (media / "yum.repos").unlink()
    (media / "yum.repos").mkdir()
    own = ["-sdf", f"{media}/sdf.xml", "-yumdefaults", f"{media}/yum.repos"]
    assert args_with() == [*base, *own]

    # The user's own values suppress the launcher's; a trailing option does not.
    assert args_with("-SDF", "mine.xml", "-yumdefaults", "mine") == [
        *base, "-sdf", "mine.xml", "-yumdefaults", "mine"]
    assert args_with("-YumDefaults", "Mine") == [*base, "-yumdefaults", "Mine", *own[:2]]
    assert args_with("-sdf") == [*base, "-sdf", *own]

    # The splash picture of a branding folder, relative or absolute.
    (media / "brand").mkdir()
    (media / "brand" / "splash.bmp").write_bytes(b"BM")
    elsewhere = tmp_path / "elsewhere"
    (elsewhere / "splash.bmp").mkdir(parents=True)  # a folder is ignored
    assert args_with("-branding", "brand") == [
        *base, "-branding", "brand", *own, "-showSplash", f"{media}/brand/splash.bmp"]
    assert args_with("-branding", media / "brand") == [
        *base, "-branding", str(media / "brand"), *own, "-showSplash",
        f"{media}/brand/splash.bmp"]
    assert args_with("-branding", elsewhere) == [*base, "-branding", str(elsewhere), *own]
    assert args_with("-branding", "-x") == [*base, "-branding", "-x", *own]

    # Found beside the launcher also when it is started by a relative name.
    record = tmp_path / "record"
    done = cs.run_as(program, f"media/{launcher.name}", base, home=home, cwd=tmp_path,
                     env={"KV_RECORD": str(record)})
    assert (done.returncode, done.stdout, done.stderr) == (0, cs.LAUNCHING, "")
    assert cs.record(record)["args"] == [*cs.CONSOLE_SWITCHES, *base, *own]

    # Every -installpath is rewritten with the path that was checked.
    assert args_with("-InstallPath", "~/later") == [
        "-silent", "-installpath", f"{home}/later", "-installpath",
        f"{home}/later", *own]

    # Before the yum section, never inside; --installroot= rewritten.
    got = installed_args(program, ["-silent", "-installpath", "~/inst", "-yum", "install",
                                   "pkg", "--installroot=~/inst"], home, tmp_path)
    assert got == [*cs.CONSOLE_SWITCHES, "-silent", "-installpath", f"{home}/inst", *own,
                   "-yum", "install", "pkg", f"--installroot={home}/inst"]
