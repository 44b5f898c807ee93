#include "platform/linux/gtk_log.h"

#include <ctime>

#include "core/arg_list.h"
#include "core/fs.h"
#include "core/platform.h"

namespace kv {

namespace {

const size_t kMaxHeaderLength = 1023;
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
  FilePtr file = openFile(path, "ab");
  if (!file) return;
  if (!headerWritten_) {
    std::string header = "\n[" + logTimestamp() + "]";
    for (size_t i = 0; i < arguments_.size(); ++i) {
      if (i > 0) header += " ";
      header += arguments_[i];
    }
    header += "\n";
    limitLine(header, kMaxHeaderLength);
    writeAll(file.get(), header);
    headerWritten_ = true;
  }
  std::string line = "[" + logTimestamp() + "]" + logLevelPrefix(level) + " " + (message ? message : "") + "\n";
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
