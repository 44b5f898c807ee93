"""The launcher reads a GtkDialog's content area from the instance struct
(GTK 2 offers no other way within the entries the launcher binds). A probe
built from the launcher's own layout declaration, once for i386 and once
for x86-64, compares that pointer with the one the real library's
gtk_dialog_get_content_area returns."""

import shutil
import subprocess

import pytest

import kvtest

pytestmark = pytest.mark.gui

PROBE = r"""
#include <dlfcn.h>
#include <cstdio>
#include "platform/linux/gtk_dialogs_layout.h"

int main(int argc, char** argv) {
  void* gtk = dlopen("libgtk-x11-2.0.so.0", RTLD_LAZY | RTLD_GLOBAL);
  if (!gtk) { std::puts("no gtk"); return 2; }
  auto init = reinterpret_cast<int (*)(int*, char***)>(dlsym(gtk, "gtk_init_check"));
  auto dialogNew = reinterpret_cast<kv::GtkWidget* (*)()>(dlsym(gtk, "gtk_dialog_new"));
  auto contentArea = reinterpret_cast<kv::GtkWidget* (*)(kv::GtkWidget*)>(
      dlsym(gtk, "gtk_dialog_get_content_area"));
  auto typeName = reinterpret_cast<const char* (*)(void*)>(dlsym(gtk, "g_type_name_from_instance"));
  if (!init(&argc, &argv)) { std::puts("no display"); return 2; }
  kv::GtkWidget* dialog = dialogNew();
  kv::GtkWidget* expected = contentArea(dialog);
  kv::GtkWidget* read = kv::dialogContentArea(dialog);
  std::printf("%s %s\n", read == expected ? "same" : "different", typeName(read));
  return read == expected ? 0 : 1;
}
"""


@pytest.mark.parametrize("bits", ["32", "64"])
def test_dialog_content_area_is_read_where_gtk_keeps_it(bits, x_display, tmp_path):
    if not shutil.which("g++"):
        pytest.fail("g++ (and g++-multilib) are needed to build the probe")
    source = tmp_path / "probe.cpp"
    source.write_text(PROBE)
    probe = tmp_path / f"probe{bits}"
    subprocess.run(["g++", f"-m{bits}", "-std=c++17", "-Wall", "-Werror", "-I",
                    str(kvtest.REPO_ROOT), "-o", str(probe), str(source), "-ldl"], check=True)
    done = subprocess.run([str(probe)], env={"PATH": "/usr/bin:/bin", **x_display},
                          capture_output=True, text=True, timeout=120)
    assert done.stdout.strip() == "same GtkVBox", done.stdout + done.stderr
    assert done.returncode == 0
