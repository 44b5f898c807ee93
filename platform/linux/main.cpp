// Program entry of the Linux launcher.
#include "core/main_flow.h"

int main(int argc, char** argv) { return kv::runLauncher(argc, argv); }
