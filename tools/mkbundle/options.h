// The mkbundle command line: what to build (or list), parsed and checked
// before anything is read or written.
#pragma once

#include <string>
#include <vector>

namespace mkbundle {

struct ExtraBlock {
  char tag = 0;
  std::string path;
};

struct Options {
  bool help = false;
  bool printVersion = false;  // --version alone: mkbundle's own version
  std::string listPath;       // --list FILE: list instead of build
  bool listFiles = false;     // --files: --list also lists each archive's entries
  std::string verifyPath;     // --verify FILE: check a built bundle
  bool force = false;         // -o may replace a file that is not a bundle
  bool unchecked = false;     // refusals become warnings (bundles broken on purpose)

  std::string output;
  std::string launcher;
  std::string logo;
  std::string versionFile;
  std::string version, name, id;
  bool hasVersion = false, hasName = false, hasId = false;
  std::string installer, jre, payload;  // directory or .7z file each
  std::vector<std::string> releases;
  std::vector<std::string> arguments;
  std::vector<ExtraBlock> extras;
  std::string method = "LZMA2";
  bool windows = false;
};

// The usage text printed by --help.
const char* usageText();

// mkbundle's own version, printed by --version.
extern const char kMkbundleVersion[];

// Parses argv[1..argc). Returns "" and fills `options`, or the error message
// (without the "mkbundle: " prefix).
std::string parseOptions(int argc, char** argv, Options& options);

}  // namespace mkbundle
