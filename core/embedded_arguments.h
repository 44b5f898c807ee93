// The installer arguments embedded in the bundle, one per 'a' block: a walk
// with ArgCounter counts them, a second with ArgFetcher reads them in file
// order.
#pragma once

#include <cstdio>
#include <vector>

#include "core/bundle.h"

namespace kv {

// Counts the 'a' blocks.
class ArgCounter : public TagHandler {
 public:
  bool visit(std::FILE* file, const BlockDescriptor& block) override;
  int count = 0;
};

// Reads each 'a' block into args, in file order (the walk runs backwards).
// The texts live until the process ends.
class ArgFetcher : public TagHandler {
 public:
  ArgFetcher(int count, std::vector<const char*>& args);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;

 private:
  std::vector<const char*>& args_;
  int remaining_;
};

}  // namespace kv
