"""kill -9 at random moments of a real extraction: the lock files make the
next run extract again, and the tree it leaves equals a clean extraction
byte for byte; the staging folder a killed run leaves is removed."""

import fcntl
import os
import random
import signal
import subprocess
import time

import pytest

import fault_support as fs
import kvtest

TRIALS = 20


@pytest.fixture
def bundle_and_reference(launcher, tmp_path_factory):
    work = tmp_path_factory.mktemp("kill-bundle")
    bundle = fs.big_bundle(work / launcher.name, launcher, work)
    clean = work / "clean"
    done, seconds = fs.timed(fs.run_install, bundle, clean, work)
    assert done.returncode == 0, done.stderr
    assert "Extracting Installer..." in done.stdout
    return bundle, kvtest.snapshot(clean, folder_modes=True), seconds


@pytest.mark.slow
def test_kill_9_during_extraction_then_a_normal_run_completes(launcher, bundle_and_reference,
                                                             tmp_path):
    bundle, reference, seconds = bundle_and_reference
    rng = random.Random(f"kill-{launcher.name}")
    home = tmp_path / "home"
    home.mkdir()
    interrupted = 0
    attempts = 0
    # Kills that come after the installer was started interrupt nothing and
    # do not count; under load a few do.
    while interrupted < TRIALS and attempts < 3 * TRIALS:
        target = tmp_path / f"trial{attempts:02d}"
        attempts += 1
        proc = fs.start_install(bundle, target, home)
        time.sleep(rng.uniform(0.0, 0.8 * seconds))
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        if proc.returncode == -signal.SIGKILL and "Launching installer..." not in out:
            interrupted += 1
        # Whatever the moment, the next run puts everything right.
        done = fs.run_install(bundle, target, home)
        assert done.returncode == 0, f"attempt {attempts}: {done.stdout}{done.stderr}"
        tree = kvtest.snapshot(target, folder_modes=True)
        assert fs.INSTALLER_LOCK not in tree and fs.JRE_LOCK not in tree
        assert tree == reference, f"attempt {attempts}: the tree differs from a clean extraction"
    assert interrupted == TRIALS, f"only {interrupted} of {attempts} kills interrupted a run"
    print(f"{launcher.name}: {interrupted} kills during extraction ({attempts} tries), "
          f"every following run completed with a clean tree")


def test_staging_folder_of_a_killed_run_is_removed_without_following_links(launcher, tmp_path):
    # Expected: the next extraction removes a staging folder that nobody
    # holds locked, with everything in it, never following its links, also
    # when its process id now belongs to another process; the folder that
    # a running extraction holds locked, a link that merely bears the name
    # and a user's folder that only starts like one stay.
    outside = tmp_path / "outside"
    (outside / "dir").mkdir(parents=True)
    (outside / "victim").write_text("untouched\n")
    (outside / "dir" / "inner").write_text("untouched\n")
    gone = subprocess.Popen(["true"])
    gone.wait()
    alive = subprocess.Popen(["sleep", "60"])
    target = tmp_path / "kv"
    live = target / f".kvstage-{alive.pid}-Zz99Yy"
    live.mkdir(parents=True)
    held = os.open(live, os.O_RDONLY | os.O_DIRECTORY)
    try:
        fcntl.flock(held, fcntl.LOCK_EX)  # as the run that made it holds it
        stale = target / f".kvstage-{gone.pid}-Ab12Cd"
        (stale / "sub").mkdir(parents=True)
        (stale / "7").write_bytes(b"half a file")
        (stale / "sub" / "8").write_bytes(b"more")
        os.symlink(outside / "victim", stale / "9")
        os.symlink(outside / "dir", stale / "sub" / "10")
        reused = target / f".kvstage-{alive.pid}-Pid0Re"  # its pid is taken again
        (reused / "x").mkdir(parents=True)
        os.symlink(outside / "dir", target / f".kvstage-{gone.pid}-linked")
        mine = target / ".kvstage-backup"
        mine.mkdir()
        (mine / "notes").write_text("the user's own\n")
        bundle = fs.small_bundle(tmp_path / "setup", launcher, tmp_path)
        done = fs.run_install(bundle, target, tmp_path)
        assert done.returncode == 0, done.stdout + done.stderr
        assert sorted(p.name for p in target.glob(".kvstage-*")) == sorted(
            [live.name, f".kvstage-{gone.pid}-linked", mine.name])
        assert (mine / "notes").read_text() == "the user's own\n"
        assert (outside / "victim").read_text() == "untouched\n"
        assert sorted(os.listdir(outside / "dir")) == ["inner"]
    finally:
        os.close(held)
        alive.kill()
        alive.wait()
