// Whether two paths are one file: by device and inode when both exist, by the resolved path otherwise.
#include "hosting/images/same_file.h"

#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <unistd.h>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::TempDir;
namespace fs = std::filesystem;

void touch(const std::string& path) { std::ofstream(path) << "x"; }

TEST(SameFile, LinksAndSpellingsOfOneFileAreTheSameAndCopiesAreNot) {
  TempDir dir;
  const std::string a = dir / "a.exr", b = dir / "b.exr";
  touch(a);
  touch(b);
  fs::create_hard_link(a, dir / "hard.exr");
  fs::create_symlink(a, dir / "soft.exr");
  fs::create_directory(dir / "sub");
  EXPECT_TRUE(same_file(a, a));
  EXPECT_TRUE(same_file(a, dir / "hard.exr"));
  EXPECT_TRUE(same_file(dir / "soft.exr", a));
  EXPECT_TRUE(same_file(a, dir / "sub/../a.exr"));
  EXPECT_FALSE(same_file(a, b));
  EXPECT_FALSE(same_file(a, dir / "missing.exr"));

  // Before either exists, the resolved paths decide: through a linked directory, and relative to the cwd.
  fs::create_directory_symlink(dir.path(), dir / "linked");
  EXPECT_TRUE(same_file(dir / "new.exr", dir / "linked/new.exr"));
  EXPECT_FALSE(same_file(dir / "new.exr", dir / "other.exr"));
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());
  EXPECT_TRUE(same_file("new.exr", dir / "new.exr"));
  EXPECT_TRUE(same_file("b.exr", b));
  fs::current_path(cwd);
}

TEST(SameFile, RefusalNamesTheOutputTheOptionAndTheInput) {
  TempDir dir;
  const std::string a = dir / "a.exr";
  touch(a);
  fs::create_directory(dir / "sub");
  try {
    refuse_output_over_input(dir / "sub/../a.exr", a, "--passes");
    FAIL() << "accepted the input as the output";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::usage);
    EXPECT_EQ(std::string(e.what()), "-o \"" + (dir / "sub/../a.exr") +
                                         "\" is the same file as the --passes input \"" + a +
                                         "\", which it would replace; choose another output");
  }
  EXPECT_NO_THROW(refuse_output_over_input(dir / "b.exr", a, "--normal"));
}

}  // namespace
