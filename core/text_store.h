// Texts that must live until the process ends: the argument lists refer to
// them without owning them (.ini lines, embedded arguments, lower-cased
// options, settled paths). keepText() copies a text into the store and
// returns a stable pointer to the copy.
#pragma once

#include <string>

namespace kv {

const char* keepText(std::string text);

}  // namespace kv
