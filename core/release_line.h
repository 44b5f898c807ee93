// The release line of -version: the text of the bundle's 'r' block.
#pragma once

#include <cstdio>

#include "core/bundle.h"

namespace kv {

// Prints "Korvane Installer version %s\n" for every 'r' block.
class RelPrinter : public TagHandler {
 public:
  bool visit(std::FILE* file, const BlockDescriptor& block) override;
};

}  // namespace kv
