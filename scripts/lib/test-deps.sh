# What each test group needs installed, one function per group. Sourced by
# scripts/test.sh after common.sh; each function runs before any test, on
# every run, and must be cheap when everything is already there (use
# ensure_packages, which only installs what is missing).
#
# Adding a group: give its tests a marker (register it in pytest.ini), add
# an install_<group>_deps function here, call it and add a run_e2e line for
# the group in scripts/test.sh.

# Unit and end-to-end tests of every group.
install_test_deps() {
    ensure_packages python3-pytest python3-pytest-timeout python3-py7zr \
        libarchive-tools 7zip file binutils clang-format
}

# Tests marked "gui": both Linux launchers' GTK 2 dialogs under Xvfb, driven
# with xdotool/wmctrl under openbox; screenshots with ImageMagick, texts read
# back through the X selection (xclip) or from the pictures (tesseract).
install_gui_deps() {
    ensure_packages xvfb xauth xdotool openbox wmctrl imagemagick x11-utils \
        libgtk2.0-0 libxtst6 xclip tesseract-ocr tesseract-ocr-eng
    ensure_i386_architecture
    ensure_packages libgtk2.0-0:i386 libxtst6:i386
}

# Tests marked "windows": setup.exe / setupc.exe under Wine.
install_windows_deps() {
    # ---- Windows group: install steps go here ------------------------------
    # Wine runs the 32-bit launchers (its 32-bit loader is an i386 program);
    # the stand-in installer is cross-built with MinGW (a build package);
    # signed launchers are made with openssl and osslsigncode; the dialog
    # tests use the gui group's Xvfb, xdotool and ImageMagick.
    ensure_i386_architecture
    ensure_packages wine wine32:i386 wine64 osslsigncode openssl mingw-w64 \
        xvfb xauth xdotool imagemagick x11-utils
    # -------------------------------------------------------------------------
}

# Tests marked "oldlinux": the Linux launchers in Debian 11 userlands made
# with mmdebstrap and entered with chroot (unshare, mount: util-linux); the
# dialog test there uses the gui group's Xvfb and tools.
install_oldlinux_deps() {
    # arch-test: mmdebstrap checks with it that the i386 userland can run
    # here, and refuses to make a foreign one without it.
    ensure_packages mmdebstrap debian-archive-keyring util-linux arch-test
}
