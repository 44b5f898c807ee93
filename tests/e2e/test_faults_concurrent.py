"""Two launchers at once into the same install directory (a double click,
a script run twice): the extraction is serialised, so exactly one of them
extracts, the other waits and then finds everything current, and the tree
is whole; a launcher kept waiting says so, once. Launchers started together
into new folders below the same missing parents all install. And while
someone who can write inside the install tree keeps swapping one of its
folders for a link, nothing is ever written outside it."""

import ctypes
import fcntl
import os
import shutil
import threading
import time

import pytest

import fault_support as fs
import kvtest


@pytest.mark.parametrize("round_", range(3))
def test_two_launchers_at_once_extract_once(launcher, tmp_path, round_):
    work = tmp_path / "work"
    work.mkdir()
    bundle = fs.big_bundle(work / launcher.name, launcher, work, files=150, size=8000)
    clean = work / "clean"
    assert fs.run_install(bundle, clean, work).returncode == 0
    reference = kvtest.snapshot(clean, folder_modes=True)

    target = tmp_path / "kv"
    target.mkdir()  # both start at once: the folder is there for both
    first = fs.start_install(bundle, target, work)
    second = fs.start_install(bundle, target, work)
    outputs = [p.communicate(timeout=300) for p in (first, second)]
    for proc, (out, err) in zip((first, second), outputs):
        assert proc.returncode == 0, out + err
        assert "Launching installer..." in out
    extracting = sum(out.count("Extracting Installer...") for out, _ in outputs)
    assert extracting == 1, [out for out, _ in outputs]
    assert kvtest.snapshot(target, folder_modes=True) == reference


def test_a_launcher_kept_waiting_says_so_once(launcher, tmp_path):
    bundle = fs.small_bundle(tmp_path / launcher.name, launcher, tmp_path)
    waiting = f"Waiting for another setup to finish in {tmp_path / 'kv'}...\n"
    for held, expected in ((0.3, ""), (2.5, waiting)):
        target = tmp_path / "kv"
        shutil.rmtree(target, ignore_errors=True)
        target.mkdir()
        # Another launcher's extraction, as it holds the install directory.
        lock = os.open(target, os.O_RDONLY | os.O_DIRECTORY)
        try:
            fcntl.flock(lock, fcntl.LOCK_EX)
            proc = fs.start_install(bundle, target, tmp_path)
            time.sleep(held)
            assert proc.poll() is None, proc.communicate()
        finally:
            os.close(lock)
        out, err = proc.communicate(timeout=120)
        assert (proc.returncode, err) == (0, expected), out
        assert "Extracting Installer..." in out



def test_launchers_started_together_into_new_folders_all_install(launcher, tmp_path):
    bundle = fs.small_bundle(tmp_path / launcher.name, launcher, tmp_path)
    clean = tmp_path / "clean"
    assert fs.run_install(bundle, clean, tmp_path).returncode == 0
    reference = kvtest.snapshot(clean)
    for round_ in range(4):
        # Every install folder lies deep below parents that none of them
        # finds, so they make the same folders at the same moments; the
        # last two share one install folder.
        parent = tmp_path.joinpath(f"round{round_}", *"abcdefghijklmnopqrst")
        targets = [parent / f"prod{n}" for n in range(6)] + [parent / "same"] * 2
        procs = fs.start_together(bundle, targets, tmp_path)
        for target, proc in zip(targets, procs):
            out, err = proc.communicate(timeout=300)
            assert (proc.returncode, err) == (0, ""), (str(target), out)
        for target in set(targets):
            assert kvtest.snapshot(target) == reference, str(target)


@pytest.mark.skipif(os.geteuid() != 0, reason="the launcher of a shared install runs as root")
def test_a_folder_swapped_for_a_link_during_extraction_leads_nothing_outside(launcher,
                                                                              tmp_path):
    bundle = fs.big_bundle(tmp_path / launcher.name, launcher, tmp_path, files=150, size=4000)
    outside = tmp_path / "outside"
    outside.mkdir()
    libc = ctypes.CDLL(None, use_errno=True)
    at_fdcwd, rename_exchange = -100, 2

    def swap(folder, stop):
        # Another user of a group-writable install: the folder and a link
        # to a folder outside trade places, atomically, again and again.
        link = folder.with_name(folder.name + ".link")
        os.symlink(outside, link)
        while not stop.is_set():
            libc.renameat2(at_fdcwd, bytes(link), at_fdcwd, bytes(folder), rename_exchange)

    for round_ in range(4):
        target = tmp_path / f"kv{round_}"
        plugins = kvtest.installer_dir(target) / "plugins"
        plugins.mkdir(parents=True)
        stop = threading.Event()
        swapper = threading.Thread(target=swap, args=(plugins, stop))
        swapper.start()
        try:
            fs.run_install(bundle, target, tmp_path)  # may fail; must not write outside
        finally:
            stop.set()
            swapper.join()
        assert os.listdir(outside) == [], f"round {round_}: written outside the install folder"
