// The logo file's life in the launcher: written by one walk before the
// first dialog, removed after the installer has run, and only ever removed
// when this process created it.
#include <unistd.h>

#include "core/platform.h"
#include "platform/linux/logo_extractor.h"

namespace kv {

namespace {

bool logoCreated = false;

}  // namespace

void extractLogo(std::FILE* launcherFile) {
  if (logoCreated) return;
  LogoExtractor extractor;
  walkBundle(launcherFile, extractor);
  logoCreated = extractor.created();
}

void removeLogoFile() {
  if (!logoCreated) return;
  unlink(logoFilePath().c_str());
  logoCreated = false;
}

}  // namespace kv
