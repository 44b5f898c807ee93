// The GTK log file: ".kvInstaller.log" in the home folder, append-only.
// Once per process a header line names the time and the launcher's argument
// vector; every GLib/GTK message then gets one line "[time]Gtk-LEVEL: text".
// The file is opened and closed for each message, so the handler may be
// called from the main thread and the progress window's thread alike.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/gtk_types.h"

namespace kv {

class GrowableArgList;

// "Gtk-ERROR:", "Gtk-CRITICAL:", "Gtk-WARNING:", "Gtk-MESSAGE:" for exactly
// those level values, "Gtk-LOG:" for any other (flag bits included).
const char* logLevelPrefix(GLogLevelFlags level);

// `text` with every control character written as an escape (\n, \t,
// \r, \x1b), so that one message stays one line of the log.
std::string escapeLogText(const std::string& text);

// The current local time in ctime form without its line end.
std::string logTimestamp();

// One log file and whether its header has been written.
class GtkLog {
 public:
  // The argument vector that the header line lists.
  void setArguments(std::vector<std::string> arguments);
  // Appends the message (and, the first time, the header) to the file at
  // path. A file that cannot be opened, or is not a regular file of its own
  // (a link, a pipe, a second name of another file), drops the message
  // silently.
  void append(const std::string& path, GLogLevelFlags level, const char* message);

 private:
  std::mutex mutex_;
  bool headerWritten_ = false;
  std::vector<std::string> arguments_;
};

// The process-wide log's header arguments: the installer argument vector
// as it stands (after GTK has taken its own options out of it).
void saveLogArguments(const GrowableArgList& args);

// The GLib default log handler: appends to the process-wide log in the
// home folder. Domain and user data are ignored.
void gtkLogHandler(const gchar* domain, GLogLevelFlags level, const gchar* message,
                   gpointer userData);

}  // namespace kv
