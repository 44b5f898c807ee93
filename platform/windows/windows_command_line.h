// Windows command lines, as pure text functions (unit-tested on any host).
//
// A Windows program receives one command-line string and splits it itself;
// the C runtime's rule (the one CommandLineToArgv follows) is:
//   - arguments are separated by spaces and tabs;
//   - "..." groups, and a quote inside it is written \";
//   - 2n backslashes before a quote become n backslashes and the quote
//     groups; 2n+1 backslashes become n and a literal quote;
//   - backslashes not followed by a quote are literal.
// quoteWindowsArgument() is the inverse, so any text survives the trip.
#pragma once

#include <optional>
#include <string>

namespace kv {

// The text to put on a command line so that the program's runtime reads back
// exactly `arg`: unchanged when it has no space, tab, newline, vertical tab
// or quote and is not empty; otherwise in quotes with the escapes above.
std::string quoteWindowsArgument(const std::string& arg);

// The installer's command line: the program path in double quotes, then
// args[1] .. args[count-1] (args[0], the launcher's own path, is never
// passed on), each after one space and quoted by quoteWindowsArgument().
std::string buildInstallerCommandLine(const std::string& programPath, int count,
                                      const char* const* args);

// The console twin's command line, made from the launcher's own command line
// as the system holds it.
struct TwinCommandLine {
  std::string program;    // the program token, its file name replaced
  std::string arguments;  // the rest of the line, byte for byte
};

// Splits `commandLine` into its program token and the rest. The program
// token ends at the first space or tab outside double quotes (the system's
// own rule for the program name: single quotes are ordinary characters).
// With a `replacement`, the file name after the token's last "\" or "/" (or
// the whole token when it has none) is replaced, and a quote still open
// there is closed again, so "C:\a b\setup.exe" becomes "C:\a b\setupc.exe".
// The rest starts after the blanks that follow the token; with `prefix` it
// becomes "-winconsole " followed by the rest. None for an empty line.
std::optional<TwinCommandLine> buildTwinCommandLine(const std::string& commandLine,
                                                    const char* replacement, bool prefix);

// "<program> <arguments>": the line that starts the twin.
std::string joinTwinCommandLine(const TwinCommandLine& parts);

}  // namespace kv
