// LogoExtractor: the walk that writes the bundle's 'l' block (a PNG) to the
// logo file "/tmp/<pid>_kvlogo.png", which the dialogs show as their icon.
// The file is created exclusively: a file or link already there means no
// logo, and nothing is ever written through a link. removeLogoFile()
// deletes the file only when this process created it.
#pragma once

#include <string>

#include "core/bundle.h"

namespace kv {

// "/tmp/<pid>_kvlogo.png" for this process.
std::string logoFilePath();

// Deletes the logo file when extractLogo() made it: before the installer
// starts, at exit and after a signal that ends the run.
void removeLogoFile();

// Whether extractLogo() made the logo file and it has not been removed yet:
// the windows show it as their icon only then.
bool haveLogoFile();

class LogoExtractor final : public TagHandler {
 public:
  explicit LogoExtractor(std::string path = logoFilePath()) : path_(std::move(path)) {}

  // On 'l': writes the block to the logo file and stops the walk.
  bool visit(std::FILE* file, const BlockDescriptor& block) override;

  // Whether this extractor created the logo file.
  bool created() const { return created_; }

 private:
  std::string path_;
  bool created_ = false;
};

}  // namespace kv
