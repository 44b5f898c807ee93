#include "platform/linux/gtk_dialogs.h"

#include <sys/stat.h>

#include <cstdlib>

#include "core/location.h"
#include "core/platform.h"
#include "platform/linux/gtk_dialogs_common.h"
#include "platform/linux/gtk_dialogs_layout.h"
#include "platform/linux/progress_window.h"

namespace kv {

namespace {

const char kNoProductsMessage[] =
    "Error: KV installer can't run; this location contains no Korvane products.\n";

// The dialog on screen (there is at most one, on the main thread). The
// chooser runs a nested loop during which the dialog could go away; it only
// writes to the entry while this still names it.
LocationDialogState* activeDialog = nullptr;

class ActiveDialogScope {
 public:
  explicit ActiveDialogScope(LocationDialogState* state) { activeDialog = state; }
  ~ActiveDialogScope() { activeDialog = nullptr; }
};

gboolean quitOnDelete(GtkWidget*, void*, gpointer) {
  gtkApi().gtk_main_quit();
  return false;  // the dialog is then destroyed as usual
}

void quitOnDestroy(GtkWidget*, gpointer data) {
  static_cast<LocationDialogState*>(data)->entry = nullptr;
  gtkApi().gtk_main_quit();
}

GtkWidget* newRow(GtkWidget* contentArea) {
  const GtkApi& gtk = gtkApi();
  GtkWidget* row = gtk.gtk_hbox_new(false, 10);
  gtk.gtk_box_pack_start(asBox(contentArea), row, false, true, 0);
  return row;
}

bool exists(const char* path) {
  struct stat info;
  return path && stat(path, &info) == 0;
}

// One turn of the chooser: true when `folder` may go into the entry;
// otherwise the reason has been shown in an error box over the chooser.
bool acceptChosenFolder(GtkWidget* chooser, const std::string& folder,
                        const LocationValidator& validator) {
  std::string message;
  if (!validator.checkCharacters(folder, &message)) {
    runMessageBox(asWindow(chooser), GTK_MESSAGE_ERROR, message);
    return false;
  }
  if (!validator.canRunInstaller(folder)) {
    runMessageBox(asWindow(chooser), GTK_MESSAGE_ERROR, kNoProductsMessage);
    return false;
  }
  return true;
}

}  // namespace

void browseForFolder(GtkWidget*, gpointer data) {
  const GtkApi& gtk = gtkApi();
  GtkWidget* entry = static_cast<GtkWidget*>(data);
  if (!activeDialog || activeDialog->entry != entry) return;
  const LocationValidator& validator = *activeDialog->validator;

  GtkWidget* chooser = gtk.gtk_file_chooser_dialog_new(
      "Select Install Folder", nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "gtk-cancel",
      GTK_RESPONSE_CANCEL, "gtk-open", GTK_RESPONSE_ACCEPT, static_cast<const char*>(nullptr));
  const char* current = gtk.gtk_entry_get_text(asEntry(entry));
  if (exists(current)) gtk.gtk_file_chooser_set_filename(asFileChooser(chooser), current);

  while (gtk.gtk_dialog_run(asDialog(chooser)) == GTK_RESPONSE_ACCEPT) {
    char* chosen = gtk.gtk_file_chooser_get_filename(asFileChooser(chooser));
    if (!chosen) continue;  // nothing local was picked: ask again
    std::string folder(chosen);
    std::free(chosen);  // g_malloc'd; GLib allocates with the system malloc
    if (!acceptChosenFolder(chooser, folder, validator)) continue;
    // The location dialog may have gone while the chooser was up.
    if (activeDialog && activeDialog->entry == entry) {
      gtk.gtk_entry_set_text(asEntry(entry), folder.c_str());
    }
    break;
  }
  gtk.gtk_widget_destroy(chooser);
}

void locationResponse(GtkWidget*, gint response, gpointer data) {
  const GtkApi& gtk = gtkApi();
  LocationDialogState& state = *static_cast<LocationDialogState*>(data);
  if (!state.entry) return;
  GtkWidget* dialog = gtk.gtk_widget_get_toplevel(state.entry);
  if (response == GTK_RESPONSE_ACCEPT) {
    std::string text = gtk.gtk_entry_get_text(asEntry(state.entry));
    std::string normalised;
    std::string message;
    if (!state.validator->check(text, normalised, state.requireProducts, &message)) {
      runMessageBox(asWindow(dialog), GTK_MESSAGE_WARNING, message);
      return;  // the dialog stays open for another try
    }
    state.result = normalised;
  }
  gtk.gtk_widget_destroy(dialog);  // its "destroy" handler ends gtk_main
}

std::optional<std::string> selectLocation(const std::optional<std::string>& initial,
                                          const char* prompt, bool requireProducts,
                                          const LocationValidator& validator) {
  const GtkApi& gtk = gtkApi();
  LocationDialogState state;
  state.requireProducts = requireProducts;
  state.validator = &validator;
  ActiveDialogScope scope(&state);

  GtkWidget* dialog = gtk.gtk_dialog_new();
  setUpLauncherWindow(dialog);
  connectSignal(dialog, "delete_event", signalHandler(quitOnDelete), nullptr);
  connectSignal(dialog, "destroy", signalHandler(quitOnDestroy), &state);

  // The prompt and the entry sit together in the middle of the space above
  // the buttons, not at its top above an empty band.
  GtkWidget* contentArea = gtk.gtk_vbox_new(false, 10);
  gtk.gtk_box_pack_start(asBox(dialogContentArea(dialog)), contentArea, true, false, 0);
  GtkWidget* promptRow = newRow(contentArea);
  GtkWidget* label = gtk.gtk_label_new(prompt);
  gtk.gtk_label_set_justify(asLabel(label), GTK_JUSTIFY_LEFT);
  gtk.gtk_label_set_line_wrap(asLabel(label), true);
  gtk.gtk_box_pack_start(asBox(promptRow), label, false, false, 0);

  GtkWidget* entryRow = newRow(contentArea);
  GtkWidget* entry = gtk.gtk_entry_new();
  gtk.gtk_entry_set_text(asEntry(entry), initial ? initial->c_str() : "");
  gtk.gtk_entry_set_activates_default(asEntry(entry), true);
  gtk.gtk_box_pack_start(asBox(entryRow), entry, true, true, 0);
  if (gtk.gtk_file_chooser_dialog_new) {
    GtkWidget* browse = gtk.gtk_button_new_with_label("Browse...");
    gtk.gtk_box_pack_start(asBox(entryRow), browse, false, false, 0);
    connectSignal(browse, "clicked", signalHandler(browseForFolder), entry);
  }
  state.entry = entry;

  gtk.gtk_dialog_add_button(asDialog(dialog), "gtk-ok", GTK_RESPONSE_ACCEPT);
  gtk.gtk_dialog_add_button(asDialog(dialog), "gtk-cancel", GTK_RESPONSE_REJECT);
  gtk.gtk_dialog_set_default_response(asDialog(dialog), GTK_RESPONSE_ACCEPT);

  connectSignal(dialog, "response", signalHandler(locationResponse), &state);
  gtk.gtk_window_set_modal(asWindow(dialog), true);
  gtk.gtk_widget_show_all(dialog);
  gtk.gtk_main();
  return state.result;
}

void showErrorBox(const std::string& text) {
  if (!gtkApi().gtk_message_dialog_new) return;  // GTK was never bound
  // The progress window's thread leaves GTK to this one first.
  waitForProgressLoops();
  std::string shown = text;
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  runMessageBox(nullptr, GTK_MESSAGE_ERROR, shown);
}

}  // namespace kv
