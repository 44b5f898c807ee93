#include "core/text.h"

namespace kv {

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

std::string limitText(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  // text[cut] is the first byte dropped: while it continues a sequence, the
  // sequence's earlier bytes go too.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

}  // namespace kv
