// What `quorlen` says when the command line itself is wrong: one line naming the option or value and what is
// accepted, a suggestion for near misses, and the README's exit code; and the command-line forms that work.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

struct MessageCase {
  std::vector<std::string> args;  // "@" is replaced by the test directory
  int code;
  std::string line;  // the whole of stderr after "quorlen: error: ", up to the hint in parentheses
};

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    write_image(dir / "n.exr", 2, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
    fs::create_directory(dir / "outdir");
    fs::create_directory(dir / "settings-dir");
  }
  std::string expand(const std::string& s) const { return expand_at(s, dir.path()); }

  TempDir dir;
  TempDir scratch;
};

TEST_F(Messages, EachRefusedCommandLineIsOneLineNamingTheProblem) {
  const MessageCase cases[] = {
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--threads", "-1"},
       1,
       "--threads: \"-1\" is not a whole number of 0 or more (0: all cores)"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--threads", "abc"},
       1,
       "--threads: \"abc\" is not a whole number of 0 or more (0: all cores)"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--threads", "99999999999"},
       1,
       "--threads: \"99999999999\" is too large (at most 2147483647)"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--max-pixels", "0"},
       1,
       "--max-pixels: \"0\" is not a whole number of 1 or more"},
      {{"demo", "--threads", "-2"}, 1, "--threads: \"-2\" is not a whole number of 0 or more (0: all cores)"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--threads"}, 1, "--threads needs a value (N)"},
      {{"render", "--normal", "@/n.exr", "-o", "@/outdir"},
       3,
       "cannot write \"@/outdir\": it is a directory"},
      {{"render", "--normal", "@/n.exr", "-o", "@/outdir", "--dry-run"},
       3,
       "cannot write \"@/outdir\": it is a directory"},
      // Found before any input is read: the missing input is not what is reported.
      {{"render", "--normal", "@/missing.exr", "-o", "@/outdir"},
       3,
       "cannot write \"@/outdir\": it is a directory"},
      {{"help", "rendr"},
       1,
       "help: unknown command \"rendr\" (did you mean \"render\"?); the commands are render, knobs, view, "
       "demo, farm, "
       "help"},
      {{"rendr"},
       1,
       "unknown command \"rendr\" (did you mean \"render\"?); the commands are render, knobs, view, demo, "
       "farm, help"},
      {{"knob", "--json"},
       1,
       "unknown command \"knob\" (did you mean \"knobs\"?); the commands are render, knobs, view, demo, "
       "farm, help"},
      {{}, 1, "no command given; the commands are render, knobs, view, demo, farm, help"},
      {{"view", "--normal", "@/n.exr", "--prot", "1"},
       1,
       "unknown option \"--prot\" for 'quorlen view' (did you mean \"--port\"?); run 'quorlen help view' for "
       "its "
       "options"},
      {{"view", "--normal", "@/n.exr", "--port", "70000"},
       1,
       "--port: \"70000\" is too large (at most 65535) (run 'quorlen help view' for its options)"},
      {{"render", "--colour", "foo", "-o", "@/o.exr"},
       1,
       "unknown option \"--colour\" for 'quorlen render' (did you mean \"--color\"?); run 'quorlen help "
       "render' for "
       "its options"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--fram", "1"},
       1,
       "unknown option \"--fram\" for 'quorlen render' (did you mean \"--frames\"?)"},
      {{"knobs", "--frame", "abc"}, 1, "--frame: \"abc\" is not a frame number (such as 1001 or 1001.5)"},
      {{"knobs", "--frame", "inf"}, 1, "--frame: \"inf\" is not a frame number"},
      {{"knobs", "--jsn"}, 1, "unknown option \"--jsn\" for 'quorlen knobs' (did you mean \"--json\"?)"},
      {{"--plugin-pth", "x", "knobs"},
       1,
       "unknown option \"--plugin-pth\" for 'quorlen knobs' (did you mean \"--plugin-path\"?)"},
      {{"--threads", "2", "render"},
       1,
       "option \"--threads\" belongs to a command and goes after it: quorlen render --threads ..."},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.exr", "--settings", "@/settings-dir"},
       1,
       "settings file \"@/settings-dir\" is a directory, not a JSON file"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.#.exr", "--frames", "1,,3"},
       1,
       "--frames \"1,,3\": an item between commas is empty"},
      {{"render", "--normal", "@/n.exr", "-o", "@/o.#.exr", "--frames", "1.5"},
       1,
       "--frames \"1.5\" is not a frame range"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(expand(a));
    const RunResult r = run_quorlen(args, scratch);
    const std::string label = testing::PrintToString(args);
    EXPECT_EQ(r.code, c.code) << label << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("quorlen: error: " + expand(c.line), 0), 0u)
        << label << ":\n  got      " << r.err << "  expected quorlen: error: " << expand(c.line);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << label << ": " << r.err;
    EXPECT_EQ(r.out, "") << label;
  }
  EXPECT_EQ(fs::exists(dir / "o.exr"), false);
}

TEST_F(Messages, HelpAndVersionAnswerInEveryForm) {
  RunResult r = run_quorlen({"help", "render"}, scratch);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "quorlen render")) << r.out;
  for (const char* word : {"--frames", "--skip-existing", "--threads"})
    EXPECT_TRUE(contains(r.out, word)) << word;
  EXPECT_EQ(r.out, run_quorlen({"render", "--help"}, scratch).out);

  r = run_quorlen({"help"}, scratch);
  EXPECT_EQ(r.code, 0) << r.err;
  for (const char* word : {"render", "knobs", "demo", "--verbose", "Exit codes"})
    EXPECT_TRUE(contains(r.out, word)) << word;
  EXPECT_EQ(r.out, run_quorlen({"--help"}, scratch).out);

  for (const char* flag : {"-V", "--version"}) {
    r = run_quorlen({flag}, scratch);
    EXPECT_EQ(r.code, 0) << flag;
    EXPECT_EQ(r.out.rfind("quorlen " QUORLEN_TEST_VERSION, 0), 0u) << flag << ": " << r.out;
  }
}

TEST_F(Messages, SetTakesSeveralAssignmentsAsItsHelpShows) {
  const RunResult table = run_quorlen({"knobs", "--set", "lightType=point", "surfaceNoise=on"}, scratch);
  ASSERT_EQ(table.code, 0) << table.err;
  std::istringstream lines(table.out);
  std::string line;
  int changed = 0;
  while (std::getline(lines, line)) {
    if (contains(line, " lightType ")) changed += contains(line, " point ");
    if (contains(line, " surfaceNoise ")) changed += contains(line, " on ");
  }
  EXPECT_EQ(changed, 2) << table.out;
}

TEST_F(Messages, MoreThreadsThanCoresIsOneWarningOfOursAndTheSamePicture) {
  const RunResult asked = run_quorlen({"render", "--normal", dir / "n.exr", "-o", dir / "many.exr",
                                       "--threads", "4096", "--set", "outputType=light"},
                                      scratch);
  ASSERT_EQ(asked.code, 0) << asked.err;
  EXPECT_TRUE(
      std::regex_match(asked.err, std::regex("quorlen: warning: --threads 4096 is more than the [0-9]+ "
                                             "cores? this process may use; using [0-9]+\n")))
      << asked.err;
  const RunResult one = run_quorlen({"render", "--normal", dir / "n.exr", "-o", dir / "one.exr", "--threads",
                                     "1", "--set", "outputType=light"},
                                    scratch);
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(one.err, "");
  EXPECT_EQ(read_image(dir / "many.exr").pixels, read_image(dir / "one.exr").pixels);
}

TEST_F(Messages, ATruncatedPluginModuleIsExit2AndTheSearchStopsThere) {
  // Cut to its first page, as an interrupted copy leaves it; dlopen would map pages past its end.
  fs::create_directory(dir / "plugins");
  std::ofstream(dir / "plugins/Quorlen.so", std::ios::binary) << slurp(QUORLEN_TEST_PLUGIN).substr(0, 4096);
  // The build tree's whole module comes later in the search, and is not used instead.
  const RunResult r = run_quorlen({"knobs", "--plugin-path", dir / "plugins"}, scratch);
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_EQ(
      r.err.rfind("quorlen: error: cannot load plug-in \"" + dir / "plugins/Quorlen.so\": truncated: ", 0),
      0u)
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(Messages, ATruncatedImageLibraryModuleIsAMessageNotACrash) {
  // The build tree keeps the image module one directory above the plug-in directory.
  const fs::path module = fs::path(QUORLEN_TEST_BUILD_PLUGIN_DIR).parent_path() / "quorlen_images.so";
  ASSERT_TRUE(fs::exists(module)) << module;
  std::ofstream(dir / "images.so", std::ios::binary) << slurp(module.string()).substr(0, 4096);
  const RunResult r = run_quorlen({"render", "--normal", dir / "n.exr", "-o", dir / "out.png"}, scratch,
                                  "QUORLEN_IMAGE_MODULE=" + dir / "images.so");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(r.err.rfind("quorlen: error: cannot write \"" +
                            dir / "out.png\": cannot load the image library module \"" +
                            dir / "images.so\": truncated: ",
                        0),
            0u)
      << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.png"));
}

}  // namespace
