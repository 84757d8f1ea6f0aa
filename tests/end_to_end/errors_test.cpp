// Every way `quorlen` can fail: one line on stderr naming the problem, the documented exit code, and no
// output file (nor a temporary one) left behind.
#include <gtest/gtest.h>

#include <fstream>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

struct ErrorCase {
  const char* name;
  std::vector<std::string> args;  // "@" is replaced by the test directory
  int code;
  std::string message;  // expected on stderr, after "quorlen: error: "; "@" as above
  std::string env = "";
};

class Errors : public ::testing::Test {
 protected:
  void SetUp() override {
    write_image(dir / "color.exr", 4, 4, {constant_layer({"R", "G", "B"}, {1, 1, 1}, 4, 4)});
    write_image(dir / "passes.exr", 4, 4,
                {constant_layer({"N.X", "N.Y", "N.Z"}, {0, 0, -1}, 4, 4),
                 constant_layer({"depth.Z"}, {3}, 4, 4), constant_layer({"uv.U", "uv.V"}, {0, 1}, 4, 4)});
    write_image(dir / "big.exr", 64, 64, {constant_layer({"R", "G", "B"}, {0.1f, 0.2f, 0.3f}, 64, 64)});
    // A real file cut short.
    const std::string big = slurp(dir / "big.exr");
    std::ofstream(dir / "truncated.exr", std::ios::binary) << big.substr(0, big.size() / 2);
    std::ofstream(dir / "garbage.exr") << "this is not an image\n";
    std::ofstream(dir / "bad.json") << "{\"lightType\": }";
    std::ofstream(dir / "list.json") << "[1, 2]";
    std::ofstream(dir / "unknown.json") << R"({"lightType": "point", "nope": 1})";
    std::ofstream(dir / "a_file") << "x";
    // Its bytes do not matter: the module that would read it fails to load first.
    std::ofstream(dir / "preview.png") << "\x89PNG\r\n\x1a\n";
    fs::create_directory(dir / "outdir.exr");
    fs::create_directory(dir / "plugins-garbage");
    std::ofstream(dir / "plugins-garbage/Quorlen.so") << "not a module";
    fs::create_directory(dir / "plugins-foreign");
    fs::copy_file(QUORLEN_TEST_FOREIGN_MODULE, dir / "plugins-foreign/Quorlen.so");
    before = dir.files();
  }

  std::string expand(const std::string& s) const { return expand_at(s, dir.path()); }

  TempDir dir;
  TempDir scratch;
  std::vector<std::string> before;
};

TEST_F(Errors, EachFailureIsOneLineWithItsExitCodeAndLeavesNoFile) {
  const std::string ok_in[] = {"render", "--color", "@/color.exr", "--normal", "@/passes.exr:N"};
  const auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args(std::begin(ok_in), std::end(ok_in));
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const ErrorCase cases[] = {
      {"missing file",
       {"render", "--normal", "@/nope.exr", "-o", "@/out.exr"},
       1,
       "no such file: \"@/nope.exr\""},
      {"missing file with layer",
       {"render", "--normal", "@/nope.exr:N", "-o", "@/out.exr"},
       1,
       "no such file: \"@/nope.exr\" (for layer \"N\")"},
      {"truncated file",
       {"render", "--normal", "@/truncated.exr", "-o", "@/out.exr"},
       1,
       "cannot read \"@/truncated.exr\": "},
      {"not an image",
       {"render", "--normal", "@/garbage.exr", "-o", "@/out.exr"},
       1,
       "cannot read \"@/garbage.exr\": "},
      {"directory as input", {"render", "--normal", "@", "-o", "@/out.exr"}, 1, "is a directory"},
      {"missing layer",
       {"render", "--normal", "@/passes.exr:Normal", "-o", "@/out.exr"},
       1,
       "\"@/passes.exr\" has no layer \"Normal\" (layers: N, depth, uv)"},
      {"no plain channels",
       {"render", "--normal", "@/passes.exr", "-o", "@/out.exr"},
       1,
       "\"@/passes.exr\" has no plain R, G, B channels; name a layer as FILE:LAYER (layers: N, depth, uv)"},
      {"one channel",
       {"render", "--normal", "@/passes.exr:depth", "-o", "@/out.exr"},
       1,
       "layer depth of \"@/passes.exr\" has 1 channel (depth.Z); three are needed"},
      {"two channels",
       {"render", "--normal", "@/passes.exr:uv", "-o", "@/out.exr"},
       1,
       "layer uv of \"@/passes.exr\" has 2 channels (uv.U, uv.V); three are needed"},
      {"no normal", {"render", "--color", "@/color.exr", "-o", "@/out.exr"}, 1, "no normal input"},
      {"passes without normal",
       {"render", "--passes", "@/color.exr", "-o", "@/out.exr"},
       1,
       "\"@/color.exr\" has no normal layer"},
      {"unknown knob", with({"-o", "@/out.exr", "--set", "lightTyp=point"}), 1,
       "--set lightTyp=point: no knob named \"lightTyp\" (did you mean \"lightType\"?)"},
      {"bad enumeration", with({"-o", "@/out.exr", "--set", "lightType=sideways"}), 1,
       "--set lightType=sideways: knob \"lightType\": \"sideways\" is not one of parallel, point"},
      {"bad number", with({"-o", "@/out.exr", "--set", "lightBrightness=bright"}), 1,
       "--set lightBrightness=bright: knob \"lightBrightness\": \"bright\" is not a number"},
      {"bad vector", with({"-o", "@/out.exr", "--set", "_lightColor=1,2"}), 1,
       "knob \"_lightColor\": \"1,2\" is not"},
      {"set without value", with({"-o", "@/out.exr", "--set", "lightType"}), 1,
       "--set \"lightType\" is not NAME=VALUE"},
      {"settings not JSON", with({"-o", "@/out.exr", "--settings", "@/bad.json"}), 1,
       "settings file \"@/bad.json\" is not valid JSON: parse error at line 1"},
      {"settings not an object", with({"-o", "@/out.exr", "--settings", "@/list.json"}), 1,
       "settings file \"@/list.json\" must hold a JSON object"},
      {"settings unknown knob", with({"-o", "@/out.exr", "--settings", "@/unknown.json"}), 1,
       "settings file \"@/unknown.json\": no knob named \"nope\""},
      {"settings missing", with({"-o", "@/out.exr", "--settings", "@/none.json"}), 1,
       "cannot read settings file \"@/none.json\""},
      {"output directory missing", with({"-o", "@/no/such/dir/out.exr"}), 3,
       "cannot write \"@/no/such/dir/out.exr\": directory \"@/no/such/dir\" does not exist"},
      {"output under a file", with({"-o", "@/a_file/out.exr"}), 3, "\"@/a_file\" is not a directory"},
      {"output is a directory", with({"-o", "@/outdir.exr"}), 3,
       "cannot write \"@/outdir.exr\": it is a directory"},
      {"output a directory without extension", with({"-o", "@/plugins-garbage"}), 3,
       "cannot write \"@/plugins-garbage\": it is a directory"},
      {"unknown output format", with({"-o", "@/out.nosuchformat"}), 1,
       "no image format is known for its extension"},
      {"frames without pattern", with({"-o", "@/out.exr", "--frames", "1-2"}), 1, "has no frame pattern"},
      {"pattern without frames", with({"-o", "@/out.####.exr"}), 1, "holds a frame pattern"},
      {"bad frames", with({"-o", "@/out.#.exr", "--frames", "3-1"}), 1, "the last frame is before the first"},
      {"unknown option", with({"-o", "@/out.exr", "--bogus"}), 1, "--bogus"},
      {"missing output", with({}), 1, "--output is required"},
      {"no command", {}, 1, "no command given"},
      {"plug-in path missing", with({"-o", "@/out.exr", "--plugin-path", "@/nowhere"}), 2,
       "--plugin-path \"@/nowhere\" does not exist"},
      {"plug-in not a module", with({"-o", "@/out.exr", "--plugin-path", "@/plugins-garbage"}), 2,
       "cannot load plug-in \"@/plugins-garbage/Quorlen.so\": "},
      {"plug-in from the environment", with({"-o", "@/out.exr"}), 2,
       "cannot load plug-in \"@/plugins-garbage/Quorlen.so\"", "QUORLEN_PLUGIN_PATH=@/plugins-garbage"},
      {"plug-in of another layer version", with({"-o", "@/out.exr", "--plugin-path", "@/plugins-foreign"}), 2,
       "plug-in \"@/plugins-foreign/Quorlen.so\" registered no \"Quorlen\" operator: class \"ForeignAbi\" "
       "was built for host layer version"},
      {"image module missing, PNG output", with({"-o", "@/out.png"}), 1,
       "cannot write \"@/out.png\": the image library module was not found (looked for @/no-module.so)",
       "QUORLEN_IMAGE_MODULE=@/no-module.so"},
      {"image module not a module, PNG input",
       {"render", "--normal", "@/preview.png", "-o", "@/out.exr"},
       1,
       "cannot read \"@/preview.png\": cannot load the image library module \"@/plugins-garbage/Quorlen.so\"",
       "QUORLEN_IMAGE_MODULE=@/plugins-garbage/Quorlen.so"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(expand(a));
    const RunResult r = run_quorlen(args, scratch, expand(c.env));
    EXPECT_EQ(r.code, c.code) << c.name << "\n" << r.err;
    const std::string prefix = "quorlen: error: ";
    EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << c.name << ": " << r.err;
    EXPECT_TRUE(contains(r.err, expand(c.message)))
        << c.name << ":\n  got      " << r.err << "  expected " << expand(c.message);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(dir.files(), before) << c.name << ": a file was left behind";
  }
}

TEST_F(Errors, EXRWorkNeedsNoImageLibraryModule) {
  const RunResult r = run_quorlen(
      {"render", "--color", dir / "color.exr", "--normal", dir / "passes.exr:N", "-o", dir / "out.exr"},
      scratch, "QUORLEN_IMAGE_MODULE=" + dir / "no-module.so");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "out.exr"));
}

TEST_F(Errors, AFailedFrameKeepsTheFramesBeforeItAndLeavesNothingOfItsOwn) {
  for (int f : {1, 2})
    write_image(dir / ("n." + std::to_string(f) + ".exr"), 2, 2,
                {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
  const RunResult r = run_quorlen(
      {"render", "--normal", dir / "n.#.exr", "-o", dir / "out.#.exr", "--frames", "1-4"}, scratch);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(contains(r.err, "no such file: \"" + dir / "n.3.exr\"")) << r.err;
  EXPECT_TRUE(fs::exists(dir / "out.1.exr"));
  EXPECT_TRUE(fs::exists(dir / "out.2.exr"));
  for (const auto& name : dir.files()) {
    EXPECT_NE(name, "out.3.exr");
    EXPECT_FALSE(contains(name, "quorlen-tmp")) << name;
  }
}

}  // namespace
