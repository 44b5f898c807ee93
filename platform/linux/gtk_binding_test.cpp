#include <gtest/gtest.h>

#include <set>

#include "core/arg_list.h"
#include "core/platform.h"
#include "platform/linux/gtk_api.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::ScopedEnv;

const char kGtk[] = "libgtk-x11-2.0.so.0";

TEST(GtkBindingTest, MessagesAreExact) {
  EXPECT_EQ(
      "The installer program cannot run in GUI mode on this host type due to an error loading gtk "
      "libraries(libXtst.so.6).\n We suggest to install these libraries on your host and retry the "
      "installation.\n",
      gtkLoadFailureMessage("libXtst.so.6"));
  EXPECT_EQ(
      "The installer program cannot run in GUI mode: Cannot open display: :0\nPossible causes:\n"
      "  - The DISPLAY environment variable might not be set or incorrect\n"
      "  - Access to the DISPLAY might be restricted (try xhost+)\n",
      displayFailureMessage(":0"));
  EXPECT_STREQ(
      "The installer program cannot run in GUI mode on this host type. Switching to text-based "
      "mode...\n",
      kGtkCoreMissingMessage);
  EXPECT_EQ(
      "The installer program cannot run in GUI mode. Symbol gtk_main not found in "
      "libgtk-x11-2.0.so.0",
      symbolMissingMessage("gtk_main"));
  EXPECT_EQ(1023u, displayFailureMessage(std::string(2000, 'd').c_str()).size());
  // 67 bytes of text, "d", then two-byte characters: byte 1023 would be the
  // first half of one, which goes whole.
  std::string accented = "d";
  for (int i = 0; i < 1000; ++i) accented += "\xC3\xA9";
  const std::string cut = displayFailureMessage(accented.c_str());
  EXPECT_EQ(1022u, cut.size());
  EXPECT_EQ("\xC3\xA9", cut.substr(cut.size() - 2));
}

TEST(GtkBindingTest, MissingLibrariesNameTheLibrary) {
  int argc = 1;
  char name[] = "setup";
  char* items[] = {name, nullptr};
  char** argv = items;
  GtkApi api;
  std::string message;
  EXPECT_FALSE(bindGtkFrom("libkv-no-such-gtk.so.0", "libXtst.so.6", &argc, &argv, api, &message));
  EXPECT_EQ(gtkLoadFailureMessage("libkv-no-such-gtk.so.0"), message);
  // GTK present but the probe library absent: the display is never opened.
  EXPECT_FALSE(bindGtkFrom(kGtk, "libkv-no-such-xtst.so.6", &argc, &argv, api, &message));
  EXPECT_EQ(gtkLoadFailureMessage("libkv-no-such-xtst.so.6"), message);
  EXPECT_EQ(nullptr, api.gtk_init_check);
}

// A lookup that finds every name except the given ones and remembers what
// it was asked for.
struct FakeLookup {
  std::set<std::string> missing;
  std::set<std::string> asked;
  void* operator()(const char* name) {
    asked.insert(name);
    static char somewhere;
    return missing.count(name) ? nullptr : &somewhere;
  }
};

std::string resolveWith(FakeLookup& fake) {
  GtkApi api;
  return resolveRemainingEntries([&fake](const char* name) { return fake(name); }, api);
}

TEST(GtkBindingTest, LastMissingEntryIsNamed) {
  FakeLookup all;
  EXPECT_EQ("", resolveWith(all));
  // Every entry from kGtkEntry_g_timeout_add on.
  EXPECT_EQ(static_cast<size_t>(kGtkEntryCount - kGtkEntry_g_timeout_add), all.asked.size());
  EXPECT_EQ(0u, all.asked.count("gtk_init_check"));

  FakeLookup several{{"gtk_button_new_from_stock", "gtk_window_set_default", "g_idle_add"}, {}};
  EXPECT_EQ("gtk_window_set_default", resolveWith(several));
}

TEST(GtkBindingTest, FileChooserAndLogHandlerAreOptional) {
  FakeLookup noChooser{{"gtk_file_chooser_dialog_new", "gtk_file_chooser_get_filename"}, {}};
  EXPECT_EQ("", resolveWith(noChooser));
  EXPECT_EQ(0u, noChooser.asked.count("gtk_file_chooser_get_filename"));
  EXPECT_EQ(0u, noChooser.asked.count("gtk_file_chooser_set_filename"));
  EXPECT_EQ(1u, noChooser.asked.count("gtk_hbox_new"));

  FakeLookup chooserPart{{"gtk_file_chooser_get_type"}, {}};
  EXPECT_EQ("gtk_file_chooser_get_type", resolveWith(chooserPart));

  FakeLookup noLogHandler{{"g_log_set_default_handler"}, {}};
  EXPECT_EQ("", resolveWith(noLogHandler));
}

// GTK parses its options once per process, so this is the one test that
// opens (or fails to open) the display.
TEST(GtkBindingTest, NoDisplayTakesOnlyGtkOptionsOutOfTheVector) {
  ScopedEnv display("DISPLAY", std::nullopt);
  GrowableArgList args;
  args.push("./setup_linux");
  args.push("--name=kvtest");
  args.push("-xv");  // grouped short options, which GLib rewrites in place
  args.push("--class");
  args.push("KvTest");
  args.push("two words");
  std::string failure;
  ASSERT_FALSE(initGui(args, &failure));
  EXPECT_EQ(displayFailureMessage(""), failure);
  EXPECT_NE(std::string::npos, failure.find("Cannot open display: \nPossible"));
  ASSERT_EQ(3, args.count());
  EXPECT_STREQ("./setup_linux", args.at(0));
  EXPECT_STREQ("-xv", args.at(1));
  EXPECT_STREQ("two words", args.at(2));
  for (int i = 3; i < args.capacity(); ++i) EXPECT_EQ(nullptr, args.at(i));
  EXPECT_NE(nullptr, gtkApi().gtk_init_check);
  EXPECT_EQ(nullptr, gtkApi().gtk_main);  // not looked up after a failure
}

}  // namespace
}  // namespace kv
