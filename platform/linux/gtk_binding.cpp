// Binding GTK at run time: load the library, resolve the GtkApi table, open
// the display. Any failure yields the message that precedes the fall-back to
// console mode; the library stays loaded whatever happens.
#include <dlfcn.h>

#include <cstdlib>

#include "core/arg_list.h"
#include "core/platform.h"
#include "core/text.h"
#include "core/text_store.h"
#include "platform/linux/gtk_api.h"
#include "platform/linux/gtk_log.h"

namespace kv {

namespace {

const char kGtkLibrary[] = "libgtk-x11-2.0.so.0";
const char kXtstLibrary[] = "libXtst.so.6";

// The order that bindGtkFrom() and resolveRemainingEntries() rely on.
static_assert(kGtkEntryCount == 54, "GtkApi has 54 entries");
static_assert(kGtkEntry_g_type_check_instance_cast + 1 == kGtkEntry_g_timeout_add,
              "the entries needed before the display is opened come first");
static_assert(
    kGtkEntry_gtk_file_chooser_get_filename == kGtkEntry_gtk_file_chooser_dialog_new + 1 &&
        kGtkEntry_gtk_file_chooser_get_type == kGtkEntry_gtk_file_chooser_dialog_new + 2 &&
        kGtkEntry_gtk_file_chooser_set_filename == kGtkEntry_gtk_file_chooser_dialog_new + 3,
    "the file chooser's entries follow its constructor, the ones skipped without it");
static_assert(kGtkEntry_g_log_set_default_handler + 1 == kGtkEntryCount,
              "the optional log handler comes last");

// One table entry: its name, and how to store a looked-up address in it.
struct EntryInfo {
  const char* name;
  void (*store)(GtkApi& api, void* address);
};

#define KV_GTK_API_INFO(name, result, params) \
  {#name,                                     \
   [](GtkApi& api, void* address) { api.name = reinterpret_cast<decltype(api.name)>(address); }},
const EntryInfo kEntries[kGtkEntryCount] = {KV_GTK_API(KV_GTK_API_INFO)};
#undef KV_GTK_API_INFO

// Looks entry `index` up and stores it; false when it is missing.
bool resolve(const std::function<void*(const char*)>& lookup, GtkApi& api, int index) {
  void* address = lookup(kEntries[index].name);
  kEntries[index].store(api, address);
  return address != nullptr;
}

GtkApi& processApi() {
  static GtkApi api;
  return api;
}

}  // namespace

// The fall-back messages are cut by limitText() like every message the
// launcher shows: a long library name or display cannot make them unbounded.
const char kGtkCoreMissingMessage[] =
    "The installer program cannot run in GUI mode on this host type. Switching to text-based "
    "mode...\n";

std::string gtkLoadFailureMessage(const char* library) {
  return limitText(
      std::string("The installer program cannot run in GUI mode on this host type due to an "
                  "error loading gtk libraries(") +
      library +
      ").\n We suggest to install these libraries on your host and retry the "
      "installation.\n");
}

std::string displayFailureMessage(const char* display) {
  return limitText(
      std::string("The installer program cannot run in GUI mode: Cannot open display: ") + display +
      "\nPossible causes:\n"
      "  - The DISPLAY environment variable might not be set or incorrect\n"
      "  - Access to the DISPLAY might be restricted (try xhost+)\n");
}

std::string symbolMissingMessage(const char* symbol) {
  return limitText(std::string("The installer program cannot run in GUI mode. Symbol ") + symbol +
                   " not found in libgtk-x11-2.0.so.0");
}

const GtkApi& gtkApi() { return processApi(); }

std::string resolveRemainingEntries(const std::function<void*(const char*)>& lookup, GtkApi& api) {
  std::string missing;
  for (int index = kGtkEntry_g_timeout_add; index < kGtkEntryCount; ++index) {
    bool found = resolve(lookup, api, index);
    if (index == kGtkEntry_gtk_file_chooser_dialog_new) {
      // No file chooser: the location dialog goes without "Browse...".
      if (!found) index = kGtkEntry_gtk_file_chooser_set_filename;
      continue;
    }
    if (index == kGtkEntry_g_log_set_default_handler) continue;  // no log file then
    if (!found) missing = kEntries[index].name;
  }
  return missing;
}

bool bindGtkFrom(const char* libName, const char* xtstName, int* argc, char*** argv, GtkApi& api,
                 std::string* message) {
  // Kept open for the life of the process, after a failed binding too.
  void* library = dlopen(libName, RTLD_LAZY | RTLD_GLOBAL);
  if (!library) {
    *message = gtkLoadFailureMessage(libName);
    return false;
  }
  void* xtst = dlopen(xtstName, RTLD_LAZY | RTLD_GLOBAL);
  if (!xtst) {
    *message = gtkLoadFailureMessage(xtstName);
    return false;
  }
  dlclose(xtst);  // a presence probe only

  auto lookup = [library](const char* name) { return dlsym(library, name); };
  bool coreFound = true;
  for (int index = 0; index <= kGtkEntry_g_type_check_instance_cast; ++index) {
    if (!resolve(lookup, api, index)) coreFound = false;
  }
  if (!coreFound) {
    *message = kGtkCoreMissingMessage;
    return false;
  }

  if (!api.gtk_init_check(argc, argv)) {
    const char* display = std::getenv("DISPLAY");
    *message = displayFailureMessage(display ? display : "");
    return false;
  }
  std::string missing = resolveRemainingEntries(lookup, api);
  if (!missing.empty()) {
    *message = symbolMissingMessage(missing.c_str());
    return false;
  }
  return true;
}

bool bindGtk(int* argc, char*** argv, std::string* message) {
  return bindGtkFrom(kGtkLibrary, kXtstLibrary, argc, argv, processApi(), message);
}

bool initGui(GrowableArgList& args, std::string* message) {
  // GLib's option parser writes into the entries it is given (grouped short
  // options are rewritten in place), and some entries may be read-only
  // texts: GTK gets writable copies, which live as long as the originals.
  for (int i = 0; i < args.count(); ++i) {
    if (args.at(i)) args.set(i, keepText(args.at(i)));
  }
  // GTK may take its own options out of the vector.
  const bool bound =
      args.editInPlace([message](int* argc, char*** argv) { return bindGtk(argc, argv, message); });
  // The log header lists the vector as it now stands.
  saveLogArguments(args);
  if (bound && processApi().g_log_set_default_handler) {
    processApi().g_log_set_default_handler(gtkLogHandler, nullptr);
  }
  return bound;
}

}  // namespace kv
