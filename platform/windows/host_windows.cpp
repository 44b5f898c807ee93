// The Windows answers to the core's questions about the host, and the hooks
// that only the Linux launcher fills (GUI start, host check, logo file).
#include <windows.h>

#include "core/platform.h"
#include "platform/windows/whole_path.h"
#include "platform/windows/wide_text.h"

namespace kv {

const HostRules& hostRules() { return kWindowsHost; }

std::string wholePath(const std::string& path) { return narrow(wholeWidePath(widen(path))); }

// The core has no use for a home folder on Windows: locations are
// remembered in the registry and "~/" is not expanded.
std::string homeDirectory() { return std::string(); }

// The Windows dialogs need no start that could fail.
bool initGui(GrowableArgList&, std::string*) { return true; }

void hostCheck(const std::string&) {}

void showErrorBox(const std::string& text) {
  std::string shown = text;
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  MessageBoxW(nullptr, widen(shown).c_str(), L"Extract Installer", MB_ICONERROR | MB_OK);
}

// The window icon is the LOGO resource: no logo file.
void extractLogo(std::FILE*) {}

}  // namespace kv
