// What the GTK windows share: checked casts through the resolved
// _get_type entries, signal connection on the object cast, and message
// boxes whose text is formatted first and then shown literally. Every call
// goes through gtkApi(); nothing here may run before initGui() succeeded.
#pragma once

#include <string>

#include "core/text.h"
#include "platform/linux/gtk_api.h"

namespace kv {

// Checked casts (g_type_check_instance_cast with the class's type).
GtkBox* asBox(GtkWidget* widget);
GtkContainer* asContainer(GtkWidget* widget);
GtkDialog* asDialog(GtkWidget* widget);
GtkEntry* asEntry(GtkWidget* widget);
GtkFileChooser* asFileChooser(GtkWidget* widget);
GtkLabel* asLabel(GtkWidget* widget);
GtkProgressBar* asProgressBar(GtkWidget* widget);
GtkWindow* asWindow(GtkWidget* widget);
// The object cast that signal calls take (GType 80, GObject).
gpointer asObject(GtkWidget* widget);

// g_signal_connect_data on the object cast, no release function, no flags.
void connectSignal(GtkWidget* widget, const char* signal, GCallback handler, gpointer data);

template <typename Handler>
GCallback signalHandler(Handler handler) {
  return reinterpret_cast<GCallback>(handler);
}

// Title, default size 400x200, centred, the logo icon (when the file is
// there), border width 10: the frame of both windows.
void setUpLauncherWindow(GtkWidget* window);

// printf-style formatting, cut by limitText() to kMaxTextLength bytes, the
// longest text a message box shows.
std::string formatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A new message box over `parent` with the formatted text, which GTK shows
// as it is (a "%" stays a "%"). The caller runs and destroys it.
GtkWidget* showMessage(GtkWindow* parent, GtkDialogFlags flags, GtkMessageType type,
                       GtkButtonsType buttons, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

// Runs a modal OK box with `text` over `parent`, then destroys it.
void runMessageBox(GtkWindow* parent, GtkMessageType type, const std::string& text);

}  // namespace kv
