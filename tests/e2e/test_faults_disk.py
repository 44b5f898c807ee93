"""A full disk during extraction: a small tmpfs made by the test. The run
reports the output-file failure with code 11, keeps the lock file, starts
no installer and ends with exit code 1, and a run after space was freed
completes."""

import os
import subprocess

import pytest

import fault_support as fs
import kvtest

SIZE_MB = 8


@pytest.fixture
def small_disk(tmp_path):
    """A tmpfs of SIZE_MB megabytes, mounted for this test only."""
    mount_point = tmp_path / "disk"
    mount_point.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={SIZE_MB}m,mode=0755", "tmpfs",
                           str(mount_point)], capture_output=True, text=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {done.stderr.strip()}")
    yield mount_point
    subprocess.run(["umount", "-l", str(mount_point)], check=False)


def fill(mount_point, leave_bytes):
    """Fills the file system up to `leave_bytes` of free space."""
    st = os.statvfs(mount_point)
    free = st.f_bavail * st.f_frsize
    filler = mount_point / "filler"
    with open(filler, "wb") as f:
        f.write(b"\0" * max(0, free - leave_bytes))
    return filler


def test_disk_full_reports_code_11_keeps_the_lock_and_recovers(launcher, small_disk, tmp_path):
    work = tmp_path / "work"
    work.mkdir()
    bundle = fs.big_bundle(work / launcher.name, launcher, work, files=120, size=12000)
    clean = work / "clean"
    assert fs.run_install(bundle, clean, work).returncode == 0
    reference = kvtest.snapshot(clean, folder_modes=True)

    # About 4.3 MB are needed; 1 MB is left.
    filler = fill(small_disk, 1 << 20)
    target = small_disk / "kv"
    done = fs.run_install(bundle, target, work)
    # One of the three output-file lines (a buffered write may fail only
    # when the file is closed).
    assert any(f"Could not {what} output file '" in done.stdout
               for what in ("open", "write", "close")), done.stdout
    assert ("ERROR: Extracting jre failed: 11" in done.stderr
            or "ERROR: Extracting install failed: 11" in done.stderr)
    locks = {fs.INSTALLER_LOCK, fs.JRE_LOCK} & set(os.listdir(target))
    assert locks, "the lock file of the failed block must stay"
    # A failed extraction never starts the installer: exit code 1.
    assert done.returncode == 1
    assert "Launching installer..." not in done.stdout
    assert not os.path.exists(f"{target}.record")
    assert not [name for name in os.listdir(target) if name.startswith(".kvstage-")]

    filler.unlink()
    done = fs.run_install(bundle, target, work)
    assert done.returncode == 0, done.stdout + done.stderr
    tree = kvtest.snapshot(target, folder_modes=True)
    assert tree == reference
    print(f"{launcher.name}: disk full -> exit code 1 after 'failed: 11', lock kept; "
          f"after freeing space the run completes")
