#include "platform/linux/logo_extractor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "base/fs.h"

namespace kv {

namespace {

bool writeAll(int fd, const std::string& data) {
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
  const std::string data = readBlock(file, block, block.length());
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
