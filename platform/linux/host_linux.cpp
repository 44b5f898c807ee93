// The Linux answers to the core's questions about the host.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "core/platform.h"
#include "core/program_image.h"

namespace kv {

const HostRules& hostRules() { return kLinuxHost; }

std::string ownExecutablePath(const char* argv0) {
  return argv0 ? std::string(argv0) : std::string();
}

int64_t bundleEndOffset(std::FILE*) { return -8; }

uint64_t programImageEnd(std::FILE* launcherFile) { return elfImageEnd(launcherFile); }

bool attachConsole() { return true; }

bool runConsoleTwin(int&) { return false; }

bool isConsoleTwinProgram() { return false; }

// HOME when it is set and not empty; otherwise the home folder that the
// password database gives for the real user; "" when neither exists.
std::string wholePath(const std::string& path) { return path; }

std::string homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  // The reentrant query: the GTK log handler may ask from the GUI thread.
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::string();
  if (!found->pw_dir || !*found->pw_dir) return std::string();
  return found->pw_dir;
}

}  // namespace kv
