// The inputs of a frame: how tall its bands are from the inputs' blocks and a byte budget, and how the
// memory limit takes bands out of flight before refusing the frame.
#include "hosting/frames/frame_inputs.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <quorlen/errors.h>

#include <tuple>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::TempDir;

TEST(FrameInputs, BandsCoverWholeBlocksAndStayNearTheirByteBudget) {
  const TempDir dir;
  // A wide frame gets short bands, but never less than a whole block (256 lines for dwab); a narrow
  // frame gets tall bands, bounded; no band is taller than the frame.
  const std::string wide = dir / "wide.exr", wide_dwab = dir / "wide_dwab.exr", narrow = dir / "narrow.exr",
                    very_wide = dir / "very_wide.exr", short_dwab = dir / "short.exr";
  for (const auto& [path, width, height, compression] : {std::tuple{wide, 16384, 40, "none"},
                                                         {wide_dwab, 2048, 300, "dwab"},
                                                         {narrow, 8, 5000, "none"},
                                                         {very_wide, 400000, 2, "none"},
                                                         {short_dwab, 2048, 3, "dwab"}}) {
    OIIO::ImageSpec layout(width, height, 3, OIIO::TypeFloat);
    layout.attribute("compression", compression);
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, layout));
    const std::vector<float> image(static_cast<std::size_t>(width) * height * 3, 0.5f);
    ASSERT_TRUE(out->write_image(OIIO::TypeFloat, image.data()));
    ASSERT_TRUE(out->close());
  }
  std::vector<std::string> warnings;
  const auto inputs_of = [&](const std::string& normal, long long max_memory = kDefaultMaxMemory) {
    FrameSources s;
    s.inputs[kNormal] = InputSpec{normal, std::nullopt};
    s.max_memory = max_memory;
    return FrameInputs(s, warnings);
  };
  EXPECT_EQ(inputs_of(wide).band_lines(), 10);  // 8 MiB of input samples
  EXPECT_EQ(inputs_of(wide_dwab).band_lines(), 256);
  EXPECT_EQ(inputs_of(narrow).band_lines(), 4096);
  EXPECT_EQ(inputs_of(short_dwab).band_lines(), 3);
  EXPECT_EQ(inputs_of(very_wide).band_lines(), 1);

  // The memory limit first takes bands out of flight, then refuses the frame, naming the input.
  const FrameInputs dwab = inputs_of(wide_dwab);
  const long long band = dwab.band_bytes();
  EXPECT_EQ(band, 256LL * 2048 * (3 * 2 + 4) * 4);  // the normal, the black colour, the output
  EXPECT_EQ(dwab.bands_in_flight(3), 3);
  EXPECT_EQ(inputs_of(wide_dwab, 2 * band + band / 2).bands_in_flight(3), 1);
  EXPECT_EQ(inputs_of(wide_dwab, 3 * band).bands_in_flight(3), 2);
  try {
    inputs_of(wide_dwab, band);
    FAIL() << "a frame over the memory limit was opened";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::usage);
    EXPECT_NE(
        std::string(e.what()).find("\"" + wide_dwab + "\" is 2048 pixels wide: streaming it needs about"),
        std::string::npos)
        << e.what();
  }
}

}  // namespace
