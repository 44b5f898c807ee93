// The GTK 2 / GLib types that the launcher's windows need, declared here so
// that the launcher never includes GTK's headers (whose glibconfig.h fixes
// one word size) and never links against GTK. Widgets are opaque; only
// pointers to them are passed around. Enumerations carry GTK's values.
#pragma once

#include <cstddef>

namespace kv {

typedef int gboolean;
typedef char gchar;
typedef int gint;
typedef unsigned int guint;
typedef unsigned long gulong;
typedef double gdouble;
typedef void* gpointer;
typedef size_t gsize;
typedef gsize GType;

struct GTypeInstance;
struct GClosure;
struct GError;
struct GtkWidget;
struct GtkBox;
struct GtkContainer;
struct GtkDialog;
struct GtkEntry;
struct GtkFileChooser;
struct GtkLabel;
struct GtkProgressBar;
struct GtkWindow;

enum GLogLevelFlags : int {
  G_LOG_FLAG_RECURSION = 1 << 0,
  G_LOG_FLAG_FATAL = 1 << 1,
  G_LOG_LEVEL_ERROR = 1 << 2,
  G_LOG_LEVEL_CRITICAL = 1 << 3,
  G_LOG_LEVEL_WARNING = 1 << 4,
  G_LOG_LEVEL_MESSAGE = 1 << 5,
  G_LOG_LEVEL_INFO = 1 << 6,
  G_LOG_LEVEL_DEBUG = 1 << 7,
};

enum GConnectFlags : int { G_CONNECT_AFTER = 1 << 0, G_CONNECT_SWAPPED = 1 << 1 };

enum GtkWindowType : int { GTK_WINDOW_TOPLEVEL = 0, GTK_WINDOW_POPUP = 1 };

enum GtkWindowPosition : int {
  GTK_WIN_POS_NONE = 0,
  GTK_WIN_POS_CENTER = 1,
  GTK_WIN_POS_MOUSE = 2,
  GTK_WIN_POS_CENTER_ALWAYS = 3,
  GTK_WIN_POS_CENTER_ON_PARENT = 4,
};

enum GtkJustification : int {
  GTK_JUSTIFY_LEFT = 0,
  GTK_JUSTIFY_RIGHT = 1,
  GTK_JUSTIFY_CENTER = 2,
  GTK_JUSTIFY_FILL = 3,
};

enum GtkDialogFlags : int {
  GTK_DIALOG_MODAL = 1 << 0,
  GTK_DIALOG_DESTROY_WITH_PARENT = 1 << 1,
  GTK_DIALOG_NO_SEPARATOR = 1 << 2,
};

enum GtkMessageType : int {
  GTK_MESSAGE_INFO = 0,
  GTK_MESSAGE_WARNING = 1,
  GTK_MESSAGE_QUESTION = 2,
  GTK_MESSAGE_ERROR = 3,
  GTK_MESSAGE_OTHER = 4,
};

enum GtkButtonsType : int {
  GTK_BUTTONS_NONE = 0,
  GTK_BUTTONS_OK = 1,
  GTK_BUTTONS_CLOSE = 2,
  GTK_BUTTONS_CANCEL = 3,
  GTK_BUTTONS_YES_NO = 4,
  GTK_BUTTONS_OK_CANCEL = 5,
};

enum GtkFileChooserAction : int {
  GTK_FILE_CHOOSER_ACTION_OPEN = 0,
  GTK_FILE_CHOOSER_ACTION_SAVE = 1,
  GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER = 2,
  GTK_FILE_CHOOSER_ACTION_CREATE_FOLDER = 3,
};

enum GtkResponseType : int {
  GTK_RESPONSE_NONE = -1,
  GTK_RESPONSE_REJECT = -2,
  GTK_RESPONSE_ACCEPT = -3,
  GTK_RESPONSE_DELETE_EVENT = -4,
  GTK_RESPONSE_OK = -5,
  GTK_RESPONSE_CANCEL = -6,
  GTK_RESPONSE_CLOSE = -7,
  GTK_RESPONSE_YES = -8,
  GTK_RESPONSE_NO = -9,
  GTK_RESPONSE_APPLY = -10,
  GTK_RESPONSE_HELP = -11,
};

// The fundamental GObject type, for the object casts that signal calls need.
constexpr GType kGObjectType = 80;

typedef void (*GCallback)();
typedef void (*GClosureNotify)(gpointer data, GClosure* closure);
typedef gboolean (*GSourceFunc)(gpointer data);
typedef void (*GLogFunc)(const gchar* logDomain, GLogLevelFlags logLevel, const gchar* message,
                         gpointer userData);

}  // namespace kv
