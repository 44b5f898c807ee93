"""The Windows dialogs under Wine on the test X server, driven with xdotool:
the location dialog ("Extract Installer") with its "Invalid input" box, and
the progress window. Screenshots are kept in artifacts/windows/."""

import re
import subprocess
import time

import pytest

import kvtest
import winekit

pytestmark = [pytest.mark.windows, pytest.mark.slow]

TITLE = "Extract Installer"
ARTIFACTS = kvtest.REPO_ROOT / "artifacts" / "windows"
COUNT = re.compile(r"Preparing installer: extracted \d+ of \d+ files")


# The Wine prefix, the launchers under test and a scratch folder.
from winekit import media, wine, work  # noqa: F401,E402  (pytest fixtures)


def xdo(display, *args):
    return subprocess.run(["xdotool", *args], env={**display, "PATH": "/usr/bin:/bin"},
                          capture_output=True, text=True, timeout=30).stdout.split()


def wait_for_window(display, name, exclude=(), timeout=60):
    """The id of a visible window named `name` (not in `exclude`)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = [w for w in xdo(display, "search", "--onlyvisible", "--name", name)
                 if w not in exclude]
        if found:
            return found[0]
        time.sleep(0.1)
    raise AssertionError(f"no window named {name!r} appeared")


def wait_gone(display, window, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if window not in xdo(display, "search", "--onlyvisible", "--name", ""):
            return
        time.sleep(0.1)
    raise AssertionError(f"window {window} stayed on screen")


def screenshot(display, name):
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    subprocess.run(["import", "-window", "root", str(ARTIFACTS / name)],
                   env={**display, "PATH": "/usr/bin:/bin"}, capture_output=True, timeout=60)


def activate(display, window):
    """Gives `window` the keyboard focus (through the window manager)."""
    xdo(display, "windowactivate", "--sync", window)
    time.sleep(0.3)


def replace_path(display, dialog, text):
    """Types `text` into the dialog's path field in place of what is there."""
    activate(display, dialog)
    xdo(display, "mousemove", "--window", dialog, "100", "68", "click", "1")
    time.sleep(0.2)
    xdo(display, "key", "End", "shift+Home", "BackSpace")
    xdo(display, "type", "--delay", "20", text)


def geometry(display, window):
    words = xdo(display, "getwindowgeometry", window)
    width, height = words[words.index("Geometry:") + 1].split("x")
    return int(width), int(height)


def test_location_dialog_checks_the_typed_path(wine, media, work, x_display):
    record = work / "record.bin"
    proc = wine.start(media.setup, [], display=x_display,
                      env={"KV_RECORD": winekit.windows_path(record)})
    try:
        dialog = wait_for_window(x_display, TITLE)
        screenshot(x_display, "location-dialog.png")

        replace_path(x_display, dialog, "Z:\\tmp\\bad?dir")
        xdo(x_display, "key", "Return")
        box = wait_for_window(x_display, "Invalid input")
        screenshot(x_display, "invalid-input.png")
        activate(x_display, box)
        xdo(x_display, "key", "Return")
        wait_gone(x_display, box)
        # The dialog stays open after a rejection.
        assert dialog in xdo(x_display, "search", "--onlyvisible", "--name", TITLE)

        target = work / "gui-install"
        replace_path(x_display, dialog, winekit.windows_path(target))
        xdo(x_display, "key", "Return")
        out, err = proc.communicate(timeout=120)
    finally:
        if proc.poll() is None:
            proc.kill()
    # An interactive run starts the GUI installer and does not wait for it.
    assert proc.returncode == 0, err
    assert "Launching installer..." in out
    deadline = time.monotonic() + 30
    while not record.exists() and time.monotonic() < deadline:
        time.sleep(0.2)
    received = winekit.read_record(record)
    assert received["cmdline"].startswith(
        '"' + winekit.windows_path(target) + r'\maintenance\kvInstaller\x86-win32\kvInstaller" ')
    assert received["args"] == ["-installPath", winekit.windows_path(target)]


def test_cancel_ends_without_installing(wine, media, x_display):
    proc = wine.start(media.setup, ["-productid", "kvcancel"], display=x_display)
    try:
        dialog = wait_for_window(x_display, TITLE)
        activate(x_display, dialog)
        xdo(x_display, "key", "Escape")
        out, _ = proc.communicate(timeout=60)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert proc.returncode == 0
    assert "Extracting" not in out


def test_progress_window_stays_while_the_installer_runs(wine, media, work, x_display):
    # -download in dialog mode: the install goes to a temporary folder and
    # the launcher waits for the installer, so the progress window stays.
    record = work / "record.bin"
    proc = wine.start(media.setup, ["-download"], display=x_display,
                      env={"KV_RECORD": winekit.windows_path(record), "KV_SLEEP": "8000",
                           "KV_EXIT": "6"})
    try:
        dialog = wait_for_window(x_display, TITLE)
        location_size = geometry(x_display, dialog)
        replace_path(x_display, dialog, winekit.windows_path(work / "downloads"))
        xdo(x_display, "key", "Return")
        progress = wait_for_window(x_display, TITLE, exclude=(dialog,))
        width, height = geometry(x_display, progress)
        # Template 101 is as wide as the location dialog and half as high.
        assert width == location_size[0] and height < location_size[1]
        time.sleep(1.5)
        screenshot(x_display, "progress-window.png")
        out, err = proc.communicate(timeout=120)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert proc.returncode == 6, err
    assert (work / "downloads").is_dir()
    received = winekit.read_record(record)
    assert "\\tempfolder" in received["cwd"]


def test_progress_bar_moves_by_bytes_while_one_large_file_is_written(wine, media, work,
                                                                    x_display):
    (work / "big").mkdir()
    bundle = winekit.make_windows_bundle(work / "big" / "setup.exe",
                                         kvtest.dist_dir() / "setup.exe", media.stand_in,
                                         work / "big-bundle", big_file_mb=32)
    probe = winekit.build_probe(work / "probe")
    samples = work / "bar.txt"
    proc = wine.start(bundle, [], display=x_display,
                      env={"KV_RECORD": winekit.windows_path(work / "record.bin")})
    watcher = None
    try:
        dialog = wait_for_window(x_display, TITLE)
        replace_path(x_display, dialog, winekit.windows_path(work / "inst"))
        watcher = wine.start(probe, ["bar", winekit.windows_path(samples), "60000"],
                             display=x_display)
        xdo(x_display, "key", "Return")
        out, err = proc.communicate(timeout=300)
        assert watcher.wait(timeout=60) == 0
    finally:
        for process in (proc, watcher):
            if process and process.poll() is None:
                process.kill()
    assert proc.returncode == 0, err
    readings = [line.split("\t", 1) for line in samples.read_text().splitlines()]
    readings = [(int(position), text) for position, text in readings]
    counted = [(p, t) for p, t in readings if COUNT.fullmatch(t)]
    # The text still counts files; while the large file is written no file
    # completes and the text stands, but the bar moves on through many
    # positions (counting files it would take one step per text), up to full.
    positions = {}
    for position, text in counted:
        positions.setdefault(text, set()).add(position)
    assert max(len(seen) for seen in positions.values()) >= 5, readings
    assert [p for p, _ in counted] == sorted(p for p, _ in counted), readings
    assert counted[-1][0] == 100, readings


def test_the_dialog_shows_and_hands_on_a_name_outside_the_code_page(wine, media, work,
                                                                   x_display):
    # The remembered location (written as UTF-16) fills the path field; OK
    # takes the field's text back and installs exactly there.
    target = winekit.windows_path(work / "Дмитрий" / "Прог例")
    env = {"LC_ALL": "C.UTF-8", "KV_RECORD": winekit.windows_path(work / "record.bin")}
    subprocess.run(["wine", "reg", "add", r"HKCU\SOFTWARE\Korvane", "/v", "kvunidialog", "/d",
                    target, "/f"], env={**wine.env, **env}, capture_output=True, check=True,
                   timeout=60)
    proc = wine.start(media.setup, ["-productid", "kvunidialog"], display=x_display, env=env)
    try:
        dialog = wait_for_window(x_display, TITLE)
        screenshot(x_display, "location-dialog-unicode.png")
        activate(x_display, dialog)
        xdo(x_display, "key", "Return")
        out, err = proc.communicate(timeout=120)
    finally:
        if proc.poll() is None:
            proc.kill()
    assert proc.returncode == 0, err
    deadline = time.monotonic() + 30
    while not (work / "record.bin").exists() and time.monotonic() < deadline:
        time.sleep(0.2)
    assert winekit.read_record(work / "record.bin")["wcwd"].lower() == target.lower()
    assert (kvtest.installer_dir(work / "Дмитрий" / "Прог例", winekit.PLATFORM) / "jre").is_dir()
