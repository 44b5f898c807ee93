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

struct Flag {
  const char* name;
  bool Options::*field;
};

const Flag kFlags[] = {{"-h", &Options::help},           {"--help", &Options::help},
                       {"--windows", &Options::windows}, {"--files", &Options::listFiles},
                       {"--force", &Options::force},     {"--unchecked", &Options::unchecked}};

// The options that take one value, each at most once.
struct Single {
  const char* name;
  std::string Options::*field;
  bool mayBeEmpty;
};

const Single kSingles[] = {{"-o", &Options::output, false},
                           {"--output", &Options::output, false},
                           {"--launcher", &Options::launcher, false},
                           {"--logo", &Options::logo, false},
                           {"--version-file", &Options::versionFile, false},
                           {"--version", &Options::version, false},
                           {"--name", &Options::name, true},
                           {"--id", &Options::id, true},
                           {"--installer", &Options::installer, false},
                           {"--jre", &Options::jre, false},
                           {"--payload", &Options::payload, false},
                           {"--method", &Options::method, false},
                           {"--list", &Options::listPath, false},
                           {"--verify", &Options::verifyPath, false}};

// The options that may be given again, each time adding a value.
bool isRepeated(const std::string& arg) {
  return arg == "--release" || arg == "--arg" || arg == "--block";
}

bool* flagOf(Options& options, const std::string& arg) {
  for (const Flag& flag : kFlags)
    if (arg == flag.name) return &(options.*flag.field);
  return nullptr;
}

const Single* singleOf(const std::string& arg) {
  for (const Single& single : kSingles)
    if (arg == single.name) return &single;
  return nullptr;
}

// What the parse has met so far.
struct Parse {
  std::set<const std::string*> seen;  // the single-value fields given
  std::vector<std::string> given;     // the options, in order
};

std::string takeBlock(const std::string& value, Options& options) {
  if (value.size() < 2 || value[1] != ':' || !isTagCharacter(static_cast<unsigned char>(value[0])))
    return "bad --block '" + value + "': expected TAG:FILE with a tag of one printable character";
  if (value.size() == 2) return "bad --block '" + value + "': no file given";
  options.extras.push_back(ExtraBlock{value[0], value.substr(2)});
  return "";
}

std::string takeValue(const std::string& arg, const std::string& value, Options& options,
                      Parse& parse) {
  if (const Single* single = singleOf(arg)) {
    std::string* field = &(options.*single->field);
    if (!parse.seen.insert(field).second) return "option " + arg + " given twice";
    if (value.empty() && !single->mayBeEmpty) return "option " + arg + " needs a value";
    *field = value;
  } else if (arg == "--release") {
    options.releases.push_back(value);
  } else if (arg == "--arg") {
    options.arguments.push_back(value);
  } else {
    return takeBlock(value, options);
  }
  return "";
}

// Takes argv[i] and, when it needs one, its value (moving `i` past it).
std::string takeOption(int argc, char** argv, int& i, Options& options, Parse& parse) {
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
  parse.given.push_back(arg);
  if (bool* flag = flagOf(options, arg)) {
    if (inlineValue) return "option " + arg + " takes no value";
    *flag = true;
    return "";
  }
  if (!singleOf(arg) && !isRepeated(arg))
    return "unknown option '" + arg + "' (try 'mkbundle --help')";
  if (!inlineValue) {
    if (i + 1 >= argc) return "option " + arg + " needs a value";
    value = argv[++i];
  }
  return takeValue(arg, value, options, parse);
}

// --list and --verify go alone (--list with --files).
std::string checkQuery(const Options& options, const Parse& parse) {
  const bool list = !options.listPath.empty();
  const std::string mode = list ? "--list" : "--verify";
  for (const std::string& option : parse.given)
    if (option != mode && !(list && option == "--files"))
      return "option " + option + " cannot go with " + mode;
  return "";
}

std::string checkBuild(const Options& options) {
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

}  // namespace

const char kMkbundleVersion[] = KV_VERSION;

const char* usageText() { return kUsage; }

std::string parseOptions(int argc, char** argv, Options& options) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    options.printVersion = true;
    return "";
  }
  Parse parse;
  for (int i = 1; i < argc; ++i) {
    const std::string error = takeOption(argc, argv, i, options, parse);
    if (!error.empty()) return error;
  }
  options.hasVersion = parse.seen.count(&options.version) > 0;
  options.hasName = parse.seen.count(&options.name) > 0;
  options.hasId = parse.seen.count(&options.id) > 0;
  if (options.help) return "";
  if (!options.listPath.empty() || !options.verifyPath.empty()) return checkQuery(options, parse);
  return checkBuild(options);
}

}  // namespace mkbundle
