# What each test group needs installed, one function per group. Sourced by
# scripts/test.sh after common.sh; each function runs before any test, on
# every run, and must be cheap when everything is already there (use
# ensure_packages, which only installs what is missing).
#
# Adding a group: give its tests a marker (register it in pytest.ini), add
# an install_<group>_deps function here, and add the group to E2E_GROUPS in
# scripts/test.sh.

# Unit and end-to-end tests of every group.
install_test_deps() {
    ensure_packages python3-pytest python3-pytest-timeout python3-py7zr \
        libarchive-tools 7zip file binutils
}

# Tests marked "gui": the i386 launcher's GTK 2 dialogs under Xvfb, driven
# with xdotool/wmctrl under openbox; screenshots with ImageMagick.
install_gui_deps() {
    ensure_packages xvfb xauth xdotool openbox wmctrl imagemagick x11-utils \
        libgtk2.0-0 libxtst6
    ensure_i386_architecture
    ensure_packages libgtk2.0-0:i386 libxtst6:i386
}

# Tests marked "windows": setup.exe / setupc.exe under Wine.
install_windows_deps() {
    # ---- Windows group: install steps go here ------------------------------
    # e.g. ensure_i386_architecture
    #      ensure_packages wine wine32:i386 wine64 osslsigncode
    # (installing these next to gcc-multilib removes nothing on bookworm;
    # ensure_packages refuses any plan that would.)
    # -------------------------------------------------------------------------
    :
}
