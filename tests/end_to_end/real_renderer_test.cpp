// Passes as a path tracer writes them: z-up world space, every layer under "ViewLayer.", a surface-colour
// layer beside the beauty. The colour, light space and normal encoding a first render gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

const float kS = 1.0f / std::sqrt(3.0f);  // the default light on a normal facing it
const std::array<float, 3> kAlbedo = {0.8f, 0.6f, 0.4f};

// Two pixels of a z-up scene: a ground facing up (x = 0) and an underside facing down (x = 1), both at the
// origin. The beauty is dim and has alpha 1.
void write_real_passes(const std::string& path) {
  const Layer beauty{
      {"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B", "ViewLayer.Combined.A"},
      {0.1f, 0.1f, 0.1f, 1.0f, 0.1f, 0.1f, 0.1f, 1.0f}};
  write_image(path, 2, 1,
              {beauty,
               pixels_layer({"ViewLayer.DiffCol.R", "ViewLayer.DiffCol.G", "ViewLayer.DiffCol.B"},
                            {kAlbedo, kAlbedo}),
               pixels_layer({"ViewLayer.Normal.X", "ViewLayer.Normal.Y", "ViewLayer.Normal.Z"},
                            {{0, 0, 1}, {0, 0, -1}}),
               pixels_layer({"ViewLayer.Position.X", "ViewLayer.Position.Y", "ViewLayer.Position.Z"},
                            {{0, 0, 0}, {0, 0, 0}})});
}

TEST(RealRenderer, PassesTakesTheSurfaceColourAndDryRunSaysWhy) {
  TempDir dir;
  const std::string passes = dir / "shot.exr", out = dir / "out.exr";
  write_real_passes(passes);
  RunResult r = run_quorlen({"render", "--passes", passes, "-o", out, "--dry-run"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "color   " + passes + ":ViewLayer.DiffCol (ViewLayer.DiffCol.R,")) << r.out;
  EXPECT_TRUE(contains(r.out,
                       "mapped  color <- ViewLayer.DiffCol: its last word is DiffCol: the surface "
                       "colour without the rendered light"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "mapped  normal <- ViewLayer.Normal: its last word is Normal")) << r.out;

  // In world space the default light lights the up-facing ground with the surface colour.
  r = run_quorlen({"render", "--passes", passes, "-o", out, "--light-space", "world"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(image.at(0, 0, c), kAlbedo[c] * kS, 1e-6f) << c;
}

TEST(RealRenderer, ALayerIsFoundByItsLastWordAndAMissOrAClashIsExplained) {
  TempDir dir;
  const std::string passes = dir / "shot.exr", out = dir / "out.exr";
  write_real_passes(passes);
  RunResult r = run_quorlen(
      {"render", "--normal", passes + ":normal", "--color", passes + ":DiffCol", "-o", out, "--dry-run"},
      dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "color   " + passes + ":ViewLayer.DiffCol (")) << r.out;
  EXPECT_TRUE(contains(r.out, "normal  " + passes + ":ViewLayer.Normal (")) << r.out;

  r = run_quorlen({"render", "--normal", passes + ":Normal", "--color", passes + ":DifCol", "-o", out}, dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.err,
      "quorlen: error: \"" + passes +
          "\" has no layer \"DifCol\" (did you mean \"ViewLayer.DiffCol\"?) (layers: ViewLayer.Combined, "
          "ViewLayer.DiffCol, ViewLayer.Normal, ViewLayer.Position)\n");
  r = run_quorlen({"render", "--normal", passes + ":Specular", "-o", out}, dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(contains(r.err, "has no layer \"Specular\" (layers: ViewLayer.Combined,")) << r.err;
  EXPECT_FALSE(fs::exists(out));

  const std::string two = dir / "two.exr";
  write_image(two, 1, 1,
              {pixels_layer({"left.N.X", "left.N.Y", "left.N.Z"}, {{0, 0, -1}}),
               pixels_layer({"right.N.X", "right.N.Y", "right.N.Z"}, {{0, 0, -1}})});
  r = run_quorlen({"render", "--normal", two + ":N", "-o", out}, dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "quorlen: error: \"" + two +
                "\" has several layers whose last word is \"N\" (left.N, right.N); name one in full\n");
  r = run_quorlen({"render", "--normal", two + ":right.N", "-o", out}, dir);
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST(RealRenderer, WorldLightSpaceMakesLightKnobsPhysicalInZUpPasses) {
  TempDir dir;
  const std::string passes = dir / "shot.exr", out = dir / "out.exr";
  write_real_passes(passes);
  const auto render = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> args{"render", "--passes", passes, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = run_quorlen(args, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    const ReadImage image = read_image(out);
    return std::array<float, 2>{image.at(0, 0, 0), image.at(1, 0, 0)};  // red of ground, underside
  };
  // The node's own convention: the default light is below a z-up ground.
  auto v = render({});
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_NEAR(v[1], kAlbedo[0] * kS, 1e-6f);
  v = render({"--light-space", "world"});
  EXPECT_NEAR(v[0], kAlbedo[0] * kS, 1e-6f);
  EXPECT_EQ(v[1], 0.0f);

  // A point light 50 units above, fading out over 100: half its light reaches the tops, none the undersides.
  const std::vector<std::string> point{"--set", "lightType=point",    "--set", "_pointLightPos=0,0,50",
                                       "--set", "pointLightFalloff=1"};
  std::vector<std::string> world = point;
  world.insert(world.end(), {"--light-space", "WORLD"});
  v = render(world);
  EXPECT_NEAR(v[0], kAlbedo[0] * 0.5f, 1e-6f);
  EXPECT_EQ(v[1], 0.0f);
  v = render(point);
  EXPECT_EQ(v[0], 0.0f);

  RunResult r =
      run_quorlen({"render", "--passes", passes, "-o", out, "--light-space", "world", "--dry-run"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "light   world space:")) << r.out;
  r = run_quorlen({"render", "--passes", passes, "-o", out, "--dry-run"}, dir);
  EXPECT_TRUE(contains(r.out, "light   node space:")) << r.out;
  r = run_quorlen({"render", "--passes", passes, "-o", out, "--light-space", "up"}, dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.err,
      "quorlen: error: --light-space: up not in {node,world} (run 'quorlen help render' for its options)\n");
}

TEST(RealRenderer, UnsignedNormalsAreDecoded) {
  TempDir dir;
  const std::string normal = dir / "n.exr", out = dir / "out.exr";
  // 0.5 n + 0.5 of n = (0, 0, -1), the normal facing the node's default light.
  write_image(normal, 1, 1, {pixels_layer({"R", "G", "B"}, {{0.5f, 0.5f, 0.0f}})});
  RunResult r = run_quorlen(
      {"render", "--normal", normal, "--set", "outputType=light", "-o", out, "--normal-encoding", "unsigned"},
      dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NEAR(read_image(out).at(0, 0, 0), kS, 1e-6f);
  r = run_quorlen({"render", "--normal", normal, "--set", "outputType=light", "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  // Read as stored, (0.5, 0.5, 0) is a normal lying in the picture plane.
  EXPECT_NEAR(read_image(out).at(0, 0, 0), std::sqrt(2.0f / 3.0f), 1e-6f);
  r = run_quorlen({"render", "--normal", normal, "-o", out, "--normal-encoding", "unsigned", "--dry-run"},
                  dir);
  EXPECT_TRUE(contains(r.out, "normals unsigned")) << r.out;
}

TEST(RealRenderer, AnOutputThatIsAnInputIsRefusedAndTheInputKept) {
  TempDir dir;
  const std::string passes = dir / "shot.exr", normal = dir / "n.exr";
  write_real_passes(passes);
  write_image(normal, 1, 1, {pixels_layer({"R", "G", "B"}, {{0, 0, -1}})});
  fs::create_symlink(passes, dir / "link.exr");
  const std::string before = slurp(passes);
  const std::vector<std::string> cases[] = {
      {"--passes", passes, "-o", passes},
      {"--passes", passes, "-o", dir / "link.exr"},
      {"--passes", passes, "-o", dir / "./shot.exr", "--dry-run"},
      {"--normal", normal, "--color", passes + ":DiffCol", "-o", passes},
      {"--normal", normal, "-o", normal},
  };
  for (const auto& args : cases) {
    std::vector<std::string> all{"render"};
    all.insert(all.end(), args.begin(), args.end());
    const RunResult r = run_quorlen(all, dir);
    EXPECT_EQ(r.code, 1) << args[3];
    EXPECT_TRUE(contains(r.err, "quorlen: error: -o \"")) << r.err;
    EXPECT_TRUE(contains(r.err, "\", which it would replace; choose another output\n")) << r.err;
  }
  EXPECT_EQ(slurp(passes), before);
  // Frame by frame: the output of frame 2 is the input of frame 2.
  const std::string seq = dir / "seq.2.exr";
  write_real_passes(seq);
  const RunResult r =
      run_quorlen({"render", "--passes", dir / "seq.#.exr", "--frames", "2", "-o", dir / "seq.#.exr"}, dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(contains(r.err, "same file as the --passes input")) << r.err;
}

TEST(RealRenderer, EXRAndTIFFOutputsTakeTheColourInputsAlpha) {
  TempDir dir;
  const std::string passes = dir / "shot.exr", rgba = dir / "rgba.exr", normal = dir / "n.exr";
  write_real_passes(passes);
  const Layer plain{{"R", "G", "B", "A"}, {1, 1, 1, 0.25f, 1, 1, 1, 0.75f}};
  write_image(rgba, 2, 1, {plain});
  write_image(normal, 2, 1, {pixels_layer({"R", "G", "B"}, {{0, 0, -1}, {0, 0, -1}})});
  struct Case {
    std::vector<std::string> args;
    std::array<float, 2> alpha;
  };
  const Case cases[] = {
      // DiffCol has no alpha of its own: the beauty's, as a compositor would copy it.
      {{"--passes", passes, "-o", dir / "a.exr"}, {1, 1}},
      {{"--passes", passes, "-o", dir / "a.tif"}, {1, 1}},
      {{"--passes", passes, "-o", dir / "a.exr", "--alpha", "zero"}, {0, 0}},
      {{"--normal", normal, "--color", rgba, "-o", dir / "b.exr"}, {0.25f, 0.75f}},
      {{"--normal", normal, "--color", rgba, "-o", dir / "b.tif", "--alpha", "ZERO"}, {0, 0}},
      {{"--normal", normal, "--color", normal, "-o", dir / "c.exr"}, {0, 0}},  // a colour without alpha
      {{"--normal", normal, "--set", "outputType=light", "-o", dir / "d.exr"}, {0, 0}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"render"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = run_quorlen(args, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string out = *(std::find(c.args.begin(), c.args.end(), "-o") + 1);
    const ReadImage image = read_image(out);
    ASSERT_EQ(image.spec.nchannels, 4) << out;
    for (int x = 0; x < 2; ++x) EXPECT_EQ(image.at(x, 0, 3), c.alpha[x]) << out << " " << c.args.back();
  }
  const RunResult r = run_quorlen({"render", "--passes", passes, "-o", dir / "a.exr", "--dry-run"}, dir);
  EXPECT_TRUE(contains(r.out, "alpha   " + passes + " (ViewLayer.Combined.A)\n")) << r.out;
  const RunResult zero =
      run_quorlen({"render", "--passes", passes, "-o", dir / "a.exr", "--dry-run", "--alpha", "zero"}, dir);
  EXPECT_TRUE(contains(zero.out, "alpha   0 (as the node writes it)\n")) << zero.out;
}

TEST(RealRenderer, OutputTypeAndCompressionAreChosenOnTheCommandLine) {
  TempDir dir;
  const std::string passes = dir / "shot.exr";
  write_real_passes(passes);
  RunResult r = run_quorlen({"render", "--passes", passes, "--light-space", "world", "-o", dir / "h.exr",
                             "-d", "half", "--compression", "DWAA", "--dry-run"},
                            dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "16-bit half RGBA, lin_rec709 (openexr, dwaa)")) << r.out;
  r = run_quorlen({"render", "--passes", passes, "--light-space", "world", "-o", dir / "h.exr", "-d", "half",
                   "--compression", "piz"},
                  dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage half = read_image(dir / "h.exr");
  EXPECT_EQ(half.spec.format, OIIO::TypeHalf);
  EXPECT_EQ(std::string(half.spec.get_string_attribute("compression")), "piz");
  EXPECT_NEAR(half.at(0, 0, 0), kAlbedo[0] * kS, 1e-3f);
  r = run_quorlen({"render", "--passes", passes, "-o", dir / "p.png", "-d", "uint16"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_image(dir / "p.png").spec.format, OIIO::TypeUInt16);

  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"-o", dir / "p2.png", "-d", "half"}, "cannot write \"" + dir / "p2.png" + "\" as -d half"},
      {{"-o", dir / "t.tif", "--compression", "zip"}, "--compression applies to EXR outputs only"},
      {{"-o", dir / "e.exr", "--compression", "lzw"}, "--compression: lzw not in {none,rle,"},
      {{"-o", dir / "e.exr", "-d", "double"}, "--data-type: double not in {half,float,uint8,uint16}"},
  };
  for (const auto& [args, message] : refused) {
    std::vector<std::string> all{"render", "--passes", passes};
    all.insert(all.end(), args.begin(), args.end());
    r = run_quorlen(all, dir);
    EXPECT_EQ(r.code, 1) << message;
    EXPECT_TRUE(contains(r.err, "quorlen: error: ") && contains(r.err, message)) << r.err;
    EXPECT_FALSE(fs::exists(dir / "p2.png") || fs::exists(dir / "t.tif") || fs::exists(dir / "e.exr"));
  }
}

TEST(RealRenderer, OutputsKeepTheColourInputsHeaderAttributes) {
  TempDir dir;
  const std::string passes = dir / "shot.exr", normal = dir / "n.exr";
  // A colour pass as a renderer writes it: camera matrices, frame rate and its own metadata.
  OIIO::ImageSpec spec(2, 1, 4, OIIO::TypeFloat);
  spec.channelnames = {"R", "G", "B", "A"};
  const float matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 2, 3, 4, 1};
  spec.attribute("worldToCamera", OIIO::TypeMatrix44, matrix);
  spec.attribute("ImageDescription", "rendered in a test");
  spec.attribute("renderer/samples", 128);
  spec.attribute("compression", "piz");
  const std::vector<float> pixels{0.5f, 0.5f, 0.5f, 1, 0.5f, 0.5f, 0.5f, 1};
  auto out = OIIO::ImageOutput::create(passes);
  ASSERT_TRUE(out && out->open(passes, spec) && out->write_image(OIIO::TypeFloat, pixels.data()) &&
              out->close());
  write_image(normal, 2, 1, {pixels_layer({"R", "G", "B"}, {{0, 0, -1}, {0, 0, -1}})});

  for (const std::string name : {"o.exr", "o.tif"}) {
    const RunResult r = run_quorlen({"render", "--color", passes, "--normal", normal, "-o", dir / name}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    const ReadImage image = read_image(dir / name);
    EXPECT_EQ(std::string(image.spec.get_string_attribute("ImageDescription")), "rendered in a test") << name;
    if (name == "o.exr") {
      EXPECT_EQ(image.spec.get_int_attribute("renderer/samples"), 128);  // TIFF has no place for it
    }
    const OIIO::ParamValue* m = image.spec.find_attribute("worldToCamera");
    ASSERT_TRUE(m) << name;
    EXPECT_EQ(static_cast<const float*>(m->data())[12], 2.0f) << name;
    EXPECT_EQ(std::string(image.spec.get_string_attribute(name == "o.exr" ? "software" : "Software")),
              "quorlen")
        << name;
    EXPECT_EQ(image.spec.nchannels, 4) << name;
    if (name == "o.exr") {
      EXPECT_EQ(std::string(image.spec.get_string_attribute("compression")),
                "zip");  // its own, not the input's
    }
  }
}

// A 1 GiB address-space limit for the child, so reading what a damaged header claims would fail loudly.
// AddressSanitizer reserves terabytes of shadow memory and cannot start under such a limit; an ASan build
// still checks that the refusal is clean, without the limit.
#if defined(__SANITIZE_ADDRESS__)
const char* const kSmallAddressSpace = "";
#else
const char* const kSmallAddressSpace = "ulimit -v 1048576;";
#endif

// Rewrites the data window of a small EXR to claim `width` x 1 pixels, as a damaged file does.
void claim_width(const std::string& path, int width) {
  std::string bytes = slurp(path);
  const std::string key("dataWindow\0box2i\0", 17);
  const std::size_t at = bytes.find(key);
  ASSERT_NE(at, std::string::npos);
  const std::size_t box = at + key.size() + 4;  // after the attribute's size
  const std::int32_t values[4] = {0, 0, width - 1, 0};
  std::memcpy(&bytes[box], values, sizeof values);
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(RealRenderer, AHeaderDeclaringMorePixelsThanItsBytesHoldIsRefusedAtOnce) {
  TempDir dir;
  const std::string damaged = dir / "damaged.exr", out = dir / "out.exr";
  write_image(damaged, 4, 1,
              {pixels_layer({"R", "G", "B"}, {{0, 0, -1}, {0, 0, -1}, {0, 0, -1}, {0, 0, -1}})});
  claim_width(damaged, 83886081);
  ASSERT_LT(fs::file_size(damaged), 4096u);
  for (const char* option : {"--normal", "--passes"}) {
    // Under a 1 GiB address space: reading what the header claims would need gigabytes.
    const RunResult r = run_quorlen({"render", option, damaged, "-o", out}, dir, kSmallAddressSpace);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "quorlen: error: cannot read \"" + damaged +
                                    "\": damaged: its header declares 83886081 x 1 pixels"))
        << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(out));
  }
  const RunResult dry = run_quorlen({"render", "--normal", damaged, "-o", out, "--dry-run"}, dir);
  EXPECT_EQ(dry.code, 1) << dry.err;

  // DWA codes a flat half block in a few bits, so an absurd width is what gives such a file away.
  const std::string dwaa = dir / "dwaa.exr";
  OIIO::ImageSpec layout(4, 1, 3, OIIO::TypeHalf);
  layout.attribute("compression", "dwaa");
  const std::vector<float> zeros(12, 0.0f);
  auto file = OIIO::ImageOutput::create(dwaa);
  ASSERT_TRUE(file && file->open(dwaa, layout) && file->write_image(OIIO::TypeFloat, zeros.data()) &&
              file->close());
  claim_width(dwaa, 2000000);
  RunResult r = run_quorlen({"render", "--normal", dwaa, "-o", out, "--dry-run"}, dir, kSmallAddressSpace);
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.err, "quorlen: error: \"" + dwaa +
                       "\" claims 2000000x1 pixels, a width of more than 1048576 (--max-pixels / 256); raise "
                       "--max-pixels if the file is genuine\n");
  r = run_quorlen({"render", "--normal", dwaa, "-o", out, "--max-pixels", "1000000000", "--dry-run"}, dir);
  EXPECT_EQ(r.code, 0) << r.err;  // allowed once the limit is raised; the dry run reads no pixels
}

TEST(RealRenderer, NamesHoldingControlBytesArePrintedEscaped) {
  TempDir dir;
  const std::string passes = dir / "odd.exr", out = dir / "out.exr";
  write_image(passes, 1, 1,
              {pixels_layer({"R", "G", "B"}, {{1, 1, 1}}),
               pixels_layer({"view\f\r.N.X", "view\f\r.N.Y", "view\f\r.N.Z"}, {{0, 0, -1}}),
               pixels_layer({"P\x01.X", "P\x01.Y", "P\x01.Z"}, {{0, 0, 0}})});
  const auto is_clean = [](const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return (u < 0x20 && c != '\n') || u == 0x7f;
    });
  };
  RunResult r = run_quorlen({"render", "--passes", passes, "-o", out, "--dry-run"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(is_clean(r.out)) << r.out;
  EXPECT_TRUE(contains(r.out, "view\\x0c\\r.N (view\\x0c\\r.N.X,")) << r.out;
  r = run_quorlen({"render", "--passes", passes, "--P", passes + ":Q", "-o", out}, dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(is_clean(r.err)) << r.err;
  EXPECT_TRUE(contains(r.err, "P\\x01")) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

}  // namespace
