"""Fixtures of the end-to-end tests; the helpers themselves are in kvtest.py.

  repo_root   the repository root
  dist_dir    the built programs ($KV_DIST or <repo>/dist)
  launcher    parametrized over setup_linux and setup_linux64: the binary
  home        an empty home folder for one test
  x_display   (gui tests) DISPLAY/XAUTHORITY of the test X server, with a
              window manager running; skips when there is no display
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import kvtest  # noqa: E402


@pytest.fixture(scope="session")
def repo_root():
    return kvtest.REPO_ROOT


@pytest.fixture(scope="session")
def dist_dir():
    return kvtest.dist_dir()


@pytest.fixture(params=kvtest.LAUNCHERS)
def launcher(request, dist_dir):
    path = dist_dir / request.param
    if not path.is_file():
        pytest.fail(f"{path} is missing; run ./scripts/build.sh")
    return path


@pytest.fixture
def home(tmp_path):
    path = tmp_path / "home"
    path.mkdir()
    return path


def _window_manager_running(env):
    # -l needs the client list that a running window manager keeps on the
    # root window; -m alone answers a little earlier during its start.
    return all(subprocess.run(["wmctrl", flag], env=env, capture_output=True).returncode == 0
               for flag in ("-m", "-l"))


@pytest.fixture(scope="session")
def x_display():
    """The X display of a gui run (scripts/test.sh starts Xvfb), with openbox
    started once for the session when no window manager is running."""
    env = kvtest.display_env()
    if "DISPLAY" not in env:
        pytest.skip("no X display (gui tests run under Xvfb in scripts/test.sh)")
    full_env = dict(os.environ)
    wm = None
    if shutil.which("wmctrl") and shutil.which("openbox") and not _window_manager_running(full_env):
        # A loaded machine can take many seconds to bring it up; one that
        # exits is started once more. Without it no window can be found, so
        # the run stops here saying why instead of failing every test.
        log = tempfile.TemporaryFile()
        for _ in range(2):
            wm = subprocess.Popen(["openbox", "--sm-disable"], env=full_env,
                                  stdout=subprocess.DEVNULL, stderr=log)
            deadline = time.monotonic() + 60
            while (time.monotonic() < deadline and wm.poll() is None
                   and not _window_manager_running(full_env)):
                time.sleep(0.1)
            if _window_manager_running(full_env):
                break
            if wm.poll() is None:
                wm.terminate()
                wm.wait(timeout=10)
        else:
            log.seek(0)
            pytest.fail("openbox did not come up as the window manager (exit status %s): %s"
                        % (wm.returncode, log.read().decode(errors="replace").strip()))
    yield env
    if wm is not None:
        wm.terminate()
        wm.wait(timeout=10)
