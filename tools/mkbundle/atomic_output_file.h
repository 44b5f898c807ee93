// AtomicOutputFile: an output file that appears only when complete (unlike
// the extraction's output::OutputFile, which stages files in a folder): written to
// OUT.tmp-XXXXXX in OUT's folder, synced and renamed over OUT by commit();
// removed when it goes out of scope without a successful commit().
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

namespace mkbundle {

class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  // Creates the temporary file. "" or the error message.
  std::string open(const std::string& path);
  std::FILE* stream() const { return stream_; }
  // Where it is written until commit().
  const std::string& temporaryPath() const { return temporaryPath_; }

  // Sets `mode`, flushes, syncs and renames into place. "" or the error.
  std::string commit(mode_t mode);

 private:
  std::string path_;
  std::string temporaryPath_;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
};

}  // namespace mkbundle
