// mkbundle: appends a bundle of tagged blocks to a launcher image, or lists
// the bundle of an existing launcher.
#include <cstdio>
#include <string>

#include "tools/mkbundle/build_command.h"
#include "tools/mkbundle/list_bundle.h"
#include "tools/mkbundle/options.h"
#include "tools/mkbundle/verify_bundle.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(mkbundle::usageText(), stderr);
    return 2;
  }
  mkbundle::Options options;
  const std::string error = mkbundle::parseOptions(argc, argv, options);
  if (!error.empty()) {
    std::fprintf(stderr, "mkbundle: %s\n", error.c_str());
    return 2;
  }
  if (options.printVersion) {
    std::printf("mkbundle %s\n", mkbundle::kMkbundleVersion);
    return 0;
  }
  if (options.help) {
    std::fputs(mkbundle::usageText(), stdout);
    return 0;
  }
  std::string message;
  bool done = false;
  if (!options.listPath.empty()) {
    done = mkbundle::listBundle(options.listPath, options.listFiles, stdout, &message);
  } else if (!options.verifyPath.empty()) {
    done = mkbundle::verifyBundle(options.verifyPath, stdout, &message);
  } else {
    message = mkbundle::buildBundle(options);
    done = message.empty();
  }
  if (!message.empty()) std::fprintf(stderr, "mkbundle: %s\n", message.c_str());
  return done ? 0 : 1;
}
