// The usage texts printed for -help, and the argument listing written at
// exit for -showargsandexit. Everything goes to standard output.
#pragma once

#include "core/arg_list.h"

namespace kv {

// The main usage (the scan ended in the default section).
void printMainUsage();
// The yum usage (the scan ended in the yum section).
void printYumUsage();

// One "argv[%d] = %s\n" line per element of the installer list, numbered
// from 0, then, when the VM list holds more than its leading "-vmargs", its
// elements numbered on. Flushes standard output.
void listArguments(const GrowableArgList& installerArgs, const GrowableArgList& vmArgs);

// Lists the two lists as they stand when the process exits. The lists must
// outlive the exit handlers (the main flow's lists do). Calling it again
// only replaces the lists; the handler is registered once.
void registerListArgsAtExit(const GrowableArgList* installerArgs, const GrowableArgList* vmArgs);

}  // namespace kv
