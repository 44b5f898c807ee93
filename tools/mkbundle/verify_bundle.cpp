// Collects the blocks with the launcher's walker, then checks them.
#include "tools/mkbundle/verify_bundle.h"

#include <memory>
#include <vector>

#include "base/fs.h"
#include "core/bundle.h"
#include "tools/mkbundle/archive_check.h"
#include "tools/mkbundle/bundle_rules.h"
#include "tools/mkbundle/bundle_sources.h"
#include "tools/mkbundle/launcher_file.h"
#include "tools/mkbundle/launcher_mark.h"
#include "tools/mkbundle/list_bundle.h"
#include "tools/mkbundle/trial_install.h"

namespace mkbundle {
namespace {

constexpr uint32_t kMaxText = 1 << 16;

class AllBlocks : public kv::TagHandler {
 public:
  bool visit(std::FILE*, const kv::BlockDescriptor& block) override {
    blocks.insert(blocks.begin(), block);
    return true;
  }
  std::vector<kv::BlockDescriptor> blocks;  // file order
};

std::string megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// What the walk gathers for the checks.
struct Verification {
  LauncherKind kind = LauncherKind::kUnknown;
  BundleContent content;
  std::vector<std::unique_ptr<ArchiveInfo>> infos;  // content.archives point here
  std::vector<Finding> findings;
};

// Test-decodes an archive block; its line's tail.
std::string archiveLine(std::FILE* file, const kv::BlockDescriptor& block, const std::string& where,
                        Verification& v) {
  const char tag = block.tag();
  v.infos.push_back(std::make_unique<ArchiveInfo>());
  ArchiveInfo& info = *v.infos.back();
  checkArchive(file, block.start, block.end, info);
  v.content.archives.push_back({tag, archiveRole(tag) + " " + where, &info});
  std::string line = " " + archiveRole(tag) + ": ";
  if (info.items.empty() && !info.problems.empty()) {
    line += "cannot be opened";
  } else {
    line += std::to_string(info.items.size()) + " entries, " + megabytes(info.unpackedBytes) +
            ", " + std::to_string(info.blocks) + " solid block(s), " + info.methods + ": " +
            (info.problems.empty() ? "decoded, CRCs match" : "FAILED");
  }
  if (tag == kv::kTagPayload) line += "; extracted on every run";
  return line;
}

// Takes in one block; its line's tail.
std::string blockLine(std::FILE* file, const kv::BlockDescriptor& block, Verification& v) {
  const char tag = block.tag();
  const std::string where = std::string("block ") + tag + " at " + std::to_string(block.start);
  if (tag == kv::kTagInstaller || tag == kv::kTagJre || tag == kv::kTagPayload)
    return archiveLine(file, block, where, v);
  if (tag == kv::kTagVersion) {
    v.content.hasVersion = true;  // the walk meets the last one first: it counts
    v.content.versionLabel = "version " + where;
    v.content.versionText = kv::readBlock(file, block, kMaxText);
    return " " + displayText(tag, v.content.versionText, false);
  }
  if (tag == kv::kTagRelease || tag == kv::kTagArgument)
    return " " + displayText(tag, kv::readBlock(file, block, kMaxText), false);
  if (tag != kv::kTagLogo) return " unknown tag: the launcher passes it over";
  if (v.kind == LauncherKind::kWindows) {
    v.findings.push_back({false, "logo " + where + ": the Windows launcher ignores it"});
  } else {
    v.content.hasLogo = true;
    v.content.logoLabel = "logo " + where;
    v.content.logoHead = kv::readBlock(file, block, 8);
  }
  return " logo";
}

// Prints the problems and the verdict; true when nothing is refused.
bool printVerdict(const std::vector<Finding>& findings, std::FILE* out) {
  int refusals = 0;
  for (const Finding& finding : findings) {
    std::fprintf(out, "%s: %s\n", finding.refusal ? "problem" : "warning", finding.text.c_str());
    if (finding.refusal) ++refusals;
  }
  if (refusals == 0) {
    std::fprintf(out, "verdict: OK: the launcher would install this bundle\n");
  } else {
    std::fprintf(out,
                 "verdict: REFUSED: %d problem(s); the launcher would not install it as "
                 "intended\n",
                 refusals);
  }
  return refusals == 0;
}

}  // namespace

bool verifyBundle(const std::string& path, std::FILE* out, std::string* message) {
  kv::FilePtr file;
  if (!(*message = openBundleFile(path, file)).empty()) return false;
  Verification v;
  const std::optional<LauncherMark> mark = readLauncherMark(file.get());
  v.kind = mark ? (mark->windows ? LauncherKind::kWindows : LauncherKind::kLinux)
                : launcherKindOf(file.get());
  v.content.host = v.kind == LauncherKind::kWindows ? &kv::kWindowsHost : &kv::kLinuxHost;
  if (!mark) v.findings.push_back({true, notALauncher(path)});
  std::fprintf(out, "%s: built on the %s\n", path.c_str(), launcherDescription(mark).c_str());

  AllBlocks all;
  if (!kv::walkBundleFrom(file.get(), all, bundleEndOffsetOf(file.get()))) {
    std::fprintf(out, "no bundle\nverdict: REFUSED: the launcher would find no bundle\n");
    return false;
  }
  for (const kv::BlockDescriptor& block : all.blocks) {
    const std::string line = std::string(1, block.tag()) + " " + std::to_string(block.start) + " " +
                             std::to_string(block.length()) + blockLine(file.get(), block, v);
    std::fprintf(out, "%s\n", line.c_str());
  }
  const std::vector<Finding> checked = checkBundle(v.content);
  v.findings.insert(v.findings.end(), checked.begin(), checked.end());
  // What passes the checks is installed on trial: the launcher's word.
  bool refused = false;
  for (const Finding& finding : v.findings) refused = refused || finding.refusal;
  if (!refused) {
    const std::string problem = trialInstall(file.get(), bundleEndOffsetOf(file.get()));
    if (!problem.empty()) v.findings.push_back({true, problem});
  }
  const bool installs = printVerdict(v.findings, out);
  return flushed(out, message) && installs;
}

}  // namespace mkbundle
