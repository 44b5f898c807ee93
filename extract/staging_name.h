// The names of staging folders: output::kStagingPrefix, the owner's process
// id, "-" and a unique part of up to six letters or digits (what mkdtemp or
// the Windows build puts there). Only a name of exactly that shape is taken
// for one: a user's ".kvstage-backup" folder is not a staging folder.
#pragma once

#include <string>

namespace kv {

// The process id in a staging folder's name, or 0 when `name` is not
// shaped like one.
unsigned long stagingFolderOwner(const std::string& name);

}  // namespace kv
