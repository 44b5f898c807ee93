"""Ctrl-C, SIGTERM and SIGHUP while a temporary install waits for the
installer: the signal reaches the installer, the launcher still removes the
temporary folder and passes the installer's result on."""

import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

import fault_support as fs
import kvtest

# Waits until it is signalled, then records which signal came and exits 42.
WAITING_INSTALLER = r"""#!/bin/sh
got() { echo "$1" > "$KV_MARK.signal"; exit 42; }
trap 'got INT' INT
trap 'got TERM' TERM
trap 'got HUP' HUP
echo ready > "$KV_MARK.ready"
i=0
while [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
exit 3
"""


@pytest.fixture
def waiting_bundle(launcher, tmp_path):
    tree = kvtest.make_installer_tree(tmp_path / "installer")
    program = kvtest.installer_dir(tree) / "kvInstaller"
    program.write_text(WAITING_INSTALLER)
    program.chmod(0o755)
    jre = kvtest.make_jre_tree(tmp_path / "jre")
    return kvtest.mkbundle(tmp_path / launcher.name, launcher, installer=tree, jre=jre,
                           version=kvtest.DEFAULT_VERSION)


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP],
                         ids=["SIGINT", "SIGTERM", "SIGHUP"])
def test_signal_during_temporary_install_reaches_installer_and_folder_is_removed(
        waiting_bundle, tmp_path, sig):
    tmpdir = tmp_path / "tmp"
    tmpdir.mkdir()
    mark = tmp_path / "mark"
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
           "HOME": str(tmp_path), "TMPDIR": str(tmpdir), "KV_MARK": str(mark)}
    proc = subprocess.Popen([str(waiting_bundle), "-silent", "-validate"], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, start_new_session=True)
    try:
        deadline = time.monotonic() + 120
        while not Path(f"{mark}.ready").exists():
            assert proc.poll() is None, proc.communicate()
            assert time.monotonic() < deadline, "the installer never started"
            time.sleep(0.05)
        assert len(os.listdir(tmpdir)) == 1  # the temporary install folder
        os.kill(proc.pid, sig)  # the launcher only, as kill(1) or a parent would
        out, err = proc.communicate(timeout=60)
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
    assert Path(f"{mark}.signal").read_text().strip() == sig.name[3:]
    assert proc.returncode == 42, out + err
    assert "Launching installer..." in out
    assert os.listdir(tmpdir) == [], "the temporary install folder was left behind"


@pytest.fixture
def slow_bundle(launcher, tmp_path):
    # Many files: random bytes are stored, not coded, so the time goes to
    # making the files, and a signal sent once the first one is seen must
    # still find the extraction running on a loaded machine.
    return fs.big_bundle(tmp_path / launcher.name, launcher, tmp_path,
                         files=4000, size=2000)


def test_signal_during_temporary_extraction_removes_the_folder_and_ends_by_it(
        slow_bundle, tmp_path):
    tmpdir = tmp_path / "tmp"
    tmpdir.mkdir()
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
           "HOME": str(tmp_path), "TMPDIR": str(tmpdir)}
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        proc = subprocess.Popen([str(slow_bundle), "-silent", "-validate"], env=env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            assert proc.stdout.readline() == "Extracting JRE...\n"
            deadline = time.monotonic() + 60
            while not any(tmpdir.glob("kvtmp*/maintenance")):  # files are being written
                assert time.monotonic() < deadline, "nothing was extracted"
                time.sleep(0.005)
            os.kill(proc.pid, sig)
            out, err = proc.communicate(timeout=60)
        finally:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
        assert proc.returncode == -sig, (sig, out, err)
        assert "Launching installer..." not in out
        assert os.listdir(tmpdir) == [], f"{sig.name}: the temporary install folder was left"


INTERRUPTED = "The extraction was interrupted; run the setup again to resume it.\n"


def test_signal_during_extraction_removes_the_staging_folder_and_keeps_the_locks(
        slow_bundle, tmp_path):
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        target = tmp_path / f"kv-{sig.name}"
        proc = fs.start_install(slow_bundle, target, tmp_path)
        try:
            assert proc.stdout.readline() == "Extracting JRE...\n"
            deadline = time.monotonic() + 60
            while not any(target.glob(".kvstage-*/*")):  # a file is being written
                assert time.monotonic() < deadline, "nothing was extracted"
                time.sleep(0.005)
            os.kill(proc.pid, sig)
            out, err = proc.communicate(timeout=60)
        finally:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
        assert proc.returncode == -sig, (sig, out, err)
        assert err == (INTERRUPTED if sig == signal.SIGINT else ""), (sig, err)
        names = os.listdir(target)
        assert not [n for n in names if n.startswith(".kvstage-")], (sig, names)
        assert fs.JRE_LOCK in names, (sig, names)
    # The next run finds the lock and extracts everything again.
    done = fs.run_install(slow_bundle, target, tmp_path)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "Extracting JRE..." in done.stdout and "Extracting Installer..." in done.stdout
    assert not [n for n in os.listdir(target) if n.startswith(".") and "Lock" in n]
