// The remembered install locations in the user's home folder.
//
// ".kvInstaller.loc" holds one path (no line end) for runs without a product
// key; ".kvInstaller.locations" holds "key = value" lines, one per product
// key, keys compared without regard to case. The keyed file goes through one
// PropertiesMap; a write loads the file again under a lock (flock() on the
// file itself, never the home folder that an extraction may lock), changes only its own key and
// replaces the file atomically (new file, fsync, rename; mode and owner kept), so another
// launcher's entry stored meanwhile survives. Neither file is ever read or written through a link
// at its name (a link there is left alone and nothing is stored), and only a regular file is read.
// A keyed file of more than 1 MiB is neither loaded nor replaced.
//
// readDefaultLocation()/writeDefaultLocation() use one process-wide store
// and the home folder of homeDirectory(); tests use their own store.
#pragma once

#include <memory>
#include <string>

#include "core/properties_map.h"

namespace kv {

class LocationStore {
 public:
  LocationStore();
  ~LocationStore();

  // The stored location for productKey ("" = the unkeyed file), else
  // home + "/" + productFolder ("" = "Korvane"). With no home folder there
  // is no stored location and the default is the bare folder name, which
  // the location check then rejects as not absolute.
  std::string read(const std::string& home, const std::string& productKey,
                   const std::string& productFolder);
  // Stores location for productKey ("" = the unkeyed file), as above.
  // Failures are silent: nothing is stored.
  void write(const std::string& home, const std::string& productKey, const std::string& location);

 private:
  // Creates the map on first use and loads the keyed file into it when that
  // file can be read.
  void loadMap(const std::string& path);

  std::unique_ptr<PropertiesMap> map_;
};

// The name of a location file in `home`, or "" when there is no home folder
// or the name would not fit the 4096-byte path limit of the location files.
std::string locationFilePath(const std::string& home, const std::string& productKey);

}  // namespace kv
