// Collects the blocks with the launcher's walker, then checks them.
#include "tools/mkbundle/verify_bundle.h"

#include <errno.h>

#include <cstring>
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

}  // namespace

int verifyBundle(const std::string& path, std::FILE* out) {
  kv::FilePtr file = kv::openFile(path, "rb");
  if (!file || !kv::fs::isRegularFile(path)) {
    std::fprintf(stderr, "mkbundle: cannot read '%s': %s\n", path.c_str(),
                 file ? "not a regular file" : std::strerror(errno));
    return 1;
  }
  std::vector<Finding> findings;
  const std::optional<LauncherMark> mark = readLauncherMark(file.get());
  const LauncherKind kind = mark ? (mark->windows ? LauncherKind::kWindows : LauncherKind::kLinux)
                                 : launcherKindOf(file.get());
  BundleContent content;
  content.host = kind == LauncherKind::kWindows ? &kv::kWindowsHost : &kv::kLinuxHost;
  if (!mark) findings.push_back({true, notALauncher(path)});
  std::fprintf(out, "%s: built on the %s\n", path.c_str(),
               mark ? mark->text().c_str() : "unknown launcher (no launcher mark)");

  AllBlocks all;
  if (!kv::walkBundleFrom(file.get(), all, bundleEndOffsetOf(file.get()))) {
    std::fprintf(out, "no bundle\nverdict: REFUSED: the launcher would find no bundle\n");
    return 1;
  }
  std::vector<std::unique_ptr<ArchiveInfo>> infos;
  for (const kv::BlockDescriptor& block : all.blocks) {
    const char tag = block.tag();
    std::string line = std::string(1, tag) + " " + std::to_string(block.start) + " " +
                       std::to_string(block.length());
    const std::string where = std::string("block ") + tag + " at " + std::to_string(block.start);
    if (tag == kv::kTagInstaller || tag == kv::kTagJre || tag == kv::kTagPayload) {
      infos.push_back(std::make_unique<ArchiveInfo>());
      ArchiveInfo& info = *infos.back();
      checkArchive(file.get(), block.start, block.end, info);
      content.archives.push_back({tag, archiveRole(tag) + " " + where, &info});
      line += " " + archiveRole(tag) + ": ";
      if (info.items.empty() && !info.problems.empty()) {
        line += "cannot be opened";
      } else {
        line += std::to_string(info.items.size()) + " entries, " + megabytes(info.unpackedBytes) +
                ", " + std::to_string(info.blocks) + " solid block(s), " + info.methods + ": " +
                (info.problems.empty() ? "decoded, CRCs match" : "FAILED");
      }
      if (tag == kv::kTagPayload) line += "; extracted on every run";
    } else if (tag == kv::kTagVersion) {
      content.hasVersion = true;  // the walk meets the last one first: it counts
      content.versionLabel = "version " + where;
      content.versionText = kv::readBlock(file.get(), block, kMaxText);
      line += " " + displayText(tag, content.versionText, false);
    } else if (tag == kv::kTagRelease || tag == kv::kTagArgument) {
      line += " " + displayText(tag, kv::readBlock(file.get(), block, kMaxText), false);
    } else if (tag == kv::kTagLogo) {
      if (kind == LauncherKind::kWindows) {
        findings.push_back({false, "logo " + where + ": the Windows launcher ignores it"});
      } else {
        content.hasLogo = true;
        content.logoLabel = "logo " + where;
        content.logoHead = kv::readBlock(file.get(), block, 8);
      }
      line += " logo";
    } else {
      line += " unknown tag: the launcher passes it over";
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
  const std::vector<Finding> checked = checkBundle(content);
  findings.insert(findings.end(), checked.begin(), checked.end());
  // What passes the checks is installed on trial: the launcher's word.
  bool refused = false;
  for (const Finding& finding : findings) refused = refused || finding.refusal;
  if (!refused) {
    const std::string problem = trialInstall(file.get(), bundleEndOffsetOf(file.get()));
    if (!problem.empty()) findings.push_back({true, problem});
  }
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
  return std::fflush(out) == 0 && refusals == 0 ? 0 : 1;
}

}  // namespace mkbundle
