// Program entry of the Linux launcher.
#include "base/launcher_mark.h"
#include "core/main_flow.h"

#if defined(__x86_64__)
KV_LAUNCHER_MARK("Linux x86-64 launcher")
#else
KV_LAUNCHER_MARK("Linux i386 launcher")
#endif

int main(int argc, char** argv) { return kv::runLauncher(argc, argv); }
