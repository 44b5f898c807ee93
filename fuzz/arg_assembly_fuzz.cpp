// The option scan and the whole argument assembly over random argument
// vectors: embedded arguments, .ini lines and the user's arguments, the
// "-vmargs" split, the scan, the console switches, the prompted path, the
// rewrite of the locations, the launcher's own options, the "-patch" filter
// and the final join with the VM list. After every step the list is
// null-terminated and holds no null entry; nothing given is lost (each
// argument is in one of the two lists, or is a "-vmargs" that split them);
// the scan only changes case; and the VM list ends the final list.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/arg_assembly.h"
#include "core/arg_list.h"
#include "core/host_rules.h"
#include "core/launch_options.h"
#include "core/option_scan.h"
#include "fuzz/fuzz_support.h"

namespace {

void checkTerminated(const kv::GrowableArgList& list) {
  KV_FUZZ_CHECK(list.count() >= 0 && list.count() < list.capacity());
  KV_FUZZ_CHECK(list.items()[list.count()] == nullptr);
  for (int i = 0; i < list.count(); ++i) KV_FUZZ_CHECK(list.at(i) != nullptr);
}

std::vector<std::string> contents(const kv::GrowableArgList& list, int from) {
  std::vector<std::string> texts;
  for (int i = from; i < list.count(); ++i) texts.emplace_back(list.at(i));
  return texts;
}

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// What the scan may make of one element: itself, or (an option in the
// default section) its lower-case form, with "--" shortened to "-".
bool scannedFrom(const std::string& before, const std::string& after) {
  if (after == before || after == lower(before)) return true;
  return before.size() >= 2 && before[0] == '-' && before[1] == '-' &&
         after == lower(before.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::releaseKeptTexts();
  std::vector<std::string> texts = kvfuzz::splitTexts(data, size);
  if (texts.empty()) return 0;
  const std::string control = texts.front() + std::string(4, '\0');
  texts.erase(texts.begin());
  const size_t embeddedCount = std::min<size_t>(static_cast<uint8_t>(control[0]) % 8, texts.size());
  const size_t iniCount =
      std::min<size_t>(static_cast<uint8_t>(control[1]) % 8, texts.size() - embeddedCount);
  const uint8_t flags = static_cast<uint8_t>(control[2]);
  const kv::HostRules& rules = (flags & 1) ? kv::kWindowsHost : kv::kLinuxHost;

  std::vector<std::string> embedded(texts.begin(), texts.begin() + embeddedCount);
  std::vector<std::string> ini(texts.begin() + embeddedCount,
                               texts.begin() + embeddedCount + iniCount);
  std::vector<const char*> user;
  for (size_t i = embeddedCount + iniCount; i < texts.size(); ++i) user.push_back(texts[i].c_str());

  kv::GrowableArgList args;
  kv::GrowableArgList vm;
  args.push("/media/dvd/setup_linux");
  vm.push("-vmargs");

  // Gathering, as the main flow does it.
  std::vector<std::string> given = embedded;
  kv::appendArguments(args, vm, embedded);
  checkTerminated(args);
  checkTerminated(vm);
  const size_t userBefore = user.size();
  std::string iniPath;
  if (kv::takeIniOption(user, iniPath)) {
    KV_FUZZ_CHECK(user.size() + 2 == userBefore);
    given.insert(given.end(), ini.begin(), ini.end());
    kv::appendArguments(args, vm, ini);
  }
  const bool prePass = (flags & 2) != 0;
  const bool winConsole = kv::appendUserArguments(args, vm, user, prePass);
  for (const char* arg : user) {
    if (prePass && kv::isWinConsoleOption(arg)) continue;
    given.emplace_back(arg);
  }
  KV_FUZZ_CHECK(winConsole ==
                (prePass && std::any_of(user.begin(), user.end(), kv::isWinConsoleOption)));
  checkTerminated(args);
  checkTerminated(vm);
  KV_FUZZ_CHECK(args.find("-vmargs", 1) < 0);

  // Nothing lost: the two lists hold every given argument but the "-vmargs"
  // that split them.
  std::vector<std::string> held = contents(args, 1);
  const std::vector<std::string> vmHeld = contents(vm, 1);
  held.insert(held.end(), vmHeld.begin(), vmHeld.end());
  KV_FUZZ_CHECK(held.size() <= given.size());
  for (size_t splits = given.size() - held.size(); splits > 0; --splits) {
    auto at = std::find(given.begin(), given.end(), std::string("-vmargs"));
    KV_FUZZ_CHECK(at != given.end());
    given.erase(at);
  }
  std::sort(held.begin(), held.end());
  std::sort(given.begin(), given.end());
  KV_FUZZ_CHECK(held == given);

  // The scan changes no count and nothing but case.
  const std::vector<std::string> beforeScan = contents(args, 0);
  kv::LaunchOptions opts = kv::scanOptions(args);
  checkTerminated(args);
  KV_FUZZ_CHECK(static_cast<size_t>(args.count()) == beforeScan.size());
  for (int i = 0; i < args.count(); ++i) KV_FUZZ_CHECK(scannedFrom(beforeScan[i], args.at(i)));
  KV_FUZZ_CHECK(opts.insertionPoint >= 1 && opts.insertionPoint <= args.count());

  // Completion.
  if (flags & 4) {
    opts.winConsole = true;
    kv::insertSilentForWinConsole(args, opts);
    checkTerminated(args);
  }
  if (opts.consoleMode || (flags & 8)) {
    kv::insertConsoleSwitches(args, opts, (flags & 16) != 0);
    checkTerminated(args);
  }
  if ((flags & 32) && !opts.installPathGiven) {
    kv::insertPromptedInstallPath(args, opts, "/opt/prompted path");
    checkTerminated(args);
  }
  KV_FUZZ_CHECK(opts.insertionPoint >= 1 && opts.insertionPoint <= args.count());
  if (!opts.installPath) opts.installPath = "/opt/Korvane";
  if (opts.download && !opts.downloadPath) opts.downloadPath = *opts.installPath;
  if (opts.download || opts.installPathGiven) kv::rewriteLocations(args, opts);
  checkTerminated(args);
  KV_FUZZ_CHECK(opts.insertionPoint >= 1 && opts.insertionPoint <= args.count());
  kv::addLauncherOptions(args, opts, "/nonexistent-kvfuzz/media", rules);
  checkTerminated(args);
  if (flags & 64) {
    kv::removePatchOptions(args);
    checkTerminated(args);
  }
  if (!opts.installPathGiven) KV_FUZZ_CHECK(args.find("-installPath", 1) >= 1);

  // The VM list goes last, whole.
  const std::vector<std::string> vmFinal = contents(vm, 0);
  KV_FUZZ_CHECK(vmFinal == std::vector<std::string>(1, "-vmargs") || vmFinal.size() > 1);
  const std::vector<std::string> beforeJoin = contents(args, 0);
  kv::appendVmArgs(args, vm);
  checkTerminated(args);
  checkTerminated(vm);
  std::vector<std::string> expected = beforeJoin;
  if (vmFinal.size() > 1) {
    expected.insert(expected.end(), vmFinal.begin(), vmFinal.end());
    KV_FUZZ_CHECK(vm.count() == 0);
  }
  KV_FUZZ_CHECK(contents(args, 0) == expected);
  return 0;
}
