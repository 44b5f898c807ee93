// The launcher's own file: its path as the system knows it, and where the
// bundle appended to it ends (before the certificate table of a signed file).
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <vector>

#include "core/platform.h"
#include "core/program_image.h"
#include "core/signed_bundle_end.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace kv {

namespace {

// Paths longer than this are not file names the system would start.
constexpr DWORD kMaxModulePath = 32768;

// Unmaps a view of a file when it goes out of scope.
class MappedView {
 public:
  explicit MappedView(const void* view) : view_(view) {}
  ~MappedView() {
    if (view_) UnmapViewOfFile(view_);
  }
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;
  const uint8_t* bytes() const { return static_cast<const uint8_t*>(view_); }

 private:
  const void* view_;
};

void printLine(const char* text) {
  std::printf("%s\n", text);
  std::fflush(stdout);
}

// The end offset for the mapped file; -8 when it cannot be mapped.
int64_t computeBundleEndOffset(std::FILE* launcherFile) {
  const int64_t unsigned_ = -8;
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(launcherFile)));
  UniqueHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.valid()) {
    printLine("Couldn't open file mapping with CreateFileMapping()");
    return unsigned_;
  }
  MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view.bytes()) {
    printLine("Couldn't map view of file with MapViewOfFile()");
    return unsigned_;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return unsigned_;
  return signedBundleEndOffset(view.bytes(), static_cast<size_t>(size.QuadPart));
}

}  // namespace

std::string ownExecutablePath(const char* argv0) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return argv0 ? std::string(argv0) : std::string();
    // A name that filled the buffer may have been cut: try a larger one.
    if (length < buffer.size()) return narrow(buffer.data(), length);
    if (buffer.size() >= kMaxModulePath) return argv0 ? std::string(argv0) : std::string();
    buffer.resize(buffer.size() * 2);
  }
}

int64_t bundleEndOffset(std::FILE* launcherFile) {
  // Computed once: every walk of a run uses the same value.
  static bool known = false;
  static int64_t offset = -8;
  if (!known) {
    known = true;
    offset = computeBundleEndOffset(launcherFile);
  }
  return offset;
}

uint64_t programImageEnd(std::FILE* launcherFile) { return peImageEnd(launcherFile); }

}  // namespace kv
