"""The location dialog "Extract Installer" and its folder chooser, shown by
both Linux launchers under the test X server and driven with xdotool."""

import re
import time
from pathlib import Path

import pytest

import kvtest
import sevenzip_writer as sz
from gui_support import CHOOSER_TITLE, TITLE, GuiRun, desktop, log_faults  # noqa: F401

pytestmark = pytest.mark.gui

# The dialog's buttons, from its bottom-right corner (400x200 window, GTK's
# default theme): OK to the left of Cancel.
OK_BUTTON = (-160, -34)
CANCEL_BUTTON = (-62, -34)


@pytest.fixture(scope="session")
def archives(tmp_path_factory):
    folder = tmp_path_factory.mktemp("gui-archives")
    trees = {"installer": kvtest.make_installer_tree(folder / "installer"),
             "jre": kvtest.make_jre_tree(folder / "jre")}
    result = {}
    for name, tree in trees.items():
        result[name] = kvtest.seven_zip(tree, folder / f"{name}.7z")
    result["logo"] = kvtest.write_png(folder / "logo.png")
    return result


@pytest.fixture
def bundle(tmp_path, launcher, archives):
    (tmp_path / "media").mkdir()
    return kvtest.mkbundle(tmp_path / "media" / launcher.name, launcher,
                           version=kvtest.DEFAULT_VERSION, installer=archives["installer"],
                           jre=archives["jre"], releases=["KV_GUI_TEST_1"], logo=archives["logo"])


@pytest.fixture
def start(bundle, home, x_display, tmp_path):
    """start(*args) runs the bundle in the background; every run is stopped
    at the end, and the GTK log must not report a GTK fault."""
    runs = []
    allowed = []

    def starter(*args, cwd=None):
        run = GuiRun(bundle, home, x_display, args=args, record=tmp_path / "record",
                     cwd=cwd or tmp_path)
        runs.append(run)
        return run

    starter.allow_log = allowed.append
    yield starter
    for run in runs:
        run.stop()
    assert log_faults(home, allowed) == []


def shot_name(request, what):
    return f"{request.node.name}-{what}".replace("[", "-").replace("]", "")


def installed(root):
    """True when the installer and the runtime were extracted into root."""
    folder = kvtest.installer_dir(root)
    return (folder / "kvInstaller").is_file() and (folder / "jre" / kvtest.JRE_RELEASE).is_dir()


def assert_installer_started(run, record, root):
    assert run.wait() == 0, run.stderr
    assert installed(root)
    started = kvtest.read_record(record)
    assert Path(started["argv0"]) == kvtest.installer_dir(root) / "kvInstaller"


def assert_nothing_done(run, record, home):
    assert run.wait() == 0, run.stderr
    assert "Launching installer" not in run.stdout
    assert not record.exists()
    assert not (home / "Korvane").exists()
    assert not (home / ".kvInstaller.loc").exists()


def test_enter_accepts_the_typed_location(desktop, start, home, tmp_path, request):
    run = start()
    dialog = desktop.wait_window(TITLE)
    assert desktop.geometry(dialog) == (400, 200)
    picture = desktop.screenshot(dialog, shot_name(request, "dialog"))
    text = desktop.read_text(picture)
    assert "Select the install location" in text
    assert "Browse" in text
    # The entry starts with the default location and has the focus.
    desktop.activate(dialog)
    assert desktop.primary_selection() == str(home / "Korvane")
    target = tmp_path / "typed-target"
    desktop.replace_entry_text(dialog, str(target))
    desktop.key("Return")
    assert_installer_started(run, tmp_path / "record", target)
    assert "Launching installer..." in run.stdout


def test_clicking_ok_accepts_the_location(desktop, start, tmp_path):
    run = start()
    dialog = desktop.wait_window(TITLE)
    target = tmp_path / "clicked"
    desktop.replace_entry_text(dialog, str(target))
    desktop.click(dialog, *OK_BUTTON)
    assert_installer_started(run, tmp_path / "record", target)


def test_tilde_stands_for_the_home_folder(desktop, start, home, tmp_path):
    run = start()
    dialog = desktop.wait_window(TITLE)
    desktop.replace_entry_text(dialog, "~/inst")
    desktop.key("Return")
    assert_installer_started(run, tmp_path / "record", home / "inst")
    # The expanded location is the one remembered for the next run.
    assert str(home / "inst") in (home / ".kvInstaller.loc").read_text()


def test_relative_path_is_refused_in_a_warning_box(desktop, start, tmp_path, request):
    run = start()
    dialog = desktop.wait_window(TITLE)
    # A "%" in the path is shown as it is, never taken as a format.
    desktop.replace_entry_text(dialog, "rel%sdir")
    desktop.key("Return")
    box = desktop.wait_window(exclude={dialog}, timeout=30)
    desktop.screenshot(box, shot_name(request, "warning"))
    desktop.activate(box)
    desktop.key("Tab")  # the message label takes the focus and selects its text
    assert desktop.primary_selection() == "ERROR: rel%sdir is an invalid path."
    desktop.key("Escape")
    desktop.wait_gone(box)
    # The dialog stays open for another try.
    assert desktop.exists(dialog) and run.proc.poll() is None
    assert not (tmp_path / "rel%sdir").exists()
    target = tmp_path / "second-try"
    desktop.replace_entry_text(dialog, str(target))
    desktop.key("Return")
    assert_installer_started(run, tmp_path / "record", target)


def test_cancel_ends_the_run_without_extracting(desktop, start, home, tmp_path):
    run = start()
    dialog = desktop.wait_window(TITLE)
    desktop.click(dialog, *CANCEL_BUTTON)
    assert_nothing_done(run, tmp_path / "record", home)


def test_closing_the_dialog_ends_the_run_without_extracting(desktop, start, home, tmp_path):
    run = start()
    dialog = desktop.wait_window(TITLE)
    desktop.close(dialog)
    assert_nothing_done(run, tmp_path / "record", home)


def test_browse_opens_the_folder_chooser(desktop, start, home, tmp_path, request):
    (home / "bad:name").mkdir()
    chosen = home / "chosen"
    chosen.mkdir()
    # GTK 2's own file chooser entry reports this while it completes typed
    # folder names; it is none of the launcher's calls.
    start.allow_log("gtk_tree_model_get_iter_first")
    run = start()
    dialog = desktop.wait_window(TITLE)
    desktop.activate(dialog)
    desktop.key("Tab", "Return")  # from the entry to "Browse...", pressed
    chooser = desktop.wait_window(CHOOSER_TITLE, timeout=30)
    desktop.screenshot(chooser, shot_name(request, "chooser"))

    # A folder with a forbidden character: an error box over the chooser.
    desktop.activate(chooser)
    desktop.key("ctrl+l", "ctrl+a")
    desktop.type(f"{home}/bad:name/")
    desktop.key("Return")
    box = desktop.wait_window(exclude={dialog, chooser}, timeout=30)
    desktop.screenshot(box, shot_name(request, "error"))
    desktop.activate(box)
    desktop.key("Tab")
    assert desktop.primary_selection() == (
        "Your installation could not be completed because the location you specified includes "
        "invalid characters.\nThe installation path may not contain the following characters:\n"
        ':%#<>"!?<space>')
    desktop.key("Escape")
    desktop.wait_gone(box)
    assert desktop.exists(chooser)

    # A good folder goes into the entry; OK then installs there.
    desktop.activate(chooser)
    desktop.key("ctrl+l", "ctrl+a")
    desktop.type(f"{chosen}/")
    desktop.key("Return")
    desktop.wait_gone(chooser)
    desktop.activate(dialog)
    desktop.key("shift+Tab")  # back into the entry, which selects its text
    assert desktop.primary_selection() == str(chosen)
    desktop.key("Return")
    assert_installer_started(run, tmp_path / "record", chosen)


def test_gtk_messages_go_to_the_log_file(desktop, start, home, tmp_path):
    # A theme engine that does not exist: GTK warns when it styles the dialog.
    # Its name holds a line break, which the log must not pass on.
    (home / ".gtkrc-2.0").write_text(
        'style "kvtest" {\n  engine "kvnosuchengine\\nInjected line" {}\n}\n'
        'widget "*" style "kvtest"\n')
    # A link planted at the log's name is never written through.
    target = tmp_path / "target.sh"
    target.write_text("#!/bin/sh\n")
    (home / ".kvInstaller.log").symlink_to(target)
    run = start("kvguitest-argument")
    desktop.close(desktop.wait_window(TITLE))
    assert run.wait() == 0
    assert target.read_text() == "#!/bin/sh\n"
    (home / ".kvInstaller.log").unlink()

    run = start("kvguitest-argument")
    dialog = desktop.wait_window(TITLE)
    desktop.close(dialog)
    assert run.wait() == 0
    lines = (home / ".kvInstaller.log").read_text().split("\n")
    assert lines[0] == ""
    stamp = r"\[\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\]"
    assert re.fullmatch(stamp + r"\S*setup_linux(64)? kvguitest-argument", lines[1]), lines[1]
    assert any(re.fullmatch(stamp + r'Gtk-WARNING: .*"kvnosuchengine\\nInjected line".*', line)
               for line in lines[2:]), lines
    assert all(re.match(stamp, line) for line in lines[1:-1]), lines
    assert lines[-1] == ""


def test_failed_extraction_shows_the_error_in_a_box_and_starts_nothing(
        desktop, launcher, home, x_display, tmp_path, archives, request):
    damaged = sz.write_7z(tmp_path / "p.7z", [sz.Entry("readme", b"damaged\n", bad_crc=True)])
    bundle = kvtest.mkbundle(tmp_path / launcher.name, launcher, version=kvtest.DEFAULT_VERSION,
                             installer=archives["installer"], jre=archives["jre"],
                             extra_blocks=[("p", damaged.read_bytes())])
    run = GuiRun(bundle, home, x_display, record=tmp_path / "record", cwd=tmp_path)
    try:
        dialog = desktop.wait_window(TITLE)
        desktop.activate(dialog)
        desktop.key("Return")  # the default location, home/Korvane
        deadline = time.monotonic() + 60
        boxes = []
        while not boxes and time.monotonic() < deadline:
            # The box has no title; the progress window before it has ours.
            boxes = [wid for wid, name in desktop.managed_windows().items()
                     if wid != dialog and name != TITLE]
            time.sleep(0.1)
        assert boxes, "no error box appeared"
        desktop.screenshot(boxes[0], shot_name(request, "error"))
        desktop.activate(boxes[0])
        desktop.key("Tab")  # the message label takes the focus and selects its text
        # The damaged data names the setup file in the same box.
        assert desktop.primary_selection() == (
            "ERROR: Extracting payload failed: 3\n" + kvtest.damaged_setup(bundle).rstrip("\n"))
        assert run.proc.poll() is None, "the run ended before the box was closed"
        desktop.key("Escape")
        assert run.wait() == 1, run.stderr
    finally:
        run.stop()
    assert run.stderr.endswith("ERROR: Extracting payload failed: 3\n"
                               + kvtest.damaged_setup(bundle))
    assert "Launching installer" not in run.stdout
    assert not (tmp_path / "record").exists()


def test_the_logo_file_never_outlives_the_run(desktop, start, launcher, archives, home,
                                              tmp_path, x_display):
    def logo(run):
        return Path(f"/tmp/{run.proc.pid}_kvlogo.png")

    # Cancelled, ended by a signal, and the installer started in its place.
    run = start()
    desktop.close(desktop.wait_window(TITLE))
    assert run.wait() == 0 and not logo(run).exists()
    run = start()
    desktop.wait_window(TITLE)
    assert logo(run).exists()
    run.proc.terminate()
    assert run.wait() == -15 and not logo(run).exists()
    run = start()
    dialog = desktop.wait_window(TITLE)
    desktop.replace_entry_text(dialog, str(tmp_path / "inst"))
    desktop.key("Return")
    assert_installer_started(run, tmp_path / "record", tmp_path / "inst")
    assert not logo(run).exists()

    # Without a logo block there is no icon to load, and nothing to report.
    (tmp_path / "plain").mkdir()
    plain = kvtest.mkbundle(tmp_path / "plain" / launcher.name, launcher,
                            version=kvtest.DEFAULT_VERSION, installer=archives["installer"],
                            jre=archives["jre"], releases=["KV_GUI_TEST_1"])
    run = GuiRun(plain, home, x_display)
    try:
        desktop.close(desktop.wait_window(TITLE))
        assert run.wait() == 0
    finally:
        run.stop()
    log = home / ".kvInstaller.log"
    assert "Error loading icon" not in (log.read_text() if log.exists() else "")
