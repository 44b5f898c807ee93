#include "platform/linux/logo_extractor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "core/fs.h"

namespace kv {

namespace {

// Reads [start, end) of the launcher file; fewer bytes when it ends early.
std::vector<char> readBlock(std::FILE* file, const BlockDescriptor& block) {
  std::vector<char> data(block.length());
  if (fs::seek(file, block.start, SEEK_SET) != 0) return {};
  data.resize(std::fread(data.data(), 1, data.size(), file));
  return data;
}

bool writeAll(int fd, const std::vector<char>& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string logoFilePath() { return "/tmp/" + std::to_string(getpid()) + "_kvlogo.png"; }

bool LogoExtractor::visit(std::FILE* file, const BlockDescriptor& block) {
  if (block.tag() != kTagLogo) return true;
  std::vector<char> data = readBlock(file, block);
  // Exclusive and without following links: /tmp is shared, and a name
  // planted there in advance must not redirect the write.
  int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  created_ = true;
  writeAll(fd, data);
  ::close(fd);
  return false;
}

}  // namespace kv
