"""setup.exe and setupc.exe under Wine, in console mode: informational runs,
console installs and the arguments the installer receives, the remembered
location in the registry, the temporary folder of -validate, signed
launchers, the console twin, and links planted in the install folder."""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

import kvtest
import winekit

pytestmark = [pytest.mark.windows, pytest.mark.slow]

RELEASE_LINE = "Korvane Installer version KVINSTALLER_2_7_1_REL03\n"
REGISTRY_KEY = r"HKCU\SOFTWARE\Korvane"


# The Wine prefix, the launchers under test and a scratch folder.
from winekit import media, wine, work  # noqa: F401,E402  (pytest fixtures)


def install(wine, program, work, args, exit_code=0, env=None, cwd=None):
    """A console run that records what the installer received."""
    record = work / "record.bin"
    full_env = {"KV_RECORD": winekit.windows_path(record), "KV_EXIT": str(exit_code)}
    full_env.update(env or {})
    done = wine.run(program, args, env=full_env, cwd=cwd)
    return done, (winekit.read_record(record) if record.exists() else None)


def test_version_and_help(wine, media):
    for program in (media.setup, media.setupc):
        done = wine.run(program, ["-version"])
        assert (done.returncode, done.stdout) == (0, RELEASE_LINE)
    done = wine.run(media.setup, ["-help"])
    assert done.returncode == 0
    assert done.stdout.startswith(RELEASE_LINE)
    assert "-        Usage of the Korvane Installer          -\n" in done.stdout
    assert "  -help\t\t\tprint this help\n" in done.stdout


def test_silent_without_install_path_is_refused(wine, media):
    done = wine.run(media.setup, ["-silent"])
    assert done.returncode == 1
    assert "Error: -installPath required in silent mode" in done.stderr


def test_console_install_into_fresh_folder(wine, media, work):
    target = work / "inst"
    done, record = install(wine, media.setup, work,
                           ["-silent", "-installPath", winekit.windows_path(target)], exit_code=7)
    assert done.returncode == 7, done.stderr
    # Output redirected by the caller stays redirected: the launcher's lines
    # and the installer's own line arrive in the same pipe, in order.
    assert "Extracting Installer...\n" in done.stdout
    tail = done.stdout[done.stdout.index("Launching installer...\n"):]
    assert tail == "Launching installer...\nstand-in installer ran with 5 arguments\n"
    folder = kvtest.installer_dir(target, winekit.PLATFORM)
    assert (folder / "kvInstallerc.exe").is_file()
    assert (folder / "jre" / kvtest.JRE_RELEASE / "COPYRIGHT").is_file()
    # The extraction lock leaves nothing of its own in the folder.
    assert not [p.name for p in target.iterdir() if p.name.startswith(".kvInstaller")]

    program = winekit.windows_path(target) + r"\maintenance\kvInstaller\x86-win32\kvInstallerc"
    assert record["cmdline"].startswith(f'"{program}" ')
    assert record["cwd"].lower() == winekit.windows_path(target).lower()
    assert record["args"] == ["--launcher.suppressErrors", "-nosplash", "-silent",
                              "-installpath", winekit.windows_path(target)]
    assert wine.reg_query(REGISTRY_KEY, "defaultLoc") == winekit.windows_path(target)


@pytest.mark.parametrize("tricky", [
    ["", "a b", "t\tab"],
    ['say "hi"', 'q"x', '"'],
    ["C:\\d e\\", "end\\", "two\\\\", 'x\\"y', "\\\\server\\share x\\"],
], ids=["empty-space-tab", "quotes", "backslashes"])
def test_arguments_reach_the_installer_unchanged(wine, media, work, tricky):
    target = winekit.windows_path(work / "inst")
    done, record = install(wine, media.setup, work, ["-silent", "-installPath", target, *tricky])
    assert done.returncode == 0, done.stderr
    assert record["args"][-len(tricky):] == tricky


def test_registry_value_per_product_and_read_back(wine, media, work):
    target = winekit.windows_path(work / "prod")
    done, _ = install(wine, media.setup, work,
                      ["-silent", "-productid", "kvtestkey:KvFolder", "-installPath", target])
    assert done.returncode == 0, done.stderr
    assert wine.reg_query(REGISTRY_KEY, "kvtestkey") == target

    # The console prompt of the twin program offers the stored location...
    done = wine.run(media.setupc, ["-productid", "kvtestkey:KvFolder", "-yum", "list"])
    assert f"Default install directory: {target}\n" in done.stdout
    assert done.returncode == 1
    assert "Error: --installroot= required in yum mode" in done.stderr
    # ...and without a stored value the product folder on drive C.
    done = wine.run(media.setupc, ["-productid", "kvother:OtherFolder", "-yum", "list"])
    assert "Default install directory: C:\\OtherFolder\n" in done.stdout

    # A stored value of more than 1023 characters is ignored.
    subprocess.run(["wine", "reg", "add", REGISTRY_KEY, "/v", "kvlong", "/d", "C:\\" + "x" * 1100,
                    "/f"], env=wine.env, capture_output=True, check=True, timeout=60)
    done = wine.run(media.setupc, ["-productid", "kvlong", "-yum", "list"])
    assert "Default install directory: C:\\Korvane\n" in done.stdout


def test_validate_installs_into_a_temporary_folder_and_removes_it(wine, media, work):
    done, record = install(wine, media.setup, work,
                           ["-validate", "-productid", "kvvalidate"], exit_code=3)
    assert done.returncode == 3, done.stderr
    assert "Failed to clean temporary files." not in done.stdout
    temp = record["cwd"]
    assert "\\tempfolder" in temp
    # Nothing is remembered for a temporary install.
    assert wine.reg_query(REGISTRY_KEY, "kvvalidate") is None
    # The folder is gone: ask Wine for the Linux name of its parent.
    parent, _, name = temp.rpartition("\\")
    unix = subprocess.run(["winepath", "-u", parent], env=wine.env, capture_output=True,
                          encoding="latin-1", timeout=60).stdout.strip()
    assert unix and Path(unix).is_dir()
    assert not (Path(unix) / name).exists()
    assert not [p for p in Path(unix).iterdir() if p.name.startswith("tempfolder")]


def sign(wine_work, exe, out):
    key, cert = wine_work / "key.pem", wine_work / "cert.pem"
    if not cert.exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", str(key), "-out", str(cert), "-days", "2",
                        "-subj", "/CN=Korvane Test Signing"], check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", str(cert), "-key", str(key),
                    "-in", str(exe), "-out", str(out)], check=True, capture_output=True)
    return out


def test_signed_launchers_find_their_bundle(wine, media, work):
    signed = sign(work, media.setup, work / "setup.exe")
    listing = subprocess.run([str(kvtest.dist_dir() / "mkbundle"), "--list", str(signed)],
                             capture_output=True, text=True)
    assert listing.returncode == 0
    assert [line.split()[0] for line in listing.stdout.splitlines()] == ["v", "i", "j", "r"]
    done = wine.run(signed, ["-version"])
    assert (done.returncode, done.stdout) == (0, RELEASE_LINE)

    # A bundle whose end is not 8-aligned: signing puts zero bytes before the
    # certificate table, and the launcher looks past them.
    unaligned = work / "unaligned.exe"
    shutil.copyfile(media.setup, unaligned)
    kvtest.append_block(unaligned, "x", b"odd", pad=False)
    assert unaligned.stat().st_size % 8 != 0
    signed = sign(work, unaligned, work / "unaligned-signed.exe")
    done = wine.run(signed, ["-version"])
    assert (done.returncode, done.stdout) == (0, RELEASE_LINE)
    target = winekit.windows_path(work / "inst")
    done, record = install(wine, signed, work, ["-silent", "-installPath", target])
    assert done.returncode == 0, done.stderr
    assert record["cwd"].lower() == target.lower()


def test_a_truncated_setup_says_it_is_damaged(wine, media, work):
    cut = work / "setup.exe"
    cut.write_bytes(media.setup.read_bytes()[:-5])
    target = work / "inst"
    done = wine.run(cut, ["-silent", "-installPath", winekit.windows_path(target)])
    assert done.returncode == 1
    named = kvtest.damaged_setup(winekit.windows_path(cut)).rstrip("\n")
    assert named.lower() in done.stderr.lower()
    assert "no Korvane products" not in done.stderr and not target.exists()
    # A launcher with nothing after its image still just finds no products.
    bare = work / "bare.exe"
    shutil.copyfile(kvtest.dist_dir() / "setup.exe", bare)
    done = wine.run(bare, ["-silent", "-installPath", winekit.windows_path(target)])
    assert done.returncode == 1
    assert kvtest.NO_PRODUCTS.rstrip("\n") in done.stderr and "damaged" not in done.stderr


def test_console_twin_runs_yum_commands(wine, media, work):
    target = winekit.windows_path(work / "inst")
    done, record = install(wine, media.setup, work,
                           ["-installPath", target, "-yum", "list", "a b"], exit_code=9)
    # The twin ran in a console of its own, and its exit code is the launcher's.
    assert done.returncode == 9, done.stderr
    assert "Launching installer..." not in done.stdout
    assert winekit.WindowsLaunchers.TWIN_MARK in record["args"]
    assert record["args"][-3:] == ["-yum", "list", "a b"]
    assert "-winconsole" not in record["args"]


def test_winconsole_runs_in_place(wine, media, work):
    target = winekit.windows_path(work / "inst")
    done, record = install(wine, media.setup, work,
                           ["-WinConsole", "-installPath", target, "-yum", "list"], exit_code=4)
    assert done.returncode == 4, done.stderr
    assert "Launching installer...\n" in done.stdout
    assert winekit.WindowsLaunchers.TWIN_MARK not in record["args"]
    assert not [a for a in record["args"] if a.lower().endswith("winconsole")]


def test_missing_twin_continues_in_the_launcher(wine, media, work):
    alone = work / "media"
    alone.mkdir()
    shutil.copyfile(media.setup, alone / "setup.exe")
    target = winekit.windows_path(work / "inst")
    done, record = install(wine, alone / "setup.exe", work,
                           ["-installPath", target, "-yum", "list"], exit_code=5)
    assert done.returncode == 5, done.stderr
    assert "Launching installer...\n" in done.stdout
    assert winekit.WindowsLaunchers.TWIN_MARK not in record["args"]


def test_names_outside_the_code_page_survive_every_path(wine, media, work):
    # Under an English locale (ANSI code page 1252, Unix names in UTF-8):
    # the launcher lies in such a folder, TEMP and the profile are such
    # folders, and so is the target.
    folder, profile, temp = work / "Загрузки例", work / "Дмитрий", work / "Темп例"
    for made in (folder, profile, temp):
        made.mkdir()
    setup = shutil.copy(media.setup, folder / "setup.exe")
    env = {"LC_ALL": "C.UTF-8", "TEMP": winekit.windows_path(temp), "TMP": winekit.windows_path(temp),
           "USERPROFILE": winekit.windows_path(profile)}
    target = winekit.windows_path(work / "инст" / "Прог例")
    done, record = install(wine, setup, work, ["-silent", "-productid", "kvuni", "-installPath",
                                               target, "-name=Ωμέγα例"], env=env)
    assert done.returncode == 0, done.stderr
    assert (kvtest.installer_dir(work / "инст" / "Прог例", winekit.PLATFORM) / "jre").is_dir()
    assert record["wcwd"].lower() == target.lower()
    assert record["wargs"][-3:] == ["-installpath", target, "-name=Ωμέγα例"]
    # The remembered location is read back whole by the next run...
    done = wine.run(media.setupc, ["-productid", "kvuni", "-yum", "list"], env=env)
    shown = f"Default install directory: {target}\n".encode("utf-8").decode("latin-1")
    assert shown in done.stdout
    # ...and a forbidden character is still refused, judged on the real ones.
    (work / "record.bin").unlink()
    done, record = install(wine, setup, work, ["-silent", "-installPath", target + "?"], env=env)
    assert done.returncode == 1 and record is None
    assert "invalid characters" in done.stdout + done.stderr


def test_relative_locations_are_made_whole(wine, media, work):
    # Checked, remembered and passed on as the whole path they name.
    for typed in ("relinst", "Z:relinst2"):
        whole = winekit.windows_path(work / typed.split(":")[-1])
        done, record = install(wine, media.setupc, work,
                               ["-silent", "-productid", "kvrel", "-installPath", typed], cwd=work)
        assert done.returncode == 0, done.stderr
        assert record["cwd"].lower() == whole.lower()
        assert record["args"][-2:] == ["-installpath", whole]
        assert wine.reg_query(REGISTRY_KEY, "kvrel") == whole


def test_only_system_known_libraries_are_imported(media):
    # Every DLL the loader resolves before main() is one the system always
    # takes from its own folder; comctl32 is loaded later, by absolute path.
    for program in (kvtest.dist_dir() / "setup.exe", kvtest.dist_dir() / "setupc.exe"):
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(program)],
                              capture_output=True, text=True, check=True).stdout
        names = {line.split(":", 1)[1].strip().lower()
                 for line in dump.splitlines() if "DLL Name:" in line}
        assert names <= {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll",
                         "ole32.dll", "msvcrt.dll"}, names
        # Windows 7 SP1 is the oldest system the launchers are built for.
        fields = dict(line.split(None, 1) for line in dump.splitlines()
                      if line.startswith(("MajorSubsystemVersion", "MinorSubsystemVersion",
                                          "MajorOSystemVersion", "MinorOSystemVersion")))
        assert fields == {"MajorSubsystemVersion": "6", "MinorSubsystemVersion": "1",
                          "MajorOSystemVersion": "6", "MinorOSystemVersion": "1"}, fields


def test_planted_links_in_the_install_folder_are_never_followed(wine, media, work):
    outside = work / "outside"
    outside.mkdir()
    (outside / "keep.txt").write_text("not the launcher's to delete")
    target = work / "linked"
    profile = target / "maintenance/kvInstaller/kvProfiles/Installer.x86-win32.profile"
    profile.parent.mkdir(parents=True)
    profile.symlink_to(outside)
    (target / ".installerLock").symlink_to(work / "made-through-installer-lock")
    (target / ".jreLock").symlink_to(work / "made-through-jre-lock")
    done, record = install(wine, media.setup, work,
                           ["-silent", "-installPath", winekit.windows_path(target)])
    assert done.returncode == 0, done.stderr
    assert record is not None
    assert (outside / "keep.txt").read_text() == "not the launcher's to delete"
    assert not (work / "made-through-installer-lock").exists()
    assert not (work / "made-through-jre-lock").exists()
    # (Wine 8 removes neither way a POSIX link that stands for a folder, so
    # the link in place of the profile folder itself stays here.)

    # Links to existing files, which Wine shows as plain files: at a lock,
    # inside the profile folder being emptied, inside a leftover staging
    # folder, and in place of an installer file over a read-only target.
    victims = {name: outside / name for name in ("lock", "profile", "stage", "read-only")}
    for victim in victims.values():
        victim.write_text("outside")
    target = work / "linked2"
    (target / ".installerLock").parent.mkdir(parents=True)
    (target / ".installerLock").symlink_to(victims["lock"])
    profile = target / "maintenance/kvInstaller/kvProfiles/Installer.x86-win32.profile"
    profile.mkdir(parents=True)
    (profile / "state.xml").symlink_to(victims["profile"])
    (target / ".kvstage-4000000-1").mkdir()
    (target / ".kvstage-4000000-1" / "part").symlink_to(victims["stage"])
    product = kvtest.installer_dir(target, winekit.PLATFORM) / ".eclipseproduct"
    product.parent.mkdir(parents=True)
    product.symlink_to(victims["read-only"])
    victims["read-only"].chmod(0o444)
    done, record = install(wine, media.setup, work,
                           ["-silent", "-installPath", winekit.windows_path(target)])
    assert done.returncode == 0, done.stderr
    for name, victim in victims.items():
        assert victim.read_text() == "outside", name
    assert victims["read-only"].stat().st_mode & 0o777 == 0o444


def test_two_products_waiting_at_once_keep_both_locations(wine, media, work):
    # A waits at the prompt while B stores its location; A, storing last,
    # keeps B's value.
    env = dict(wine.env, KV_RECORD=winekit.windows_path(work / "record-a.bin"))
    first = subprocess.Popen(["wine", str(media.setupc), "-recipe", "r", "-productid", "ProdA"],
                             env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, start_new_session=True)
    try:
        kvtest.read_until_prompt(first.stdout)
        target_b = winekit.windows_path(work / "b")
        done, _ = install(wine, media.setupc, work,
                          ["-silent", "-installPath", target_b, "-productid", "ProdB"])
        assert done.returncode == 0, done.stderr
        target_a = winekit.windows_path(work / "a")
        out, err = first.communicate(target_a.encode() + b"\r\n", timeout=120)
    finally:
        if first.poll() is None:
            os.killpg(first.pid, signal.SIGKILL)
    assert first.returncode == 0, (out, err)
    assert wine.reg_query(REGISTRY_KEY, "ProdA") == target_a
    assert wine.reg_query(REGISTRY_KEY, "ProdB") == target_b


def test_the_installer_inherits_no_handle_of_the_launcher(wine, media, work):
    for program in (media.setup, media.setupc):
        target = winekit.windows_path(work / program.stem)
        done, record = install(wine, program, work, ["-silent", "-installPath", target],
                               env={"KV_HANDLES": "1"})
        assert done.returncode == 0, done.stderr
        files = [name.lower() for name in record["handles"]]
        # The installer's own record file is listed: the listing works.
        assert any(name.endswith("record.bin") for name in files), files
        assert not [name for name in files if name.endswith(("setup.exe", "setupc.exe"))], files


@pytest.mark.parametrize("security", ["default", "shared", "closed"])
def test_a_setup_waiting_for_the_extraction_lock_says_so_once(wine, media, work, security):
    # Another setup holds the lock: made with the default security, with
    # the launchers' own, or (an elevated one) with none that lets this one
    # in. It lets go only once the waiting setup has said that it waits.
    probe = winekit.build_probe(work / "probe")
    target = work / "inst"
    ready, released, go = work / "ready", work / "released", work / "go"
    holder = wine.start(probe, ["hold", winekit.lock_mutex_name(target), security, "120000",
                                winekit.windows_path(ready), winekit.windows_path(released),
                                winekit.windows_path(go)])
    record = work / "record.bin"
    waiting = None
    try:
        deadline = time.monotonic() + 60
        while not ready.exists():
            assert holder.poll() is None and time.monotonic() < deadline, holder.communicate()
            time.sleep(0.05)
        waiting = wine.start(media.setupc, ["-silent", "-installPath", winekit.windows_path(target)],
                             env={"KV_RECORD": winekit.windows_path(record)})
        before = []
        while not any("Waiting" in line for line in before):
            line = waiting.stderr.readline()  # "" once the setup ended without waiting
            assert line, "".join(before)
            before.append(line)
        go.touch()
        out, after = waiting.communicate(timeout=120)
        assert holder.wait(timeout=60) == 0
    finally:
        for proc in (holder, waiting):
            if proc is not None and proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
        # The probe's USER32 made Wine start a desktop without a display;
        # later GUI tests in this prefix need one started with theirs.
        wine.shutdown()
    err = "".join(before) + after
    assert waiting.returncode == 0, err
    line = f"Waiting for another setup to finish in {winekit.windows_path(target)}...\n"
    assert err.count(line) == 1 and err.count("Waiting") == 1, err
    assert "stand-in installer ran" in out
    # The installer ran only once the lock was let go.
    assert record.stat().st_mtime_ns >= released.stat().st_mtime_ns
