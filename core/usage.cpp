#include "core/usage.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace kv {
namespace {

// One entry per output line; each is followed by a newline when printed.
const char* const kMainUsage[] = {
    "-----------------------------------------------------",
    "-        Usage of the Korvane Installer          -",
    "-----------------------------------------------------",
    "  -help\t\t\tprint this help",
    "  -silent\t\trun in non-interactive, command-line mode.",
    "  -installPath <path>\tfull path to the target installation directory",
    "  -archs\t\tspecify the target architectures",
    "  -nosplash\t\tdo not show the splash screen",
    "  -skipQuota\t\tskip quota check",
    "  -proxy\t\tspecify proxy server, \n\t\t\t<server "
    "ip>:<port>:<http|socks>[:<username>:<password>]",
    "  -installerUpdateURLS\tlist of locations to search for installer updates",
    "  -productUpdateURLS\tlist of locations to search for product updates",
    "  -add\t\t\tinstall products and update existing products if newer\n\t\t\tversions are "
    "available",
    "  -applyUpdates\t\tupdate existing products if newer versions are available",
    "  -remove\t\tremove products",
    "  -patch\t\tsearch for and install patches",
    "  -print_toc (<path>)\tprint the contents of a patch to the console. Appending\n\t\t\ta file "
    "path redirects the output to the file.\n\t\t\tOnly relevant with the '-patch -silent' "
    "options.",
    "  -extract <path>\texport patch contents to a directory. Only \n\t\t\trelevant with the "
    "'-patch -silent' options.",
    "  -validate\t\tvalidate the integrity of the media based on the \n\t\t\tspecified level.",
    "  -download\t\tdownload content for a later installation.",
    "  -yum [yum options] COMMAND.\n\t\t\trun yum COMMAND. See -yum --help for details",
    "  -repousername\t\tusername for repository authentication.",
    "  -repopassword\t\tpassword for repository authentication.",
    "  -recipe\t\t<file> full path to the installation recipe file",
    "  -check [dir]\t\tcheck integrity of installed content for (optional)\n\t\t\tdir or complete "
    "installation.",
    "  -install-KVL7\t\texisting Korvane Linux 7 installations only; skip\n\t\t\tsteps preceding "
    "the Korvane Linux 7 git operations.",
    "  -install-KVL-mode [minimal|full]\n\t\t\tKorvane Linux installations only;\n\t\t\tSelects "
    "'minimal' or 'full' installation mode.",
    "  -baseline <release>\tSpecify an ID or list to list the currently \n\t\t\tavailable "
    "baselines.",
    "-----------------------------------------------------------------",
    "- NOTE: option names are case insensitive in default (-p2) mode -",
    "-       and are case sensitive after -yum and -vmargs           -",
    "-----------------------------------------------------------------",
};

const char* const kYumUsage[] = {
    "usage: -yum [options] COMMAND",
    "\nList of Commands:\n",
    "groupinstall   Install all packages of a group",
    "grouplist      List available package groups",
    "install        Install one or more packages",
    "localinstall   Install a local rpm package or packages on your system",
    "list           List a package or groups of packages",
    "update         Update installed packages to latest available versions",
    "localupdate    Update a local rpm package or packages on your system",
    "downgrade      Downgrade installed package or packages on your system",
    "remove         Remove one or more packages",
    "\noptions:",
    "  -h, --help            show this help message and exit",
    "  -y                    answer yes for all questions",
    "  --installroot=[path]  set install root",
    "  --version             show Yum version and exit",
};

template <size_t N>
void printLines(const char* const (&lines)[N]) {
  for (const char* line : lines) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
  }
}

const GrowableArgList* gListedArgs = nullptr;
const GrowableArgList* gListedVmArgs = nullptr;

void listArgsAtExit() {
  if (gListedArgs && gListedVmArgs) {
    listArguments(*gListedArgs, *gListedVmArgs);
  } else if (gListedArgs) {
    GrowableArgList none;
    listArguments(*gListedArgs, none);
  }
}

}  // namespace

void printMainUsage() { printLines(kMainUsage); }

void printYumUsage() { printLines(kYumUsage); }

void listArguments(const GrowableArgList& installerArgs, const GrowableArgList& vmArgs) {
  int n = 0;
  for (int i = 0; i < installerArgs.count(); ++i) {
    std::printf("argv[%d] = %s\n", n++, installerArgs.at(i));
  }
  // The VM arguments are still apart only when the run ended before the
  // lists were joined; the lone leading "-vmargs" is not listed.
  if (vmArgs.count() > 1) {
    for (int i = 0; i < vmArgs.count(); ++i) {
      std::printf("argv[%d] = %s\n", n++, vmArgs.at(i));
    }
  }
  std::fflush(stdout);
}

void registerListArgsAtExit(const GrowableArgList* installerArgs, const GrowableArgList* vmArgs) {
  static bool registered = false;
  gListedArgs = installerArgs;
  gListedVmArgs = vmArgs;
  if (!registered) {
    registered = true;
    std::atexit(listArgsAtExit);
  }
}

}  // namespace kv
