// Small text helpers shared by the parsers, the option scan and the
// messages: white space and case as the "C" locale knows them (whatever
// locale GTK may have set), prefix tests, and the one length limit for the
// texts the launcher hands on in one piece.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace kv {

// The longest text handed on in one piece: the installer's program path,
// a message shown in a box or printed before the fall-back to console mode,
// the GTK log's header line and the line of the plain location file.
// Longer paths are refused; longer messages and lines are cut.
constexpr size_t kMaxTextLength = 1023;

// ' ', '\t', '\n', '\v', '\f' or '\r'.
inline bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// 'A'-'Z' become 'a'-'z'; every other byte stays.
inline char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the two texts are equal, ignoring ASCII case.
bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b);

inline bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// `text` cut to at most `limit` bytes, stepping back so that no UTF-8
// sequence is split.
std::string limitText(std::string text, size_t limit = kMaxTextLength);

}  // namespace kv
