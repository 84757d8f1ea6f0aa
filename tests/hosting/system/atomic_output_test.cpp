// Writers that fail, are abandoned or are interrupted leave neither the target nor a temporary file.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/interrupt.h>

#include <csignal>
#include <fstream>

#include "hosting/images/image_writer.h"
#include "hosting/system/atomic_file.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using DD::Image::ImageBuffer;
using quorlen::hosting_test::TempDir;

const std::vector<DD::Image::Channel> kRGBA = {DD::Image::Chan_Red, DD::Image::Chan_Green,
                                               DD::Image::Chan_Blue, DD::Image::Chan_Alpha};

ImageGeometry geometry(int w, int h) { return {Box(0, 0, w, h), Box(0, 0, w, h)}; }

ImageBuffer lines(int y0, int y1, int w, float value) {
  ImageBuffer b(Box(0, y0, w, y1), kRGBA);
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 4; ++k) b.at(x, y, k) = value;
  return b;
}

TEST(ImageWriter, AnAbandonedWriteLeavesNothing) {
  TempDir dir;
  for (const char* name : {"out.exr", "out.png"}) {
    {
      ImageWriter writer(plan_output(dir / name), geometry(4, 4));
      writer.write_lines(lines(0, 2, 4, 0.5f));
      EXPECT_EQ(dir.files().size(), 1u) << "the temporary file exists while writing";
    }
    EXPECT_TRUE(dir.files().empty()) << name;
  }
}

TEST(ImageWriter, AnIncompleteImageIsNotCommitted) {
  TempDir dir;
  {
    ImageWriter writer(plan_output(dir / "out.exr"), geometry(4, 4));
    writer.write_lines(lines(0, 3, 4, 0.5f));
    try {
      writer.commit();
      FAIL() << "committed 3 of 4 lines";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::output);
      EXPECT_NE(std::string(e.what()).find("incomplete"), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(ImageWriter, LinesOutOfOrderAreRefused) {
  TempDir dir;
  {
    ImageWriter writer(plan_output(dir / "out.exr"), geometry(4, 4));
    EXPECT_THROW(writer.write_lines(lines(1, 2, 4, 0.5f)), Error);
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(ImageWriter, CommitReplacesAnExistingTargetWhole) {
  TempDir dir;
  const std::string target = dir / "out.exr";
  std::ofstream(target) << "old contents";
  ImageWriter writer(plan_output(target), geometry(3, 2));
  writer.write_lines(lines(0, 1, 3, 0.25f));
  writer.write_lines(lines(1, 2, 3, 0.75f));
  EXPECT_EQ(quorlen::hosting_test::slurp(target), "old contents")
      << "the target is untouched until the commit";
  writer.commit();
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"out.exr"}));
  const auto image = quorlen::hosting_test::read_image(target);
  EXPECT_EQ(image.at(2, 0, 0), 0.25f);
  EXPECT_EQ(image.at(2, 1, 3), 0.75f);
}

TEST(Interrupt, FirstSignalAsksToStopAndASecondExitsRemovingThePendingFile) {
  TempDir dir;
  const std::string pending = dir / ".pending.tmp";
  EXPECT_EXIT(
      {
        install_interrupt_handlers();
        std::ofstream(pending) << "partial";
        set_pending_temp_file(pending);
        std::raise(SIGINT);
        if (!interrupted()) std::exit(1);
        try {
          throw_if_interrupted();
          std::exit(2);
        } catch (const Error& e) {
          if (e.kind() != ErrorKind::interrupted) std::exit(3);
        }
        std::raise(SIGTERM);
        std::exit(4);  // not reached: the second signal exits
      },
      ::testing::ExitedWithCode(128 + SIGINT), "");
  EXPECT_FALSE(std::filesystem::exists(pending));
}

}  // namespace
