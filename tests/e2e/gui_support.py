"""Driving the Linux launchers' GTK windows under the test X server.

GuiRun starts a launcher in the background with the display of the
x_display fixture and a fresh home folder; Desktop finds, activates, types
into, clicks, closes and photographs windows with xdotool, wmctrl and
ImageMagick, reads the PRIMARY selection with xclip (a GTK entry or a
message box label that takes the keyboard focus selects its whole text)
and reads window text with tesseract where nothing can be selected.
Screenshots go to artifacts/gui/.
"""

import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

import kvtest

ARTIFACTS = kvtest.REPO_ROOT / "artifacts" / "gui"
TITLE = "Extract Installer"
CHOOSER_TITLE = "Select Install Folder"
# A first 32-bit window can take several seconds (qemu-user on some kernels).
FIRST_WINDOW_TIMEOUT = 60
TOOLS = ("xdotool", "wmctrl", "import", "identify", "convert", "xclip", "tesseract", "7zz")


@pytest.fixture
def desktop(x_display):
    """The Desktop of the test display (import it into a test module)."""
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        pytest.fail(f"the gui tests need {missing}; scripts/test.sh installs them")
    return Desktop(x_display)


class Desktop:
    def __init__(self, env):
        self.env = {**os.environ, **env}

    def _run(self, *cmd, check=True, timeout=60):
        return subprocess.run(cmd, env=self.env, capture_output=True, text=True, check=check,
                              timeout=timeout)

    def managed_windows(self):
        """{window id: title} of every window the window manager manages."""
        # wmctrl fails now and then when a window goes away while it reads
        # the list; ask again.
        for attempt in range(10):
            done = self._run("wmctrl", "-l", check=False)
            if done.returncode == 0:
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("wmctrl -l keeps failing: " + done.stderr)
        out = done.stdout
        windows = {}
        for line in out.splitlines():
            parts = line.split(None, 3)
            if len(parts) >= 3:
                windows[int(parts[0], 16)] = parts[3] if len(parts) == 4 else ""
        return windows

    def wait_window(self, title=None, exclude=(), timeout=FIRST_WINDOW_TIMEOUT):
        """The id of a managed window titled `title` (None: any title) that
        is not in `exclude`; waits up to `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            for wid, name in self.managed_windows().items():
                if wid not in exclude and (title is None or name == title):
                    return wid
            if time.monotonic() > deadline:
                raise AssertionError(f"no window {title!r} appeared; have {self.managed_windows()}")
            time.sleep(0.05)

    def wait_gone(self, wid, timeout=30):
        deadline = time.monotonic() + timeout
        while wid in self.managed_windows():
            if time.monotonic() > deadline:
                raise AssertionError(f"window {wid:#x} is still there")
            time.sleep(0.05)

    def exists(self, wid):
        return wid in self.managed_windows()

    def activate(self, wid):
        self._run("xdotool", "windowactivate", "--sync", str(wid))
        # The window manager hands over the keyboard focus a moment later.
        for _ in range(100):
            if self._run("xdotool", "getwindowfocus", check=False).stdout.strip() == str(wid):
                break
            time.sleep(0.02)

    def key(self, *keys):
        self._run("xdotool", "key", "--delay", "30", *keys)

    def type(self, text):
        self._run("xdotool", "type", "--delay", "20", text)

    def replace_entry_text(self, wid, text):
        """Types `text` over the whole content of the focused entry."""
        self.activate(wid)
        self.key("ctrl+a")
        self.type(text)

    def click(self, wid, x, y):
        """Clicks at (x, y) inside the window; negative values count from
        the right or bottom edge."""
        geometry = self.geometry(wid)
        if x < 0:
            x += geometry[0]
        if y < 0:
            y += geometry[1]
        self.activate(wid)
        self._run("xdotool", "mousemove", "--window", str(wid), str(x), str(y), "click", "1")

    def close(self, wid):
        """Asks the window manager to close the window (as its title bar
        button does)."""
        self._run("wmctrl", "-i", "-c", hex(wid))

    def geometry(self, wid):
        out = self._run("xdotool", "getwindowgeometry", "--shell", str(wid)).stdout
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def primary_selection(self):
        done = self._run("xclip", "-o", "-selection", "primary", check=False)
        return done.stdout

    def screenshot(self, wid, name, timeout=30):
        """Saves the window's picture as artifacts/gui/<name>.png once it is
        painted, and returns its path. A window that is mapped but not yet
        drawn (a cold 32-bit GTK start under qemu) is photographed again
        until the deadline; one still blank then fails with AssertionError."""
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        path = ARTIFACTS / f"{name}.png"
        deadline = time.monotonic() + timeout
        while True:
            # import waits a long time for a window that vanishes meanwhile.
            self._run("import", "-window", str(wid), str(path), timeout=15)
            colours = int(self._run("identify", "-format", "%k", str(path)).stdout)
            spread = float(self._run("convert", str(path), "-colorspace", "Gray",
                                     "-format", "%[fx:standard_deviation]", "info:").stdout)
            if colours > 8 and spread > 0.02:
                return path
            if time.monotonic() >= deadline:
                break
            time.sleep(0.5)
        raise AssertionError(f"{path} looks blank ({colours} colours) after {timeout} s")

    def read_text(self, picture):
        """The text tesseract reads in a screenshot, whitespace folded."""
        bigger = picture.with_name(picture.stem + ".ocr.png")
        self._run("convert", str(picture), "-resize", "300%", "-colorspace", "Gray", str(bigger))
        out = self._run("tesseract", str(bigger), "-", check=False).stdout
        bigger.unlink()
        return re.sub(r"\s+", " ", out).strip()


class GuiRun:
    """One launcher started in the background on the test display."""

    def __init__(self, launcher, home, display_env, args=(), record=None, cwd=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
               "HOME": str(home), **display_env}
        if record is not None:
            env["KV_RECORD"] = str(record)
        self.proc = subprocess.Popen([str(launcher), *map(str, args)], env=env,
                                     cwd=None if cwd is None else str(cwd),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, errors="replace",
                                     start_new_session=True)
        self.stdout = self.stderr = None

    def wait(self, timeout=120):
        """Waits for the end of the run; returns the exit code."""
        self.stdout, self.stderr = self.proc.communicate(timeout=timeout)
        return self.proc.returncode

    def stop(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.communicate()


# GLib's reports of a cast to the wrong widget class.
CAST_FAULTS = ("invalid cast", "invalid unclassed", "invalid uninstantiatable")


def log_faults(home, allowed=()):
    """Lines of the GTK log file in `home` that report GTK faults
    (criticals, errors, bad casts), except those naming one of `allowed`."""
    log = Path(home) / ".kvInstaller.log"
    if not log.exists():
        return []
    faults = []
    for line in log.read_text(errors="replace").splitlines():
        fault = "-CRITICAL:" in line or "-ERROR:" in line or any(c in line for c in CAST_FAULTS)
        if fault and not any(name in line for name in allowed):
            faults.append(line)
    return faults
