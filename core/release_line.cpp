#include "core/release_line.h"

#include <string>

namespace kv {

bool RelPrinter::visit(std::FILE* file, const BlockDescriptor& block) {
  if (block.tag() != kTagRelease) return true;
  std::string text = blockText(file, block, block.length());
  std::printf("Korvane Installer version %s\n", text.c_str());
  return true;
}

}  // namespace kv
