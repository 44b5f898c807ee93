// Turns a directory into a 7z archive by running 7zz, into private
// temporary folders (mkdtemp) that are removed with the archives in them
// when the ArchiveFolder goes out of scope.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mkbundle/tree_walk.h"

namespace mkbundle {

class ArchiveFolder {
 public:
  ArchiveFolder() = default;
  ~ArchiveFolder();
  ArchiveFolder(const ArchiveFolder&) = delete;
  ArchiveFolder& operator=(const ArchiveFolder&) = delete;

  // Archives the entries of `listing`, walked from `directory` (names
  // relative to it, such as "maintenance/kvInstaller/..."), with 7zz and
  // compression method `method` into a new file named `name` in the
  // private folder: in sorted order, links as links, no times, modes kept.
  // The folder is made on first use, outside `directory`; `outputHint` is a
  // file whose folder serves when the system's temporary folder lies inside
  // `directory`. `showProgress` lets 7zz report its percentage on standard
  // error. With the default method, files LZMA barely shrinks go into small
  // blocks after the others (block_rule.h). Returns "" and sets
  // `archivePath`, or the error message.
  std::string archiveDirectory(const std::string& directory, const TreeListing& listing,
                               const std::string& method, const std::string& name,
                               const std::string& outputHint, bool showProgress,
                               std::string& archivePath);

 private:
  // Probes one entry's compressibility (block_rule.h) with 7zz in `folder`.
  std::string probe(const std::string& directory, const std::string& folder, const TreeEntry& entry,
                    uint64_t* sample, uint64_t* packed);
  // Adds `entries` to the archive (made if missing) with `methodSwitches`.
  std::string addEntries(const std::string& directory, const std::vector<TreeEntry>& entries,
                         const std::vector<std::string>& methodSwitches, bool showProgress,
                         const std::string& archivePath);
  void removeLater(const std::string& file);
  std::string folderOutside(const std::string& directory, const std::string& outputHint,
                            std::string& folder);

  std::vector<std::string> folders_;
  std::vector<std::string> files_;
};

// True when the file begins with the 7z signature.
bool isSevenZipFile(const std::string& path);

}  // namespace mkbundle
