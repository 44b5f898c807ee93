"""The progress window "Extract Installer" of both Linux launchers during
an extraction long enough to watch: it counts the files of the runtime and
the installer on one bar, and the window manager cannot close it."""

import os
import re
import signal
import subprocess
import time

import pytest

import kvtest
from gui_support import TITLE, GuiRun, desktop, log_faults  # noqa: F401

pytestmark = [pytest.mark.gui, pytest.mark.slow]

JRE_EXTRA_FILES = 3000
INSTALLER_EXTRA_FILES = 24000
COUNT = re.compile(r"Preparing installer: extracted (\d+) of (\d+) files")
# The progress bar's middle row in a window picture (border 10, the label
# row and the bar, spacing 10, centred in the window's height): x from 12 to
# 388, y 112.
BAR_ROW = (12, 112, 376)


def add_files(folder, count):
    for i in range(count):
        sub = folder / f"part{i // 500:03d}"
        if i % 500 == 0:
            sub.mkdir(parents=True)
        (sub / f"file{i}.bin").write_bytes(os.urandom(1024))


def file_count(tree):
    return sum(len(files) for _, _, files in os.walk(tree))


@pytest.fixture(scope="session")
def big_archives(tmp_path_factory):
    folder = tmp_path_factory.mktemp("gui-big")
    jre = kvtest.make_jre_tree(folder / "jre")
    add_files(kvtest.installer_dir(jre) / "jre" / kvtest.JRE_RELEASE / "lib", JRE_EXTRA_FILES)
    installer = kvtest.make_installer_tree(folder / "installer")
    add_files(kvtest.installer_dir(installer) / "plugins", INSTALLER_EXTRA_FILES)
    return {"jre": kvtest.seven_zip(jre, folder / "jre.7z"), "jre_files": file_count(jre),
            "installer": kvtest.seven_zip(installer, folder / "installer.7z"),
            "installer_files": file_count(installer)}


def bar_fill(desktop, picture):
    """How much of the bar's row is filled (0 to 1): the share of pixels
    darker than the trough."""
    x, y, width = BAR_ROW
    out = desktop._run("convert", str(picture), "-crop", f"{width}x1+{x}+{y}", "-colorspace",
                       "Gray", "-depth", "8", "txt:-").stdout
    levels = [int(m) for m in re.findall(r"gray\((\d+)", out)]
    assert len(levels) == width, out[:200]
    return sum(1 for level in levels if level < 140) / width


def test_progress_window_counts_files_and_stays_open(desktop, big_archives, home, tmp_path,
                                                      launcher, x_display, request):
    media = tmp_path / "media"
    media.mkdir()
    bundle = kvtest.mkbundle(media / launcher.name, launcher, version=kvtest.DEFAULT_VERSION,
                             installer=big_archives["installer"], jre=big_archives["jre"],
                             releases=["KV_GUI_TEST_1"])
    jre_files = big_archives["jre_files"]
    all_files = jre_files + big_archives["installer_files"]
    run = GuiRun(bundle, home, x_display, record=tmp_path / "record", cwd=tmp_path)
    try:
        dialog = desktop.wait_window(TITLE)
        desktop.activate(dialog)
        desktop.key("Return")  # the default location, home/Korvane
        window = desktop.wait_window(TITLE, exclude={dialog}, timeout=30)
        assert desktop.geometry(window) == (400, 200)
        desktop.close(window)  # refused: the window stays
        closed_at = time.monotonic()

        name = f"{request.node.name}".replace("[", "-").replace("]", "")
        pictures = []
        seen_after_close = False
        while len(pictures) < 40 and desktop.exists(window):
            try:
                pictures.append(desktop.screenshot(window, f"{name}-progress-{len(pictures):02d}"))
            except (subprocess.SubprocessError, AssertionError):
                break  # the window went away at the end of the extraction
            if time.monotonic() - closed_at > 0.5 and desktop.exists(window):
                seen_after_close = True
            time.sleep(0.15)
        assert run.wait() == 0, run.stderr
    finally:
        run.stop()

    assert pictures, "no picture of the progress window"
    assert seen_after_close, "the window did not outlive the close request"
    # A reading is a picture whose text tesseract reads as a count of one of
    # the two possible totals and whose bar is filled in that proportion
    # (a misread digit fails one of the two).
    readings, rejected = [], []
    for picture in pictures:
        found = COUNT.search(desktop.read_text(picture))
        if not found:
            picture.unlink()  # only the pictures with a legible count are kept
            continue
        count, total = int(found.group(1)), int(found.group(2))
        fill = bar_fill(desktop, picture)
        if total in (jre_files, all_files) and abs(fill - count / total) < 0.08:
            readings.append((count, total, fill))
        else:
            rejected.append((picture.name, count, total, fill))
    assert len(readings) >= 2 and len(readings) >= len(rejected), (readings, rejected)
    done = [reading[0] for reading in readings]
    assert done == sorted(done) and done[0] < done[-1], readings
    # One bar for both archives: the total grows to the runtime's and the
    # installer's files together.
    assert any(reading[1] == all_files for reading in readings), readings

    assert (kvtest.installer_dir(home / "Korvane") / "kvInstaller").is_file()
    assert file_count(home / "Korvane") == all_files
    assert log_faults(home) == []


BIG_FILE_MB = 96


@pytest.fixture(scope="session")
def one_big_file(tmp_path_factory):
    """An installer archive whose bulk is one file of incompressible data,
    packed as one LZMA stream, so that writing it takes seconds."""
    folder = tmp_path_factory.mktemp("gui-one-big-file")
    installer = kvtest.make_installer_tree(folder / "installer")
    (kvtest.installer_dir(installer) / "modules").write_bytes(os.urandom(BIG_FILE_MB << 20))
    archive = folder / "installer.7z"
    subprocess.run(["7zz", "a", "-t7z", "-m0=LZMA", "-mx=1", "-bd", "-bso0", "-bsp0",
                    str(archive), "."], cwd=installer, check=True)
    return {"installer": archive, "jre": kvtest.seven_zip(kvtest.make_jre_tree(folder / "jre"),
                                                    folder / "jre.7z")}


def test_the_bar_moves_while_one_large_file_is_written(desktop, one_big_file, home, tmp_path,
                                                       launcher, x_display, request):
    media = tmp_path / "media"
    media.mkdir()
    bundle = kvtest.mkbundle(media / launcher.name, launcher, version=kvtest.DEFAULT_VERSION,
                             installer=one_big_file["installer"], jre=one_big_file["jre"],
                             releases=["KV_GUI_TEST_1"])
    name = f"{request.node.name}".replace("[", "-").replace("]", "")
    run = GuiRun(bundle, home, x_display, record=tmp_path / "record", cwd=tmp_path)
    modules = kvtest.installer_dir(home / "Korvane") / "modules"
    pictures = []
    try:
        dialog = desktop.wait_window(TITLE)
        desktop.activate(dialog)
        desktop.key("Return")
        window = desktop.wait_window(TITLE, exclude={dialog}, timeout=30)
        # Pictures while the large file is being written (its part file
        # grows; the file itself appears when it is complete).
        while desktop.exists(window) and not modules.exists() and len(pictures) < 40:
            try:
                picture = desktop.screenshot(window, f"{name}-{len(pictures):02d}")
            except (subprocess.SubprocessError, AssertionError):
                break
            if not modules.exists():
                pictures.append(picture)
            time.sleep(0.1)
        assert run.wait(timeout=300) == 0, run.stderr
    finally:
        run.stop()
    assert modules.stat().st_size == BIG_FILE_MB << 20
    # Two pictures with the same text (no file completed between them) and
    # a fuller bar in the later one.
    readings = [(desktop.read_text(p), bar_fill(desktop, p)) for p in pictures]
    moved = [(a, b) for i, a in enumerate(readings) for b in readings[i + 1:]
             if a[0] == b[0] and "Preparing installer" in a[0] and 0 < a[1] < b[1] - 0.02]
    assert moved, readings


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM, signal.SIGHUP],
                         ids=["SIGINT", "SIGTERM", "SIGHUP"])
def test_signal_during_extraction_removes_the_staging_folder(desktop, big_archives, home,
                                                              tmp_path, launcher, x_display,
                                                              sig):
    media = tmp_path / "media"
    media.mkdir()
    bundle = kvtest.mkbundle(media / launcher.name, launcher, version=kvtest.DEFAULT_VERSION,
                             installer=big_archives["installer"], jre=big_archives["jre"],
                             releases=["KV_GUI_TEST_1"])
    target = home / "Korvane"
    run = GuiRun(bundle, home, x_display, record=tmp_path / "record", cwd=tmp_path)
    try:
        dialog = desktop.wait_window(TITLE)
        desktop.activate(dialog)
        desktop.key("Return")  # the default location, home/Korvane
        desktop.wait_window(TITLE, exclude={dialog}, timeout=30)
        deadline = time.monotonic() + 60
        while not any(target.glob(".kvstage-*/*")):  # a file is being written
            assert time.monotonic() < deadline, "nothing was extracted"
            time.sleep(0.005)
        os.kill(run.proc.pid, sig)
        code = run.wait()
    finally:
        run.stop()
    assert code == -sig, run.stdout + run.stderr
    names = os.listdir(target)
    assert not [n for n in names if n.startswith(".kvstage-")], names
    assert ".jreLock" in names or ".installerLock" in names, names
    interrupted = "The extraction was interrupted; run the setup again to resume it.\n"
    assert run.stderr.endswith(interrupted) == (sig == signal.SIGINT), run.stderr
