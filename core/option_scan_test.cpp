#include "core/option_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kv {
namespace {

using Strings = std::vector<std::string>;

// An installer argument list as the scan sees it: "setup" then `rest`.
struct ScanList {
  explicit ScanList(const Strings& rest) {
    texts.push_back("setup");
    texts.insert(texts.end(), rest.begin(), rest.end());
    for (const std::string& t : texts) list.push(t.c_str());
  }
  Strings elements() const {
    Strings out;
    for (int i = 0; i < list.count(); ++i) out.push_back(list.at(i));
    return out;
  }
  Strings texts;
  GrowableArgList list;
};

LaunchOptions scan(ScanList& args) { return scanOptions(args.list); }

TEST(OptionScan, DefaultSectionLowerCasesAndShortensOptions) {
  ScanList args({"--SILENT", "-InstallPath", "/Opt/X", "-Dname=Value", "Plain"});
  LaunchOptions opts = scan(args);
  EXPECT_EQ(args.elements(),
            (Strings{"setup", "-silent", "-installpath", "/Opt/X", "-dname=value", "Plain"}));
  EXPECT_TRUE(opts.consoleMode);
  EXPECT_TRUE(opts.installPathGiven);
  EXPECT_EQ(opts.installPath, std::string("/Opt/X"));
  EXPECT_EQ(opts.insertionPoint, 6);
  // The original texts are not written to.
  EXPECT_EQ(args.texts[1], "--SILENT");
}

TEST(OptionScan, YumSectionLeavesElementsAlone) {
  ScanList args({"-yum", "install", "Foo", "--installroot=/x", "-Global", "--Help"});
  LaunchOptions opts = scan(args);
  EXPECT_EQ(args.elements(),
            (Strings{"setup", "-yum", "install", "Foo", "--installroot=/x", "-Global", "--Help"}));
  EXPECT_EQ(opts.section, LaunchOptions::Section::Yum);
  EXPECT_TRUE(opts.consoleMode);
  EXPECT_TRUE(opts.consoleOnly);
  EXPECT_EQ(opts.installPath, std::string("/x"));
  EXPECT_TRUE(opts.installPathGiven);
  EXPECT_FALSE(opts.help);  // --Help is not --help
  EXPECT_EQ(opts.insertionPoint, 1);
}

TEST(OptionScan, YumOptionsTheLauncherReads) {
  ScanList empty({"-yum", "--installroot="});
  LaunchOptions opts = scan(empty);
  EXPECT_FALSE(opts.installPathGiven);
  EXPECT_FALSE(opts.installPath.has_value());

  ScanList h({"-yum", "-h"});
  EXPECT_TRUE(scan(h).help);
  ScanList v({"-yum", "--version"});
  EXPECT_TRUE(scan(v).version);
}

TEST(OptionScan, SectionSwitches) {
  ScanList upper({"a", "-YUM", "-Global", "x"});
  LaunchOptions opts = scan(upper);
  EXPECT_EQ(opts.section, LaunchOptions::Section::Yum);
  EXPECT_EQ(upper.list.at(2), std::string("-yum"));
  EXPECT_EQ(opts.insertionPoint, 2);

  ScanList back({"-yum", "install", "-global", "-Tail"});
  opts = scan(back);
  EXPECT_EQ(opts.section, LaunchOptions::Section::Default);
  EXPECT_EQ(back.list.at(4), std::string("-tail"));
  EXPECT_EQ(opts.insertionPoint, 5);

  // "-global" alone does not move the insertion point.
  ScanList global({"a", "-global"});
  EXPECT_EQ(scan(global).insertionPoint, 2);
}

TEST(OptionScan, DoubleDashSectionNamesDoNotSwitch) {
  ScanList args({"--YUM", "--global", "x"});
  LaunchOptions opts = scan(args);
  EXPECT_EQ(opts.section, LaunchOptions::Section::Default);
  EXPECT_FALSE(opts.consoleMode);
  EXPECT_EQ(args.elements(), (Strings{"setup", "-yum", "-global", "x"}));
  EXPECT_EQ(opts.insertionPoint, 4);
}

TEST(OptionScan, SectionAtTheEndChoosesTheUsage) {
  ScanList helpYum({"-help", "-yum"});
  LaunchOptions opts = scan(helpYum);
  EXPECT_TRUE(opts.help);
  EXPECT_EQ(opts.section, LaunchOptions::Section::Yum);

  ScanList yumHelpGlobal({"-yum", "--help", "-global"});
  opts = scan(yumHelpGlobal);
  EXPECT_TRUE(opts.help);
  EXPECT_EQ(opts.section, LaunchOptions::Section::Default);
}

TEST(OptionScan, DownloadTakesOnlyANonOptionValue) {
  ScanList noValue({"-download", "-silent"});
  LaunchOptions opts = scan(noValue);
  EXPECT_TRUE(opts.download);
  EXPECT_TRUE(opts.tempInstallAllowed);
  EXPECT_FALSE(opts.downloadPathGiven);
  EXPECT_TRUE(opts.consoleMode);  // from -silent, which was scanned

  ScanList value({"-download", "/tmp/D"});
  opts = scan(value);
  EXPECT_EQ(opts.downloadPath, std::string("/tmp/D"));
  EXPECT_TRUE(opts.downloadPathGiven);
  EXPECT_FALSE(opts.consoleMode);
  EXPECT_EQ(opts.insertionPoint, 3);

  ScanList last({"-download"});
  opts = scan(last);
  EXPECT_TRUE(opts.download);
  EXPECT_FALSE(opts.downloadPathGiven);
}

TEST(OptionScan, BrandingLooksAheadWithoutConsuming) {
  ScanList last({"-branding"});
  EXPECT_FALSE(scan(last).brandingDir.has_value());

  ScanList option({"-branding", "-silent"});
  LaunchOptions opts = scan(option);
  EXPECT_FALSE(opts.brandingDir.has_value());
  EXPECT_TRUE(opts.consoleMode);

  ScanList folder({"-branding", "-Art"});
  EXPECT_FALSE(scan(folder).brandingDir.has_value());

  ScanList plain({"-branding", "Art", "-sdf", "x"});
  opts = scan(plain);
  EXPECT_EQ(opts.brandingDir, std::string("Art"));
  EXPECT_TRUE(opts.sdfGiven);  // "Art" was not consumed, so -sdf was seen
}

TEST(OptionScan, ValuesOfRecipeBaselineAndCheckStayPlainArguments) {
  ScanList recipe({"-recipe", "R.xml"});
  LaunchOptions opts = scan(recipe);
  EXPECT_TRUE(opts.consoleMode);
  EXPECT_TRUE(opts.consoleOnly);
  EXPECT_EQ(recipe.list.at(2), std::string("R.xml"));
  EXPECT_EQ(opts.insertionPoint, 3);

  ScanList baseline({"-Baseline", "2.3"});
  opts = scan(baseline);
  EXPECT_TRUE(opts.consoleOnly);
  EXPECT_EQ(opts.insertionPoint, 3);
}

// The flags one option sets, named; every other flag must stay false.
std::string flagsOf(const LaunchOptions& o) {
  std::string out;
  const std::pair<bool, const char*> flags[] = {
      {o.consoleMode, "console "},     {o.consoleOnly, "consoleOnly "},
      {o.tempInstallAllowed, "temp "}, {o.help, "help "},
      {o.version, "version "},         {o.allowSpaceInInstallPath, "space "},
      {o.download, "download "},       {o.showArgsAndExit, "showArgs "}};
  for (const auto& flag : flags) out += flag.first ? flag.second : "";
  return out;
}

TEST(OptionScan, FlagOptions) {
  const std::pair<const char*, const char*> cases[] = {{"-silent", "console "},
                                                       {"-validate", "console temp "},
                                                       {"-Version", "console version "},
                                                       {"-help", "console help "},
                                                       {"-allowSpaceInInstallPath", "space "},
                                                       {"-download", "temp download "},
                                                       {"--ShowArgsAndExit", "showArgs "},
                                                       {"-recipe", "console consoleOnly "},
                                                       {"-baseline", "console consoleOnly "},
                                                       {"-check", "console "},
                                                       {"-unknown", ""}};
  for (const auto& c : cases) {
    ScanList args({c.first});
    EXPECT_EQ(flagsOf(scan(args)), c.second) << c.first;
  }
}

TEST(OptionScan, OptionsWithoutTheirValueSetNothing) {
  for (const char* option : {"-installpath", "-sdf", "-yumdefaults", "-productid"}) {
    ScanList args({option});
    LaunchOptions opts = scan(args);
    EXPECT_FALSE(opts.installPathGiven) << option;
    EXPECT_FALSE(opts.sdfGiven) << option;
    EXPECT_FALSE(opts.yumDefaultsGiven) << option;
    EXPECT_FALSE(opts.productKey.has_value()) << option;
    EXPECT_EQ(opts.insertionPoint, 2) << option;
  }
}

TEST(OptionScan, ConsumedValuesAreNeitherLoweredNorTested) {
  ScanList args({"-installpath", "-SILENT", "-sdf", "-Yum"});
  LaunchOptions opts = scan(args);
  EXPECT_EQ(opts.installPath, std::string("-SILENT"));
  EXPECT_FALSE(opts.consoleMode);
  EXPECT_TRUE(opts.sdfGiven);
  EXPECT_EQ(opts.section, LaunchOptions::Section::Default);
  EXPECT_EQ(args.elements(), (Strings{"setup", "-installpath", "-SILENT", "-sdf", "-Yum"}));
}

TEST(OptionScan, LaterOccurrenceOverwrites) {
  ScanList args(
      {"-installpath", "a", "-installpath", "b", "-productid", "k1:f1", "-productid", "k2"});
  LaunchOptions opts = scan(args);
  EXPECT_EQ(opts.installPath, std::string("b"));
  EXPECT_EQ(opts.productKey, std::string("k2"));
  EXPECT_EQ(opts.productFolder, std::string("f1"));  // no ':' keeps the folder
}

TEST(OptionScan, ProductIdParsing) {
  ProductId id = parseProductId(" My Key : Tools/2 ");
  EXPECT_EQ(id.key, std::string("My_Key"));
  EXPECT_EQ(id.folder, std::string("Tools_2"));

  id = parseProductId("abc");
  EXPECT_EQ(id.key, std::string("abc"));
  EXPECT_FALSE(id.folder.has_value());

  id = parseProductId(":Folder");
  EXPECT_FALSE(id.key.has_value());
  EXPECT_EQ(id.folder, std::string("Folder"));

  id = parseProductId("a,b.c-d_e:x:y");  // split at the first ':'
  EXPECT_EQ(id.key, std::string("a,b.c-d_e"));
  EXPECT_EQ(id.folder, std::string("x_y"));

  id = parseProductId(" \t: ");
  EXPECT_FALSE(id.key.has_value());
  EXPECT_FALSE(id.folder.has_value());

  ScanList args({"-ProductId", " My Key : Tools/2 "});
  LaunchOptions opts = scan(args);
  EXPECT_EQ(opts.productKey, std::string("My_Key"));
  EXPECT_EQ(opts.productFolder, std::string("Tools_2"));
}

TEST(OptionScan, WinConsolePrePassTest) {
  EXPECT_TRUE(isWinConsoleOption("-WINCONSOLE"));
  EXPECT_TRUE(isWinConsoleOption("--winconsole"));
  EXPECT_TRUE(isWinConsoleOption("-WinConsole"));
  EXPECT_FALSE(isWinConsoleOption("winconsole"));
  EXPECT_FALSE(isWinConsoleOption("---winconsole"));
  EXPECT_FALSE(isWinConsoleOption("-winconsolex"));
  EXPECT_FALSE(isWinConsoleOption("-winconsol"));
  EXPECT_FALSE(isWinConsoleOption("-"));
  EXPECT_FALSE(isWinConsoleOption(""));
}

}  // namespace
}  // namespace kv
