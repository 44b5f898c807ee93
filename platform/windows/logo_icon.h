// The LOGO icon of the launcher's own module, the big and small window icon
// of both dialogs. Loaded once.
#pragma once

#include <windows.h>

namespace kv {

HICON logoIcon();

}  // namespace kv
