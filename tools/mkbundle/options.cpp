// Parses and checks the mkbundle command line.
#include "tools/mkbundle/options.h"

#include "base/launcher_mark.h"

#include <set>

namespace mkbundle {
namespace {

const char kUsage[] =
    "usage: mkbundle -o OUT --launcher FILE [--logo PNG]\n"
    "                [--version-file FILE | --version X.Y.Z.Q --name N --id I]\n"
    "                [--installer DIR|FILE.7z] [--jre DIR|FILE.7z] [--payload DIR|FILE.7z]\n"
    "                [--release ID]... [--arg TEXT]... [--block TAG:FILE]...\n"
    "                [--method M] [--windows] [--force] [--unchecked]\n"
    "       mkbundle --list FILE [--files]\n"
    "       mkbundle --verify FILE\n"
    "       mkbundle --version\n"
    "\n"
    "Builds OUT from a copy of the launcher image followed by the bundle blocks,\n"
    "in this order: l (--logo), v (version text), i (--installer), j (--jre),\n"
    "r (--release, text + NUL), a (one per --arg, in order), p (--payload),\n"
    "then the --block extras in order. Every block starts at a multiple of 8,\n"
    "is zero-padded to a multiple of 8 and followed by its 8-byte footer\n"
    "(u32 LE start, \"kvi\", tag); OUT's length is a multiple of 8.\n"
    "The v block is \"version=X\\nname=N\\nid=I\\n\", or the bytes of --version-file.\n"
    "A DIR is archived with 7zz (entries relative to DIR and sorted, links kept\n"
    "as links, no times unless SOURCE_DATE_EPOCH is set, method -m0=M, default\n"
    "LZMA2); a FILE.7z is used as it is. OUT must stay below 4 GiB.\n"
    "--windows builds for the Windows launcher (no logo block).\n"
    "\n"
    "Before OUT is written, every archive is test-decoded with the launcher's\n"
    "decoder and the bundle is checked as the launcher will use it: version\n"
    "block with version=, name= and id=; the installer's program (one the\n"
    "system can start) and .eclipseproduct (same version) under\n"
    "maintenance/kvInstaller/PLATFORM; a runtime; only methods the launcher\n"
    "decodes; no encryption; no link leaving the install directory; a PNG\n"
    "logo; a launcher of the kind built for. A failed check is refused (exit\n"
    "1) unless --unchecked, which only warns. Then OUT is installed on trial\n"
    "into an empty temporary folder by the launcher's own extraction, archives\n"
    "in the launcher's order; OUT is written only when that succeeds.\n"
    "--launcher must be one of this project's launchers (setup_linux,\n"
    "setup_linux64, setup.exe, setupc.exe): their image carries a launcher mark\n"
    "naming its kind and version; any other file is refused. OUT replaces an existing file\n"
    "only when that is a bundle, or with --force, and never an input.\n"
    "\n"
    "--list FILE prints the blocks of FILE, first block first, one per line:\n"
    "  TAG OFFSET LENGTH [\"TEXT\"]\n"
    "TAG is the tag letter (\\xHH when not printable), OFFSET and LENGTH are the\n"
    "decimal file offset and length of the block's data (padding included,\n"
    "footer excluded). TEXT is shown for v, r and a blocks: the data up to its\n"
    "first NUL (v: its lines joined by \"; \"), in double quotes with \\\\, \\\",\n"
    "\\n, \\r, \\t and \\xHH escapes, followed by ... when cut at 4096 bytes.\n"
    "A file beginning with \"MZ\" is read up to its certificate table.\n"
    "The launcher kind and version go to standard error.\n"
    "Prints \"no bundle\" when there is none. --files adds, below each archive\n"
    "block, one line per entry: MODE SIZE PATH (MODE as the launcher creates it).\n"
    "\n"
    "--verify FILE walks FILE's bundle as the launcher does, test-decodes every\n"
    "archive with its CRCs, applies the checks above, installs it on trial as\n"
    "above, prints the launcher kind and version first, one line per block\n"
    "and a verdict; exit 0 only when the launcher would install it.\n"
    "\n"
    "Exit status: 0 success, 1 failure or no bundle, 2 bad command line.\n";

bool hasLineBreak(const std::string& text) {
  return text.find('\n') != std::string::npos || text.find('\r') != std::string::npos;
}

bool isTagCharacter(unsigned char c) { return c > ' ' && c < 0x7F && c != ':'; }

}  // namespace

const char kMkbundleVersion[] = KV_VERSION;

const char* usageText() { return kUsage; }

std::string parseOptions(int argc, char** argv, Options& options) {
  struct Single {
    const char* name;
    std::string* field;
    bool mayBeEmpty;
  };
  const Single singles[] = {{"-o", &options.output, false},
                            {"--output", &options.output, false},
                            {"--launcher", &options.launcher, false},
                            {"--logo", &options.logo, false},
                            {"--version-file", &options.versionFile, false},
                            {"--version", &options.version, false},
                            {"--name", &options.name, true},
                            {"--id", &options.id, true},
                            {"--installer", &options.installer, false},
                            {"--jre", &options.jre, false},
                            {"--payload", &options.payload, false},
                            {"--method", &options.method, false},
                            {"--list", &options.listPath, false},
                            {"--verify", &options.verifyPath, false}};
  std::set<const std::string*> seen;
  std::vector<std::string> given;  // the options, in order

  if (argc == 2 && std::string(argv[1]) == "--version") {
    options.printVersion = true;
    return "";
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.empty() || arg[0] != '-')
      return "unexpected argument '" + arg + "' (every value follows its option)";
    std::string value;
    bool inlineValue = false;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    given.push_back(arg);
    bool* flag = arg == "-h" || arg == "--help" ? &options.help
                 : arg == "--windows"           ? &options.windows
                 : arg == "--files"             ? &options.listFiles
                 : arg == "--force"             ? &options.force
                 : arg == "--unchecked"         ? &options.unchecked
                                                : nullptr;
    if (flag) {
      if (inlineValue) return "option " + arg + " takes no value";
      *flag = true;
      continue;
    }
    const Single* single = nullptr;
    for (const Single& s : singles)
      if (arg == s.name) single = &s;
    if (!single && arg != "--release" && arg != "--arg" && arg != "--block")
      return "unknown option '" + arg + "' (try 'mkbundle --help')";
    if (!inlineValue) {
      if (i + 1 >= argc) return "option " + arg + " needs a value";
      value = argv[++i];
    }

    if (single) {
      if (!seen.insert(single->field).second) return "option " + arg + " given twice";
      if (value.empty() && !single->mayBeEmpty) return "option " + arg + " needs a value";
      *single->field = value;
    } else if (arg == "--release") {
      options.releases.push_back(value);
    } else if (arg == "--arg") {
      options.arguments.push_back(value);
    } else {
      if (value.size() < 2 || value[1] != ':' ||
          !isTagCharacter(static_cast<unsigned char>(value[0])))
        return "bad --block '" + value +
               "': expected TAG:FILE with a tag of one printable character";
      if (value.size() == 2) return "bad --block '" + value + "': no file given";
      options.extras.push_back(ExtraBlock{value[0], value.substr(2)});
    }
  }
  options.hasVersion = seen.count(&options.version) > 0;
  options.hasName = seen.count(&options.name) > 0;
  options.hasId = seen.count(&options.id) > 0;

  if (options.help) return "";
  const bool list = !options.listPath.empty();
  if (list || !options.verifyPath.empty()) {
    const std::string mode = list ? "--list" : "--verify";
    for (const std::string& option : given)
      if (option != mode && !(list && option == "--files"))
        return "option " + option + " cannot go with " + mode;
    return "";
  }
  if (options.listFiles) return "--files goes with --list FILE";
  if (options.output.empty()) return "no output given (-o OUT)";
  if (options.launcher.empty()) return "no launcher given (--launcher FILE)";
  if (!options.versionFile.empty() && (options.hasVersion || options.hasName || options.hasId))
    return "--version-file cannot be combined with --version, --name or --id";
  if ((options.hasName || options.hasId) && !options.hasVersion)
    return "--name and --id need --version";
  for (const std::string* text : {&options.version, &options.name, &options.id})
    if (hasLineBreak(*text)) return "--version, --name and --id must be single lines";
  if (options.windows && !options.logo.empty())
    return "--logo is for the Linux launcher; the Windows launcher has no logo block";
  if (options.method.find_first_of(" \t\r\n") != std::string::npos)
    return "bad --method '" + options.method +
           "': a method is one word without spaces, such as LZMA2 or LZMA2:d=64m (7-Zip's "
           "-m0= value; other 7-Zip switches cannot be given)";
  return "";
}

}  // namespace mkbundle
