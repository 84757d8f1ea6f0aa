// The faults fuzzing found in the command-line host, checked for the behaviour that replaced them (the
// replay tests only show that the inputs no longer crash).
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/node.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "hosting/frames/frame_pattern.h"
#include "hosting/node/knob_settings.h"

namespace {

using namespace quorlen::hosting;

// A "%0<digits>d" whose width does not fit an int is no pattern at all: it stays in the path as written.
TEST(FoundFaults, PrintfWidthTooLongForAnIntIsNoPattern) {
  struct Case {
    std::string path;
    bool pattern;
    std::string frame_7;
  };
  const Case cases[] = {
      {"out.%032d.exr", true, "out." + std::string(31, '0') + "7.exr"},
      {"out.%033d.exr", false, "out.%033d.exr"},
      {"out.%02147483648d.exr", false, "out.%02147483648d.exr"},
      {"r.#%06888888888888888888888888888888888888888888888d", true,
       "r.7%06888888888888888888888888888888888888888888888d"},
      {"out.%099999999999999999999d.%d", true, "out.%099999999999999999999d.7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(has_frame_pattern(c.path), c.pattern) << c.path;
    EXPECT_EQ(substitute_frame(c.path, 7), c.frame_7) << c.path;
  }
}

// A number beyond the double range is a usage error naming the file and the number, like any other bad JSON.
TEST(FoundFaults, SettingsNumberBeyondDoubleIsAUsageError) {
  const std::string path = "/tmp/quorlen-found-faults-" + std::to_string(::getpid()) + ".json";
  for (const std::string text :
       {"{\"noiseFrequency\": 1e400}", "[22221112e2221111111111222{22\"", "-1e309"}) {
    std::ofstream(path, std::ios::trunc) << text;
    try {
      (void)read_settings_file(path);
      ADD_FAILURE() << text << " was read";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage) << text;
      const std::string message = e.what();
      EXPECT_EQ(message.find("settings file \"" + path + "\" is not valid JSON: number overflow parsing '"),
                0u)
          << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
  std::remove(path.c_str());
}

// A knob value nested far deeper than any knob accepts is refused with its kind shown, where writing it out
// for the message used to recurse once per level and overflow the stack.
TEST(FoundFaults, DeeplyNestedKnobValueIsAUsageErrorNotAStackOverflow) {
  auto node = std::make_unique<Node>(load_module(QUORLEN_TEST_PLUGIN));
  const std::string path = "/tmp/quorlen-found-faults-deep-" + std::to_string(::getpid()) + ".json";
  struct Case {
    int depth;
    std::string shown;
  };
  const Case cases[] = {
      {2, "[[]]"}, {32, std::string(32, '[') + std::string(32, ']')}, {33, "[...]"}, {100000, "[...]"}};
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::trunc)
        << "{\"_lightColor\": " << std::string(c.depth, '[') << std::string(c.depth, ']') << "}";
    NodeSettings settings;
    settings.settings_file = path;
    try {
      apply_settings(node->op(), settings);
      ADD_FAILURE() << c.depth << " deep was taken";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage) << c.depth;
      const std::string start =
          "settings file \"" + path + "\": knob \"_lightColor\": " + c.shown + " is not ";
      EXPECT_EQ(std::string(e.what()).find(start), 0u) << e.what();
    }
  }
  std::remove(path.c_str());
}

}  // namespace
