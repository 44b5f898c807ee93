#include "platform/linux/gtk_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "base/fs.h"
#include "core/arg_list.h"
#include "core/platform.h"
#include "core/text.h"

namespace kv {

namespace {

const size_t kMaxLineLength = 2047;

// Cuts an over-long line so that it still ends in its line end.
void limitLine(std::string& line, size_t maxLength) {
  if (line.size() <= maxLength) return;
  line.resize(maxLength - 1);
  line.push_back('\n');
}

void writeAll(std::FILE* file, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), file);
}

// Opens the log for appending only when it is a regular file of its own:
// never through a link at its name (the launcher may run as root with
// someone else's home folder), never a device or a pipe, never a second
// name of another file. Null otherwise.
FilePtr openLogFile(const std::string& path) {
  const int fd =
      ::open(path.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    ::close(fd);
    return nullptr;
  }
  FilePtr file(::fdopen(fd, "ab"));
  if (!file) ::close(fd);
  return file;
}

GtkLog& processLog() {
  static GtkLog* log = new GtkLog();  // lives until the process ends
  return *log;
}

}  // namespace

const char* logLevelPrefix(GLogLevelFlags level) {
  switch (static_cast<int>(level)) {
    case G_LOG_LEVEL_ERROR:
      return "Gtk-ERROR:";
    case G_LOG_LEVEL_CRITICAL:
      return "Gtk-CRITICAL:";
    case G_LOG_LEVEL_WARNING:
      return "Gtk-WARNING:";
    case G_LOG_LEVEL_MESSAGE:
      return "Gtk-MESSAGE:";
    default:
      return "Gtk-LOG:";
  }
}

std::string escapeLogText(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      escaped.push_back(c);
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\r') {
      escaped += "\\r";
    } else {
      escaped += "\\x";
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 15]);
    }
  }
  return escaped;
}

std::string logTimestamp() {
  std::time_t now = std::time(nullptr);
  char text[64] = {0};
  if (!ctime_r(&now, text)) return std::string();
  std::string stamp = text;
  if (!stamp.empty() && stamp.back() == '\n') stamp.pop_back();
  return stamp;
}

void GtkLog::setArguments(std::vector<std::string> arguments) {
  std::lock_guard<std::mutex> lock(mutex_);
  arguments_ = std::move(arguments);
}

void GtkLog::append(const std::string& path, GLogLevelFlags level, const char* message) {
  std::lock_guard<std::mutex> lock(mutex_);
  FilePtr file = openLogFile(path);
  if (!file) return;
  if (!headerWritten_) {
    std::string header = "\n[" + logTimestamp() + "]";
    for (size_t i = 0; i < arguments_.size(); ++i) {
      if (i > 0) header += " ";
      header += escapeLogText(arguments_[i]);
    }
    header += "\n";
    limitLine(header, kMaxTextLength);
    writeAll(file.get(), header);
    headerWritten_ = true;
  }
  std::string line = "[" + logTimestamp() + "]" + logLevelPrefix(level) + " " +
                     escapeLogText(message ? message : "") + "\n";
  limitLine(line, kMaxLineLength);
  writeAll(file.get(), line);
}

void saveLogArguments(const GrowableArgList& args) {
  std::vector<std::string> arguments;
  for (int i = 0; i < args.count() && args.at(i); ++i) arguments.push_back(args.at(i));
  processLog().setArguments(std::move(arguments));
}

void gtkLogHandler(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
  std::string home = homeDirectory();
  if (home.empty()) return;  // no home folder: no log file
  processLog().append(home + "/.kvInstaller.log", level, message);
}

}  // namespace kv
