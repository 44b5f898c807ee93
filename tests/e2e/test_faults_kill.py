"""kill -9 at random moments of a real extraction: the lock files make the
next run extract again, and the tree it leaves equals a clean extraction
byte for byte."""

import os
import random
import signal
import time

import pytest

import fault_support as fs

TRIALS = 20


@pytest.fixture
def bundle_and_reference(launcher, tmp_path_factory):
    work = tmp_path_factory.mktemp("kill-bundle")
    bundle = fs.big_bundle(work / launcher.name, launcher, work)
    clean = work / "clean"
    done, seconds = fs.timed(fs.run_install, bundle, clean, work)
    assert done.returncode == 0, done.stderr
    assert "Extracting Installer..." in done.stdout
    return bundle, fs.snapshot(clean), seconds


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
        tree = fs.snapshot(target)
        assert fs.INSTALLER_LOCK not in tree and fs.JRE_LOCK not in tree
        assert tree == reference, f"attempt {attempts}: the tree differs from a clean extraction"
    assert interrupted == TRIALS, f"only {interrupted} of {attempts} kills interrupted a run"
    print(f"{launcher.name}: {interrupted} kills during extraction ({attempts} tries), "
          f"every following run completed with a clean tree")
