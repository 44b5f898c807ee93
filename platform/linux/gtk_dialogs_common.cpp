#include "platform/linux/gtk_dialogs_common.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/linux/logo_extractor.h"

namespace kv {

namespace {

const char kWindowTitle[] = "Extract Installer";

template <typename T>
T* checkedCast(GtkWidget* widget, GType (*typeOf)()) {
  return reinterpret_cast<T*>(
      gtkApi().g_type_check_instance_cast(reinterpret_cast<GTypeInstance*>(widget), typeOf()));
}

std::string formatArgs(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  return limitText(std::string(buffer.data(), static_cast<size_t>(length)));
}

}  // namespace

GtkBox* asBox(GtkWidget* widget) { return checkedCast<GtkBox>(widget, gtkApi().gtk_box_get_type); }
GtkContainer* asContainer(GtkWidget* widget) {
  return checkedCast<GtkContainer>(widget, gtkApi().gtk_container_get_type);
}
GtkDialog* asDialog(GtkWidget* widget) {
  return checkedCast<GtkDialog>(widget, gtkApi().gtk_dialog_get_type);
}
GtkEntry* asEntry(GtkWidget* widget) {
  return checkedCast<GtkEntry>(widget, gtkApi().gtk_entry_get_type);
}
GtkFileChooser* asFileChooser(GtkWidget* widget) {
  return checkedCast<GtkFileChooser>(widget, gtkApi().gtk_file_chooser_get_type);
}
GtkLabel* asLabel(GtkWidget* widget) {
  return checkedCast<GtkLabel>(widget, gtkApi().gtk_label_get_type);
}
GtkProgressBar* asProgressBar(GtkWidget* widget) {
  return checkedCast<GtkProgressBar>(widget, gtkApi().gtk_progress_bar_get_type);
}
GtkWindow* asWindow(GtkWidget* widget) {
  return checkedCast<GtkWindow>(widget, gtkApi().gtk_window_get_type);
}

gpointer asObject(GtkWidget* widget) {
  return gtkApi().g_type_check_instance_cast(reinterpret_cast<GTypeInstance*>(widget),
                                             kGObjectType);
}

void connectSignal(GtkWidget* widget, const char* signal, GCallback handler, gpointer data) {
  gtkApi().g_signal_connect_data(asObject(widget), signal, handler, data, nullptr,
                                 GConnectFlags(0));
}

void setUpLauncherWindow(GtkWidget* window) {
  const GtkApi& gtk = gtkApi();
  const std::string logo = logoFilePath();
  gtk.gtk_window_set_title(asWindow(window), kWindowTitle);
  gtk.gtk_window_set_default_size(asWindow(window), 400, 200);
  gtk.gtk_window_set_position(asWindow(window), GTK_WIN_POS_CENTER);
  // Without a logo file the window simply has no icon (and GTK is not asked
  // to load one, which it would report as an error).
  if (haveLogoFile()) gtk.gtk_window_set_icon_from_file(asWindow(window), logo.c_str(), nullptr);
  gtk.gtk_container_set_border_width(asContainer(window), 10);
}

std::string formatMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatArgs(format, args);
  va_end(args);
  return text;
}

GtkWidget* showMessage(GtkWindow* parent, GtkDialogFlags flags, GtkMessageType type,
                       GtkButtonsType buttons, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = formatArgs(format, args);
  va_end(args);
  return gtkApi().gtk_message_dialog_new(parent, flags, type, buttons, "%s", text.c_str());
}

void runMessageBox(GtkWindow* parent, GtkMessageType type, const std::string& text) {
  const GtkApi& gtk = gtkApi();
  GtkWidget* box = showMessage(parent, GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK, "%s", text.c_str());
  gtk.gtk_dialog_run(asDialog(box));
  gtk.gtk_widget_destroy(box);
}

}  // namespace kv
