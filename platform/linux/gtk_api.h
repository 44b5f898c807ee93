// GtkApi: the GTK 2, GLib and GObject entry points that the launcher's
// windows call, looked up at run time on "libgtk-x11-2.0.so.0" (the launcher
// is never linked against GTK). Each entry is typed as GTK declares it.
//
// KV_GTK_API lists the 54 entries once, in the order in which they are
// resolved: X(name, return type, parameter list).
#pragma once

#include <functional>
#include <string>

#include "platform/linux/gtk_types.h"

namespace kv {

#define KV_GTK_API(X)                                                                          \
  X(gtk_init_check, gboolean, (int* argc, char*** argv))                                       \
  X(g_signal_connect_data, gulong,                                                             \
    (gpointer instance, const gchar* signal, GCallback handler, gpointer data,                 \
     GClosureNotify destroyData, GConnectFlags flags))                                         \
  X(g_type_check_instance_cast, GTypeInstance*, (GTypeInstance * instance, GType type))        \
  X(g_timeout_add, guint, (guint interval, GSourceFunc function, gpointer data))               \
  X(g_idle_add, guint, (GSourceFunc function, gpointer data))                                  \
  X(gtk_box_get_type, GType, ())                                                               \
  X(gtk_box_pack_start, void,                                                                  \
    (GtkBox * box, GtkWidget * child, gboolean expand, gboolean fill, guint padding))          \
  X(gtk_box_pack_end, void,                                                                    \
    (GtkBox * box, GtkWidget * child, gboolean expand, gboolean fill, guint padding))          \
  X(gtk_button_new_from_stock, GtkWidget*, (const gchar* stockId))                             \
  X(gtk_button_new_with_label, GtkWidget*, (const gchar* label))                               \
  X(gtk_container_add, void, (GtkContainer * container, GtkWidget * widget))                   \
  X(gtk_container_get_type, GType, ())                                                         \
  X(gtk_container_set_border_width, void, (GtkContainer * container, guint width))             \
  X(gtk_dialog_get_type, GType, ())                                                            \
  X(gtk_dialog_run, gint, (GtkDialog * dialog))                                                \
  X(gtk_dialog_new, GtkWidget*, ())                                                            \
  X(gtk_dialog_add_button, GtkWidget*, (GtkDialog * dialog, const gchar* text, gint response)) \
  X(gtk_dialog_set_default_response, void, (GtkDialog * dialog, gint response))                \
  X(gtk_entry_get_text, const gchar*, (GtkEntry * entry))                                      \
  X(gtk_entry_get_type, GType, ())                                                             \
  X(gtk_entry_new, GtkWidget*, ())                                                             \
  X(gtk_entry_set_text, void, (GtkEntry * entry, const gchar* text))                           \
  X(gtk_entry_set_activates_default, void, (GtkEntry * entry, gboolean setting))               \
  X(gtk_file_chooser_dialog_new, GtkWidget*,                                                   \
    (const gchar* title, GtkWindow* parent, GtkFileChooserAction action,                       \
     const gchar* firstButtonText, ...))                                                       \
  X(gtk_file_chooser_get_filename, gchar*, (GtkFileChooser * chooser))                         \
  X(gtk_file_chooser_get_type, GType, ())                                                      \
  X(gtk_file_chooser_set_filename, gboolean, (GtkFileChooser * chooser, const char* filename)) \
  X(gtk_hbox_new, GtkWidget*, (gboolean homogeneous, gint spacing))                            \
  X(gtk_label_get_type, GType, ())                                                             \
  X(gtk_label_new, GtkWidget*, (const gchar* text))                                            \
  X(gtk_label_set_justify, void, (GtkLabel * label, GtkJustification justification))           \
  X(gtk_label_set_line_wrap, void, (GtkLabel * label, gboolean wrap))                          \
  X(gtk_label_set_text, void, (GtkLabel * label, const gchar* text))                           \
  X(gtk_main_quit, void, ())                                                                   \
  X(gtk_main, void, ())                                                                        \
  X(gtk_progress_bar_get_type, GType, ())                                                      \
  X(gtk_progress_bar_new, GtkWidget*, ())                                                      \
  X(gtk_progress_bar_set_fraction, void, (GtkProgressBar * bar, gdouble fraction))             \
  X(gtk_progress_bar_pulse, void, (GtkProgressBar * bar))                                      \
  X(gtk_vbox_new, GtkWidget*, (gboolean homogeneous, gint spacing))                            \
  X(gtk_widget_destroy, void, (GtkWidget * widget))                                            \
  X(gtk_widget_show_all, void, (GtkWidget * widget))                                           \
  X(gtk_window_get_type, GType, ())                                                            \
  X(gtk_window_new, GtkWidget*, (GtkWindowType type))                                          \
  X(gtk_window_set_default, void, (GtkWindow * window, GtkWidget * defaultWidget))             \
  X(gtk_window_set_default_size, void, (GtkWindow * window, gint width, gint height))          \
  X(gtk_window_set_modal, void, (GtkWindow * window, gboolean modal))                          \
  X(gtk_window_set_position, void, (GtkWindow * window, GtkWindowPosition position))           \
  X(gtk_window_set_title, void, (GtkWindow * window, const gchar* title))                      \
  X(gtk_window_set_icon_from_file, gboolean,                                                   \
    (GtkWindow * window, const gchar* filename, GError** error))                               \
  X(gtk_message_dialog_new, GtkWidget*,                                                        \
    (GtkWindow * parent, GtkDialogFlags flags, GtkMessageType type, GtkButtonsType buttons,    \
     const gchar* messageFormat, ...))                                                         \
  X(gtk_widget_get_toplevel, GtkWidget*, (GtkWidget * widget))                                 \
  X(g_signal_emit_by_name, void, (gpointer instance, const gchar* signal, ...))                \
  X(g_log_set_default_handler, GLogFunc, (GLogFunc function, gpointer userData))

struct GtkApi {
#define KV_GTK_API_FIELD(name, result, params) result(*name) params = nullptr;
  KV_GTK_API(KV_GTK_API_FIELD)
#undef KV_GTK_API_FIELD
};

// Positions in KV_GTK_API, counted from 0.
enum GtkEntryIndex : int {
#define KV_GTK_API_INDEX(name, result, params) kGtkEntry_##name,
  KV_GTK_API(KV_GTK_API_INDEX)
#undef KV_GTK_API_INDEX
      kGtkEntryCount
};

// The process-wide table, filled by initGui(). Entries that were not found
// are null; in console mode none of them is called.
const GtkApi& gtkApi();

// Loads GTK from libName (probing xtstName first), fills `api`, opens the
// display with gtk_init_check(argc, argv). False when that failed, with
// `message` set to the message for the fall-back to console mode.
bool bindGtkFrom(const char* libName, const char* xtstName, int* argc, char*** argv, GtkApi& api,
                 std::string* message);

// bindGtkFrom() with "libgtk-x11-2.0.so.0" and "libXtst.so.6" into the
// process-wide table; initGui() calls it once.
bool bindGtk(int* argc, char*** argv, std::string* message);

// The binding's last step, once the display is open: looks up the entries
// from kGtkEntry_g_timeout_add to the end with `lookup` into `api`. The name
// of the last entry that is missing and required, or "" when none.
// kGtkEntry_gtk_file_chooser_dialog_new is optional (the location dialog then
// has no "Browse..." button) and, when it is missing, the chooser's entries
// up to kGtkEntry_gtk_file_chooser_set_filename are not looked up;
// kGtkEntry_g_log_set_default_handler is optional (no log file then).
std::string resolveRemainingEntries(const std::function<void*(const char*)>& lookup, GtkApi& api);

// The four fall-back messages, as initGui() reports them.
std::string gtkLoadFailureMessage(const char* library);
std::string displayFailureMessage(const char* display);
extern const char kGtkCoreMissingMessage[];
std::string symbolMissingMessage(const char* symbol);

}  // namespace kv
