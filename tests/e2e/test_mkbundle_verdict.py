"""One truth for what installs: for every bundle of a table of tricky
archives, `mkbundle --verify` says OK, and a checked build writes it, if
and only if a silent install into an empty folder exits 0 with every entry
of every archive in place."""
import os
import subprocess

import pytest

import fault_support as fs
import kvtest
import sevenzip_writer as sz

P = "maintenance/kvInstaller/x86-linux2"
LONG = "a/" * 2100  # a link target over 4095 bytes

# case: (installs, installer extras, runtime extras, payload entries or None)
CASES = {
    "plain": (True, [], [], None),
    "link inside its folder": (True, [sz.link(f"{P}/kvInstaller.link", "kvInstaller")], [], None),
    "link to a sibling folder": (True, [sz.Entry("lib/a.so", b"a"), sz.link("lib2", "lib")], [],
                                 None),
    "payload": (True, [], [], [sz.Entry("docs/readme.txt", b"read me")]),
    "link then an entry below it": (False, [sz.Entry("sub/f", b"f"), sz.link("d", "sub"),
                                            sz.Entry("d/g", b"g")], [], None),
    "entry under a staging-named folder": (False, [sz.Entry(".kvstage-1-abc/x", b"x")], [], None),
    "link to .": (False, [sz.link("here", ".")], [], None),
    "links that lead to each other": (True, [sz.link("x", "y"), sz.link("y", "x"),
                                             sz.link("me", "me")], [], None),
    "link to the install root": (False, [sz.link("a/root", "..")], [], None),
    "link where a folder was made": (False, [sz.Entry("m/f", b"f"), sz.Entry("n/g", b"g"),
                                             sz.link("m", "n")], [], None),
    "entry named like a lock file": (False, [sz.Entry(".installerLock", b"")], [], None),
    "entry below a lock file's name": (False, [], [], [sz.Entry(".jreLock/x", b"x")]),
    "file then an entry below it": (False, [sz.Entry("f", b"1"), sz.Entry("f/g", b"2")], [],
                                    None),
    "name ending in /": (False, [sz.Entry("trail/", b"x")], [], None),
    "link target over 4095 bytes": (False, [sz.link("long", LONG)], [], None),
    "self -> .": (False, [sz.link(f"{P}/self", ".")], [], None),
    "up -> ../../..": (False, [sz.link(f"{P}/up", "../../..")], [], None),
    "runtime link under the installer's files": (
        False, [sz.Entry(f"{P}/plugins/p.jar", b"jar")], [sz.link(f"{P}/plugins", "jre/1.8.0_40")],
        None),
}


def entries_of(tree):
    return [sz.Entry(str(path.relative_to(tree)), path.read_bytes(),
                     mode=0o100000 | (path.stat().st_mode & 0o777))
            for path in sorted(tree.rglob("*")) if path.is_file()]


def in_place(target, archives):
    """Whether every file and link entry is at its place, as the archive holds it."""
    for entries in archives:
        for entry in entries:
            path = target / entry.name
            if entry.mode == 0o120777:
                if not path.is_symlink() or os.readlink(path) != entry.data.decode():
                    return False
            elif path.is_symlink() or not path.is_file() or path.read_bytes() != entry.data:
                return False
    return True


@pytest.mark.parametrize("case", list(CASES))
def test_verify_says_ok_exactly_when_the_launcher_installs(tmp_path, case):
    installs, inst_extra, jre_extra, payload = CASES[case]
    launcher = kvtest.dist_dir() / "setup_linux64"
    inst = entries_of(kvtest.make_installer_tree(tmp_path / "inst-tree")) + inst_extra
    jre = entries_of(kvtest.make_jre_tree(tmp_path / "jre-tree")) + jre_extra
    archives = [inst, jre] + ([payload] if payload else [])
    given = {"installer": sz.write_7z(tmp_path / "i.7z", inst),
             "jre": sz.write_7z(tmp_path / "j.7z", jre)}
    if payload:
        given["payload"] = sz.write_7z(tmp_path / "p.7z", payload)
    bundle = kvtest.mkbundle(tmp_path / "setup", launcher, version=kvtest.DEFAULT_VERSION,
                             **given)

    trials = tmp_path / "tmp"  # the trial installs' folders, removed again
    trials.mkdir()
    env = dict(os.environ, TMPDIR=str(trials))
    verified = subprocess.run([str(kvtest.dist_dir() / "mkbundle"), "--verify", str(bundle)],
                              capture_output=True, text=True, env=env)
    assert verified.stdout.startswith(f"{bundle}: built on the Linux x86-64 launcher ")
    says_ok = "verdict: OK" in verified.stdout
    assert says_ok == (verified.returncode == 0), verified.stdout

    target = tmp_path / "place" / "kv"
    done = fs.run_install(bundle, target, tmp_path)
    installed = done.returncode == 0 and in_place(target, archives)

    checked = subprocess.run([str(kvtest.dist_dir() / "mkbundle"), "-o", str(tmp_path / "checked"),
                              "--launcher", str(launcher), "--version", kvtest.DEFAULT_VERSION,
                              "--name", kvtest.PRODUCT_NAME, "--id", kvtest.PRODUCT_ID,
                              *[arg for key, path in given.items()
                                for arg in (f"--{key}", str(path))]],
                             capture_output=True, text=True, env=env)
    assert installed == installs, done.stdout + done.stderr
    assert says_ok == installs, verified.stdout
    assert (checked.returncode == 0) == installs, checked.stderr
    assert (tmp_path / "checked").exists() == installs
    assert not list(trials.iterdir())


@pytest.mark.parametrize("case", ["self -> .", "up -> ../../..", "runtime link under plugins/"])
def test_checked_builds_from_folders_refuse_what_the_launcher_refuses(tmp_path, case):
    inst = kvtest.make_installer_tree(tmp_path / "inst")
    jre = kvtest.make_jre_tree(tmp_path / "jre")
    if case == "runtime link under plugins/":
        (inst / P / "plugins").mkdir()
        (inst / P / "plugins" / "p.jar").write_bytes(b"jar")
        os.symlink("jre/1.8.0_40", jre / P / "plugins")
        refused = f"{P}/plugins/p.jar"
    else:
        os.symlink("." if case == "self -> ." else "../../..", inst / P / case.split()[0])
        refused = f"{P}/{case.split()[0]}"
    out = tmp_path / "setup"
    done = subprocess.run([str(kvtest.dist_dir() / "mkbundle"), "-o", str(out), "--launcher",
                           str(kvtest.dist_dir() / "setup_linux64"), "--version",
                           kvtest.DEFAULT_VERSION, "--name", kvtest.PRODUCT_NAME, "--id",
                           kvtest.PRODUCT_ID, "--installer", str(inst), "--jre", str(jre)],
                          capture_output=True, text=True)
    assert done.returncode == 1 and not out.exists(), done.stderr
    assert f"Refusing unsafe archive entry '{refused}'" in done.stderr, done.stderr
