// Windows command-line texts: argument quoting, the installer's command line
// and the console twin's command line.
#include "platform/windows/windows_command_line.h"

#include "core/host_rules.h"

namespace kv {

namespace {

// What separates arguments on a Windows command line.
bool isArgumentSeparator(char c) { return c == ' ' || c == '\t'; }

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string quoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them: then each must
    // be doubled, and the quote itself escaped.
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted += c;
    backslashes = 0;
  }
  // The closing quote follows: the trailing backslashes are doubled too.
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

std::string buildInstallerCommandLine(const std::string& programPath, int count,
                                      const char* const* args) {
  std::string line = "\"" + programPath + "\"";
  for (int i = 1; i < count; ++i) {
    line += ' ';
    line += quoteWindowsArgument(args[i] ? args[i] : "");
  }
  return line;
}

std::optional<TwinCommandLine> buildTwinCommandLine(const std::string& commandLine,
                                                    const char* replacement, bool prefix) {
  if (commandLine.empty()) return std::nullopt;

  // The program token: up to the first blank outside double quotes.
  size_t tokenEnd = 0;
  bool inQuotes = false;
  for (; tokenEnd < commandLine.size(); ++tokenEnd) {
    const char c = commandLine[tokenEnd];
    if (c == '"') {
      inQuotes = !inQuotes;
    } else if (!inQuotes && isArgumentSeparator(c)) {
      break;
    }
  }

  TwinCommandLine parts;
  parts.program = commandLine.substr(0, tokenEnd);
  if (replacement) {
    // Back to the last separator, noting a quote that is open at the end.
    bool quoteOpen = false;
    size_t nameStart = tokenEnd;
    while (nameStart > 0 && !isPathSeparator(commandLine[nameStart - 1])) {
      --nameStart;
      if (commandLine[nameStart] == '"') quoteOpen = !quoteOpen;
    }
    parts.program.resize(nameStart);
    parts.program += replacement;
    if (quoteOpen) parts.program += '"';
  }

  size_t restStart = tokenEnd;
  while (restStart < commandLine.size() && isArgumentSeparator(commandLine[restStart])) ++restStart;
  const std::string rest = commandLine.substr(restStart);
  parts.arguments = prefix ? "-winconsole " + rest : rest;
  return parts;
}

std::string joinTwinCommandLine(const TwinCommandLine& parts) {
  return parts.program + " " + parts.arguments;
}

}  // namespace kv
