// The FILE:LAYER rule, with paths that themselves hold colons.
#include "hosting/images/input_spec.h"

#include <gtest/gtest.h>
#include <quorlen/errors.h>

#include <set>

namespace {

using namespace quorlen::hosting;

struct SpecCase {
  const char* text;
  const char* file;
  const char* layer;  // null: no layer
};

TEST(InputSpec, SplitsAtTheLastColonOnlyWhenTheRestIsNotPartOfAnExistingFile) {
  const std::set<std::string> existing = {"passes.exr", "C:\\renders\\passes.exr", "dir:with:colons/n.exr",
                                          "odd.exr:N", "odd.exr"};
  const auto exists = [&](const std::string& p) { return existing.count(p) > 0; };
  const SpecCase cases[] = {
      {"passes.exr", "passes.exr", nullptr},
      {"passes.exr:N", "passes.exr", "N"},
      {"passes.exr:ViewLayer.Normal", "passes.exr", "ViewLayer.Normal"},
      {"passes.exr:", "passes.exr", nullptr},
      {"C:\\renders\\passes.exr", "C:\\renders\\passes.exr", nullptr},
      {"C:\\renders\\passes.exr:P", "C:\\renders\\passes.exr", "P"},
      {"dir:with:colons/n.exr", "dir:with:colons/n.exr", nullptr},
      {"dir:with:colons/n.exr:N", "dir:with:colons/n.exr", "N"},
      // A file whose name ends like a layer wins over the split.
      {"odd.exr:N", "odd.exr:N", nullptr},
      {"odd.exr:P", "odd.exr", "P"},
  };
  for (const auto& c : cases) {
    const InputSpec spec = parse_input_spec(c.text, exists);
    EXPECT_EQ(spec.file, c.file) << c.text;
    EXPECT_EQ(spec.layer.has_value(), c.layer != nullptr) << c.text;
    if (c.layer && spec.layer) {
      EXPECT_EQ(*spec.layer, c.layer) << c.text;
    }
  }
}

TEST(InputSpec, MissingFilesAreUsageErrorsNamingTheFilePart) {
  const auto exists = [](const std::string& p) { return p == "there.exr"; };
  const std::pair<const char*, const char*> cases[] = {
      {"gone.exr", "no such file: \"gone.exr\""},
      {"gone.exr:N", "no such file: \"gone.exr\" (for layer \"N\")"},
      {"a:b/gone.exr", "no such file: \"a:b/gone.exr\""},
      {"", "empty path"},
  };
  for (const auto& [text, message] : cases) {
    try {
      parse_input_spec(text, exists);
      ADD_FAILURE() << "accepted \"" << text << "\"";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage);
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

}  // namespace
