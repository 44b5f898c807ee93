"""Both Linux launchers in minimal Debian 11 userlands (glibc 2.31, older
than the build host's), started there with chroot: they install, skip what
is current, upgrade, show the location dialog with the userland's own GTK 2,
and fall back to text mode where it has none. The userlands are made by
scripts/make-oldlinux-root.sh and cached under build/oldlinux."""

import os
import shutil
import subprocess
import uuid
from pathlib import Path

import pytest

import console_support as cs
import kvtest
from console_support import payloads_fixture  # noqa: F401
from gui_support import TITLE, desktop  # noqa: F401

pytestmark = pytest.mark.oldlinux

# The userland of each launcher: (cache name, architecture, extra packages).
# The i386 one has GTK 2 for the dialog; the x86-64 one has none.
USERLANDS = {"setup_linux": ("bullseye-i386-gtk", "i386", "libgtk2.0-0,libxtst6,fonts-dejavu-core"),
             "setup_linux64": ("bullseye-amd64", "amd64", "")}
_made = {}


def userland(launcher):
    if os.geteuid() != 0:
        pytest.skip("chroot needs root")
    recipe = USERLANDS[launcher.name]
    if recipe not in _made:
        done = subprocess.run([str(kvtest.REPO_ROOT / "scripts" / "make-oldlinux-root.sh"),
                               *recipe], capture_output=True, text=True, timeout=1800)
        assert done.returncode == 0, done.stderr
        _made[recipe] = Path(done.stdout.strip())
    return _made[recipe]


class Jail:
    """A folder of one test inside a userland, seen as /kvt-<id> from within."""

    def __init__(self, root):
        self.root = root
        self.inside = Path("/kvt-" + uuid.uuid4().hex[:8])
        self.outside = root / self.inside.relative_to("/")
        (self.outside / "home").mkdir(parents=True)

    def put(self, source, name):
        shutil.copyfile(source, self.outside / name)
        (self.outside / name).chmod(0o755)
        return self.inside / name

    def host(self, inside):
        """Where a path of the userland lies on the host."""
        return self.root / Path(inside).relative_to("/")

    def command(self, program, args):
        # A mount namespace of its own: /proc and the X server's socket
        # folder are mounted for this run only.
        script = ('mount -t proc proc "$0/proc" && { [ ! -d /tmp/.X11-unix ] || '
                  '{ mkdir -p "$0/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$0/tmp/.X11-unix"; }; }'
                  ' && exec /usr/sbin/chroot "$0" "$@"')
        return ["unshare", "--mount", "--fork", "sh", "-c", script, str(self.root), str(program),
                *map(str, args)]

    def env(self, extra=None):
        return {"PATH": "/usr/bin:/bin", "LC_ALL": "C", "HOME": str(self.inside / "home"),
                "KV_RECORD": str(self.inside / "record"), **(extra or {})}

    def run(self, program, args, extra_env=None):
        return subprocess.run(self.command(program, args), env=self.env(extra_env),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=300)

    def remove(self):
        shutil.rmtree(self.outside, ignore_errors=True)


@pytest.fixture
def jail(launcher):
    made = Jail(userland(launcher))
    yield made
    made.remove()


def test_install_skip_and_upgrade_in_an_old_userland(launcher, jail, payloads, tmp_path):
    older = jail.put(payloads.bundle(tmp_path / "v1", launcher), "setup-v1")
    newer = jail.put(payloads.bundle(tmp_path / "v2", launcher, version=cs.NEWER_VERSION),
                     "setup-v2")
    target = jail.inside / "inst"
    done = jail.run(older, ["-version"])
    assert (done.returncode, done.stdout, done.stderr) == (0, cs.release_line(), "")

    silent = ["-silent", "-installPath", target]
    steps = ((older, cs.EXTRACTING_BOTH, kvtest.DEFAULT_VERSION),
             (older, "", kvtest.DEFAULT_VERSION),  # current: nothing extracted
             (newer, cs.EXTRACTING_INSTALLER, cs.NEWER_VERSION))
    for program, extracted, version in steps:
        done = jail.run(program, silent)
        assert (done.returncode, done.stdout, done.stderr) == (0, extracted + cs.LAUNCHING, ""), \
            program
        assert cs.record(jail.host(jail.inside / "record"))["argv0"] == cs.program_path(target)
        assert kvtest.snapshot(jail.host(target)) == payloads.expected_tree(version)


def test_text_mode_where_the_userland_has_no_gtk(payloads, tmp_path, dist_dir):
    launcher = dist_dir / "setup_linux64"
    jail = Jail(userland(launcher))
    try:
        program = jail.put(payloads.bundle(tmp_path / "b", launcher), "setup")
        target = jail.inside / "inst"
        done = jail.run(program, ["-installPath", target], {"DISPLAY": ":99"})
        assert done.returncode == 0, done.stderr
        assert "error loading gtk libraries(libgtk-x11-2.0.so.0)" in done.stdout + done.stderr
        assert cs.FALLING_BACK in done.stdout
        assert "-silent" in cs.record(jail.host(jail.inside / "record"))["args"]
        assert kvtest.snapshot(jail.host(target)) == payloads.expected_tree()
    finally:
        jail.remove()


@pytest.mark.gui
def test_location_dialog_with_the_userlands_gtk(desktop, payloads, tmp_path, dist_dir,  # noqa: F811
                                                request, x_display):
    launcher = dist_dir / "setup_linux"
    jail = Jail(userland(launcher))
    run = None
    try:
        program = jail.put(payloads.bundle(tmp_path / "b", launcher), "setup")
        extra = {"DISPLAY": x_display["DISPLAY"]}
        if "XAUTHORITY" in x_display:
            extra["XAUTHORITY"] = str(jail.put(x_display["XAUTHORITY"], "Xauthority"))
        run = subprocess.Popen(jail.command(program, []), env=jail.env(extra),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            dialog = desktop.wait_window(TITLE)
        except AssertionError as no_window:
            os.killpg(run.pid, 9)
            raise AssertionError("%s\nthe launcher said: %s%s" % ((no_window,) + run.communicate()))
        desktop.screenshot(dialog, request.node.name)  # fails when blank
        desktop.activate(dialog)
        desktop.key("Return")
        out, err = run.communicate(timeout=120)
        assert run.returncode == 0, err
        assert "Launching installer..." in out
        default = jail.host(jail.inside / "home" / "Korvane")
        assert kvtest.snapshot(default) == payloads.expected_tree()
    finally:
        if run is not None and run.poll() is None:
            os.killpg(run.pid, 9)
            run.communicate()
        jail.remove()
