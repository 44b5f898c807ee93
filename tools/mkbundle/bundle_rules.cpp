// Applies the launcher's expectations to the blocks of one bundle.
#include "tools/mkbundle/bundle_rules.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "core/bundle.h"
#include "core/install_layout.h"
#include "core/installer_version.h"
#include "tools/mkbundle/windows_names.h"

namespace mkbundle {
namespace {

// The launcher reads this much of the version block and of .eclipseproduct.
constexpr size_t kVersionBlockLimit = 16384;
constexpr size_t kVersionFileLimit = 1024;
const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

bool samePath(const std::string& a, const std::string& b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x =
        ignoreCase ? static_cast<char>(std::tolower(static_cast<unsigned char>(a[i]))) : a[i];
    const char y =
        ignoreCase ? static_cast<char>(std::tolower(static_cast<unsigned char>(b[i]))) : b[i];
    if (x != y && !(ignoreCase && (x == '\\' || x == '/') && (y == '\\' || y == '/'))) return false;
  }
  return true;
}

// The last entry of that path (a later one overwrites an earlier one); on
// Windows names differ only in case or separators.
const ArchiveItem* findItem(const BundleArchive& archive, const std::string& path,
                            const kv::HostRules& host) {
  const ArchiveItem* found = nullptr;
  for (const ArchiveItem& item : archive.info->items)
    if (samePath(item.path, path, host.caseInsensitiveFileNames)) found = &item;
  return found;
}

// A path as the host's file system tells paths apart.
std::string pathKey(const std::string& path, const kv::HostRules& host) {
  std::string key = path;
  if (!host.caseInsensitiveFileNames) return key;
  for (char& c : key)
    c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

// The launcher extracts the payload on every run, before the other archives
// (the walk goes from the last block back): a file that the installer or
// runtime archive also holds is theirs after a first run, the payload's
// after every later one.
void checkPayloadOverlap(const BundleContent& bundle, std::vector<Finding>& out) {
  const kv::HostRules& host = *bundle.host;
  std::map<std::string, std::string> owners;  // path key -> archive label
  for (const BundleArchive& archive : bundle.archives)
    if (archive.tag != kv::kTagPayload)
      for (const ArchiveItem& item : archive.info->items)
        if (!item.isDirectory) owners.emplace(pathKey(item.path, host), archive.label);
  std::set<std::string> vital = {pathKey(kv::layout::versionFile(host), host),
                                 pathKey(kv::layout::installerProgram(host), host)};
  if (host.hasConsoleTwin) vital.insert(pathKey(kv::layout::installerProgram(host, true), host));
  for (const BundleArchive& archive : bundle.archives) {
    if (archive.tag != kv::kTagPayload) continue;
    size_t shared = 0;
    std::string example;
    for (const ArchiveItem& item : archive.info->items) {
      if (item.isDirectory) continue;
      const std::string key = pathKey(item.path, host);
      const auto owner = owners.find(key);
      if (vital.count(key)) {
        out.push_back({true, archive.label + ": holds " + quoted(item.path) +
                                 "; the launcher extracts the payload on every run, so it "
                                 "would replace the installer's own"});
      } else if (owner != owners.end() && shared++ == 0) {
        example = quoted(item.path) + " (also in the " + owner->second + ")";
      }
    }
    if (shared > 0)
      out.push_back({false, archive.label + ": " + std::to_string(shared) +
                                " file(s) also in another archive, such as " + example +
                                "; the payload is extracted first and on every run, so the "
                                "other archive's copy is in place only after an install"});
  }
}

// Names the Windows launcher could not create, and names that Windows takes
// for one file (in one archive or across the archives extracted into the
// same folder). `names` carries the spellings met so far.
void checkWindowsNames(const BundleArchive& archive, std::map<std::string, std::string>& names,
                       std::vector<Finding>& out) {
  for (const ArchiveItem& item : archive.info->items) {
    const std::string problem = windowsNameProblem(item.path);
    if (!problem.empty()) {
      out.push_back({true, archive.label + ": entry " + quoted(item.path) + ": " + problem});
      continue;
    }
    // Folders whose names differ only in case are one folder there, which
    // holds; a file is another matter.
    const std::string spelling = (item.isDirectory ? "/" : "") + item.path;
    const auto met = names.emplace(windowsNameKey(item.path), spelling).first;
    const bool bothFolders = item.isDirectory && met->second[0] == '/';
    if (met->second != spelling && !bothFolders)
      out.push_back({true, archive.label + ": entries " +
                               quoted(met->second.substr(met->second[0] == '/')) + " and " +
                               quoted(item.path) +
                               " are one file on Windows (names differ only in case or "
                               "trailing dots)"});
  }
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Says where a misplaced installer is, to tell which folder to give.
std::string hintFor(const BundleArchive& archive, const kv::HostRules& host) {
  const kv::HostRules& other = &host == &kv::kLinuxHost ? kv::kWindowsHost : kv::kLinuxHost;
  const std::string otherFolder = kv::layout::installerFolder(other) + "/";
  for (const ArchiveItem& item : archive.info->items) {
    if (item.path.compare(0, otherFolder.size(), otherFolder) == 0)
      return "; it holds " + quoted(item.path) + ", a tree for the " +
             (&other == &kv::kWindowsHost ? "Windows launcher (--windows)" : "Linux launcher");
  }
  const std::string layoutProgram = kv::layout::installerProgram(host);
  const std::string program = layoutProgram.substr(layoutProgram.rfind('/') + 1);
  const std::string topFolder = layoutProgram.substr(0, layoutProgram.find('/'));
  for (const ArchiveItem& item : archive.info->items) {
    if (item.isDirectory) continue;
    if (item.path == program || endsWith(item.path, "/" + program))
      return "; it has " + quoted(item.path) + ": give the folder that holds '" + topFolder +
             "', laid out as the install directory";
  }
  return "";
}

// Why `key=` was not found in `text` although the file seems to give it:
// a UTF-8 byte-order mark before the first key, or spaces around '='.
// "" when neither.
std::string missingKeyCause(const std::string& text, const std::string& key) {
  static const char kBom[] = "\xEF\xBB\xBF";
  if (text.compare(0, 3, kBom) == 0 && kv::getProperty(text.substr(3), key))
    return " (the file starts with a UTF-8 byte-order mark, which the launcher reads as part "
           "of the first key; save the file without it)";
  size_t line = 0;
  while (line < text.size()) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    size_t pos = text.find_first_not_of(" \t", line);
    if (pos < end && text.compare(pos, key.size(), key) == 0) {
      const size_t after = text.find_first_not_of(" \t", pos + key.size());
      if (after < end && text[after] == '=' && (after != pos + key.size() || pos != line))
        return " (the line has spaces around '='; the launcher reads '" + key +
               "=' only at the start of a line, with no space before '=')";
    }
    line = end + 1;
  }
  return "";
}

void checkVersionBlock(const BundleContent& bundle, std::vector<Finding>& out,
                       kv::InstallerVersion& version, bool& hasVersion) {
  hasVersion = false;
  if (!bundle.hasVersion) {
    out.push_back({true,
                   "no version block (--version or --version-file): the launcher would "
                   "extract the installer again on every run"});
    return;
  }
  std::string text = bundle.versionText.substr(0, kVersionBlockLimit);
  text = text.substr(0, text.find('\0'));
  const std::string label = bundle.versionLabel + ": ";
  for (const char* key : {"version", "name", "id"}) {
    const std::optional<std::string> value = kv::getProperty(text, key);
    if (!value)
      out.push_back({true, label + "no '" + key + "=' line" + missingKeyCause(text, key) +
                               "; the version block needs version=, name= and id="});
    else if (value->find_first_not_of(" \t\r") == std::string::npos)
      out.push_back({true, label + "'" + key + "=' is empty"});
  }
  const std::optional<std::string> value = kv::getProperty(text, "version");
  if (!value) return;
  if (!isVersionFormat(*value)) {
    const bool spaced = !value->empty() && (value->front() == ' ' || value->front() == '\t');
    out.push_back({true, label + "version " + quoted(*value) +
                             " is not MAJOR.MINOR.MICRO.QUALIFIER (such as 2.7.3.271REL03)" +
                             (spaced ? "; remove the spaces after '='" : "")});
    return;
  }
  hasVersion = kv::parseVersion(text, version);
}

// Why the system could not start the program whose head is `head` ("" when
// it can): a PE image on Windows; an ELF image or a script whose "#!" line
// names its interpreter on Linux.
std::string startProblem(const std::string& head, const kv::HostRules& host) {
  if (host.windowsPaths)
    return head.compare(0, 2, "MZ") != 0 ? "is not a Windows program (no \"MZ\" header)" : "";
  const bool script = head.compare(0, 2, "#!") == 0;
  if (head.compare(0, 4,
                   "\x7f"
                   "ELF") != 0 &&
      !script)
    return "is neither an ELF program nor a script starting with \"#!\"";
  const std::string firstLine = head.substr(0, head.find('\n'));
  if (script && !firstLine.empty() && firstLine.back() == '\r')
    return "starts with a \"#!\" line ending in a carriage return (CRLF)";
  return "";
}

// The programs the launcher starts: there, files, executable, startable.
void checkPrograms(const kv::HostRules& host, const BundleArchive& archive,
                   std::vector<Finding>& out) {
  const std::string label = archive.label + ": ";
  std::vector<std::string> programs = {kv::layout::installerProgram(host)};
  if (host.hasConsoleTwin) programs.push_back(kv::layout::installerProgram(host, true));
  for (const std::string& path : programs) {
    const ArchiveItem* program = findItem(archive, path, host);
    if (!program) {
      out.push_back({true, label + "no " + quoted(path) + ", the program the launcher starts" +
                               hintFor(archive, host)});
    } else if (program->isDirectory) {
      out.push_back({true, label + quoted(path) + " is a folder, not the installer program"});
    } else if (!host.windowsPaths && program->hasMode && !program->isLink() &&
               (program->mode & 0111) == 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%03o", program->mode & 0777);
      out.push_back({true, label + quoted(path) + " has mode " + mode +
                               "; it must be executable (chmod +x)"});
    } else if (!program->isLink()) {
      const std::string problem = startProblem(program->content, host);
      if (!problem.empty())
        out.push_back(
            {true, label + quoted(path) + " " + problem + "; the system cannot start it"});
    }
  }
}

// The installed-version file: there, readable as the launcher reads it, and
// of the version block's version.
void checkVersionFile(const kv::HostRules& host, const BundleArchive& archive,
                      const kv::InstallerVersion* version, const std::string& blockVersion,
                      std::vector<Finding>& out) {
  const std::string label = archive.label + ": ";
  const std::string productPath = kv::layout::versionFile(host);
  const ArchiveItem* product = findItem(archive, productPath, host);
  const std::string cost = ": the launcher would extract the installer again on every run";
  if (!product || product->isDirectory) {
    out.push_back({true, label + "no " + quoted(productPath) + cost});
    return;
  }
  // The launcher reads the head of the file as a text: a NUL byte ends it.
  std::string head = product->content.substr(0, kVersionFileLimit);
  head.resize(std::strlen(head.c_str()));
  kv::InstallerVersion installed;
  if (!kv::parseVersion(head, installed)) {
    out.push_back({true, label + quoted(productPath) + " has no 'version=' line in its first " +
                             std::to_string(kVersionFileLimit) + " bytes (before any NUL byte)" +
                             missingKeyCause(head, "version") + cost});
    return;
  }
  if (version && (kv::isNewer(*version, installed) || kv::isNewer(installed, *version))) {
    const std::string given = *kv::getProperty(head, "version");
    out.push_back({true, label + quoted(productPath) + " says version " + quoted(given) +
                             ", the version block " + quoted(blockVersion) +
                             (kv::isNewer(*version, installed)
                                  ? cost
                                  : ": the launcher would never install this bundle over it")});
  }
}

// What one archive holds that the launcher refuses or cannot reproduce.
// `names` carries the Windows spellings met in the archives so far.
void checkOneArchive(const BundleArchive& archive, const kv::HostRules& host,
                     std::map<std::string, std::string>& names, std::vector<Finding>& out) {
  for (const std::string& problem : archive.info->problems)
    out.push_back({true, archive.label + ": " + problem});
  // A lock file in an archive would be left in place by every extraction.
  for (const char* lock : {kv::layout::kInstallerLock, kv::layout::kJreLock}) {
    if (findItem(archive, lock, host))
      out.push_back({true, archive.label + ": holds the lock file '" + lock +
                               "'; every run would extract again"});
  }
  // The trial install runs here, where links are made; the Windows
  // launcher makes none and refuses a link entry.
  for (const ArchiveItem& item : archive.info->items) {
    if (!host.windowsPaths || !item.isLink()) continue;
    out.push_back({true, archive.label + ": link '" + item.path +
                             "': the Windows launcher makes no links and refuses such entries"});
    break;
  }
  if (host.windowsPaths) checkWindowsNames(archive, names, out);
  if (archive.info->emptyFolders > 0)
    out.push_back({false, archive.label + ": " + std::to_string(archive.info->emptyFolders) +
                              " empty folder(s); the launcher creates folders only as parents "
                              "of files, so they will not appear"});
}

// A runtime archive, and the marker that saves extracting it again.
void checkRuntime(const BundleArchive* runtime, bool marker, const kv::HostRules& host,
                  std::vector<Finding>& out) {
  if (!runtime) {
    out.push_back({true,
                   "no Java runtime archive (--jre): the launcher cannot start the "
                   "installer where no runtime is installed"});
  } else if (!marker && !runtime->info->items.empty()) {
    out.push_back({false, runtime->label + ": no runtime marker " +
                              quoted(kv::layout::jreMarker(host)) +
                              " in any archive: every installer upgrade extracts the runtime "
                              "again (" +
                              megabytes(runtime->info->unpackedBytes) +
                              "). To extract it once, put the runtime's COPYRIGHT file at that "
                              "path. A runtime installed with the marker is never replaced by a "
                              "later bundle: ship a newer runtime in a folder of its own "
                              "(extracted with every installer upgrade), or let the installer "
                              "update it"});
  }
}

}  // namespace

bool isVersionFormat(const std::string& version) {
  size_t pos = 0;
  for (int part = 0; part < 3; ++part) {
    const size_t digits = pos;
    while (pos < version.size() && version[pos] >= '0' && version[pos] <= '9') ++pos;
    if (pos == digits || pos - digits > 9 || pos >= version.size() || version[pos] != '.')
      return false;
    ++pos;
  }
  // The qualifier runs to the first white space, which may only end the line.
  const size_t qualifier = pos;
  while (pos < version.size() && !std::strchr(" \t\r\n\v\f", version[pos])) ++pos;
  if (pos == qualifier) return false;
  return version.find_first_not_of(" \t\r\n\v\f", pos) == std::string::npos;
}

std::vector<Finding> checkBundle(const BundleContent& bundle) {
  std::vector<Finding> out;
  const kv::HostRules& host = *bundle.host;
  kv::InstallerVersion version;
  bool hasVersion = false;
  checkVersionBlock(bundle, out, version, hasVersion);

  if (bundle.hasLogo &&
      (bundle.logoHead.size() < sizeof kPngSignature ||
       std::memcmp(bundle.logoHead.data(), kPngSignature, sizeof kPngSignature) != 0))
    out.push_back({true, bundle.logoLabel + ": not a PNG image; the launcher's dialogs show the "
                                            "logo as PNG"});

  const BundleArchive* installer = nullptr;
  const BundleArchive* runtime = nullptr;
  bool marker = false;
  std::map<std::string, std::string> names;  // Windows name key -> first spelling
  for (const BundleArchive& archive : bundle.archives) {
    if (archive.tag == kv::kTagInstaller && !installer) installer = &archive;
    if (archive.tag == kv::kTagJre && !runtime) runtime = &archive;
    checkOneArchive(archive, host, names, out);
    if (findItem(archive, kv::layout::jreMarker(host), host)) marker = true;
  }
  if (!installer) {
    out.push_back({true,
                   "no installer archive (--installer): the launcher would have nothing "
                   "to start"});
  } else if (installer->info->contentsKnown) {
    std::string text = bundle.versionText.substr(0, kVersionBlockLimit);
    const std::string blockVersion =
        kv::getProperty(text.substr(0, text.find('\0')), "version").value_or("");
    checkPrograms(host, *installer, out);
    checkVersionFile(host, *installer, hasVersion ? &version : nullptr, blockVersion, out);
  }
  checkPayloadOverlap(bundle, out);
  checkRuntime(runtime, marker, host, out);
  return out;
}

}  // namespace mkbundle
