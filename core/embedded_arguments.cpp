#include "core/embedded_arguments.h"

#include <cstring>
#include <string>

#include "core/text_store.h"

namespace kv {

bool ArgCounter::visit(std::FILE*, const BlockDescriptor& block) {
  if (block.tag() == kTagArgument) ++count;
  return true;
}

ArgFetcher::ArgFetcher(int count, std::vector<const char*>& args) : args_(args), remaining_(count) {
  args_.assign(static_cast<size_t>(count), nullptr);
}

bool ArgFetcher::visit(std::FILE* file, const BlockDescriptor& block) {
  if (block.tag() != kTagArgument) return true;
  if (remaining_ <= 0) return false;  // more 'a' blocks than counted: the file changed
  // An argument is the block's raw text; a NUL would end it for the installer anyway.
  std::string text = readBlock(file, block, block.length());
  text.resize(std::strlen(text.c_str()));
  --remaining_;
  args_[static_cast<size_t>(remaining_)] = keepText(std::move(text));
  return true;
}

}  // namespace kv
