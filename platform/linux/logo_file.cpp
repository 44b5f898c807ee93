// The logo file's life in the launcher: written by one walk before the
// first dialog and removed on every way out: at exit, before the installer
// is started (which may replace this process) and after a signal that ends
// the run. Only ever removed when this process created it.
#include <unistd.h>

#include <cstdlib>

#include "core/platform.h"
#include "platform/linux/interrupt_cleanup.h"
#include "platform/linux/logo_extractor.h"

namespace kv {

namespace {

bool logoCreated = false;

void removeLogoAtExit() { removeLogoFile(); }

}  // namespace

bool haveLogoFile() { return logoCreated; }

void extractLogo(std::FILE* launcherFile) {
  if (logoCreated) return;
  static bool removalRegistered = false;
  if (!removalRegistered) removalRegistered = std::atexit(removeLogoAtExit) == 0;
  // A signal between the file's creation and the arming of its removal
  // waits until the removal is armed.
  InterruptsHeldBack heldBack;
  LogoExtractor extractor;
  walkBundle(launcherFile, extractor);
  logoCreated = extractor.created();
  if (logoCreated) armInterruptCleanup();
}

void removeLogoFile() {
  if (!logoCreated) return;
  unlink(logoFilePath().c_str());
  logoCreated = false;
}

}  // namespace kv
