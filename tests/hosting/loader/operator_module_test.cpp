// Where the module is looked for, and the one-line failures of loading it.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>

#include <filesystem>
#include <fstream>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::TempDir;
namespace fs = std::filesystem;

TEST(PluginSearch, CommandLineThenEnvironmentThenOwnDirectories) {
  const auto dirs = plugin_search_dirs(std::string("/cli"), "/env/a::/env/b:/cli");
  ASSERT_GE(dirs.size(), 4u);
  EXPECT_EQ(dirs[0], "/cli");
  EXPECT_EQ(dirs[1], "/env/a");
  EXPECT_EQ(dirs[2], "/env/b");  // the empty entry is skipped and the repeated /cli dropped
  // The rest are the program's own: the install layout beside the executable, then the build tree.
  EXPECT_EQ(dirs.back(), QUORLEN_TEST_BUILD_PLUGIN_DIR);
  EXPECT_EQ(std::count(dirs.begin(), dirs.end(), "/cli"), 1);
}

TEST(PluginSearch, WithoutOptionsOnlyTheOwnDirectoriesRemain) {
  const auto dirs = plugin_search_dirs(std::nullopt, nullptr);
  ASSERT_FALSE(dirs.empty());
  EXPECT_EQ(dirs.back(), QUORLEN_TEST_BUILD_PLUGIN_DIR);
  // The built module is found in them, which is what lets a fresh build run with no set-up.
  const auto found = find_module(dirs);
  ASSERT_TRUE(found);
  EXPECT_TRUE(fs::equivalent(*found, QUORLEN_TEST_PLUGIN));
}

TEST(PluginSearch, FirstDirectoryHoldingTheModuleWins) {
  TempDir a, b, c;
  std::ofstream(b / kModuleFileName) << "x";
  std::ofstream(c / kModuleFileName) << "y";
  EXPECT_EQ(find_module({a.path().string(), b.path().string(), c.path().string()}), b / kModuleFileName);
  EXPECT_EQ(find_module({a.path().string()}), std::nullopt);
  // An entry naming a file is the module itself.
  EXPECT_EQ(find_module({c / kModuleFileName}), c / kModuleFileName);
}

TEST(LoadModule, ANonModuleFileFailsWithTheLoadersMessage) {
  TempDir dir;
  std::ofstream(dir / kModuleFileName) << "not a shared object";
  try {
    load_module(dir / kModuleFileName);
    FAIL() << "loaded a text file";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::module);
    const std::string what = e.what();
    EXPECT_EQ(what.find("cannot load plug-in \"" + (dir / kModuleFileName) + "\": "), 0u) << what;
    EXPECT_EQ(what.find('\n'), std::string::npos);
  }
}

TEST(LoadModule, AModuleBuiltForAnotherLayerVersionIsRefusedWithTheRegistrysReason) {
  TempDir dir;
  fs::copy_file(QUORLEN_TEST_FOREIGN_MODULE, dir / kModuleFileName);
  try {
    load_module(dir / kModuleFileName);
    FAIL() << "accepted a module of another layer version";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::module);
    const std::string what = e.what();
    EXPECT_TRUE(quorlen::hosting_test::contains(what, "registered no \"Quorlen\" operator")) << what;
    EXPECT_TRUE(quorlen::hosting_test::contains(what, "version")) << what;
  }
}

TEST(LoadModule, TheRealModuleYieldsTheQuorlenRecord) {
  const auto& description = load_module(QUORLEN_TEST_PLUGIN);
  EXPECT_STREQ(description.name(), "Quorlen");
  // Loading again finds the same record rather than failing.
  EXPECT_EQ(&load_module(QUORLEN_TEST_PLUGIN), &description);
}

}  // namespace
