// parseVersion and isNewer: any three version texts parse without harm, and
// isNewer is a strict total order on (major, minor, micro, qualifier):
// irreflexive, asymmetric, transitive, and two versions neither of which
// is newer are equal.
#include <cstdint>
#include <string>
#include <vector>

#include "core/installer_version.h"
#include "fuzz/fuzz_support.h"

namespace {

bool same(const kv::InstallerVersion& a, const kv::InstallerVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.micro == b.micro &&
         a.qualifier == b.qualifier;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string whole(reinterpret_cast<const char*>(data), size);
  kv::InstallerVersion raw;
  kv::parseVersion(whole, raw);  // a whole 'v' block or .eclipseproduct

  std::vector<std::string> parts = kvfuzz::splitTexts(data, size, '\n');
  parts.resize(3);
  kv::InstallerVersion v[3];
  for (int i = 0; i < 3; ++i) {
    KV_FUZZ_CHECK(kv::parseVersion("name=x\nversion=" + parts[i] + "\n", v[i]));
    for (char c : v[i].qualifier) KV_FUZZ_CHECK(c != ' ' && c != '\t' && c != '\n');
  }
  for (int i = 0; i < 3; ++i) {
    KV_FUZZ_CHECK(!kv::isNewer(v[i], v[i]));
    for (int j = 0; j < 3; ++j) {
      const bool ij = kv::isNewer(v[i], v[j]);
      const bool ji = kv::isNewer(v[j], v[i]);
      KV_FUZZ_CHECK(!(ij && ji));
      if (!ij && !ji) KV_FUZZ_CHECK(same(v[i], v[j]));
      for (int k = 0; k < 3; ++k) {
        if (ij && kv::isNewer(v[j], v[k])) KV_FUZZ_CHECK(kv::isNewer(v[i], v[k]));
      }
    }
  }
  return 0;
}
