// Command lines from cases.txt run with the built `quorlen`; every output must equal the one kept in
// expected/ pixel for pixel (bit for bit for float images). A difference means rendered pixels changed:
// if that was meant, regenerate with scripts/update-references.sh and look at the new images.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "support/HostingTestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace quorlen::hosting_test;

const fs::path kRoot = QUORLEN_REFERENCE_DIR;

struct Case {
  std::string name;
  std::vector<std::string> args;  // with {in} and {out} still in them
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> read_cases() {
  std::vector<Case> cases;
  std::ifstream in(kRoot / "cases.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    Case c;
    if (!(words >> c.name) || c.name[0] == '#') continue;
    for (std::string w; words >> w;) c.args.push_back(w);
    cases.push_back(std::move(c));
  }
  return cases;
}

std::string substitute(std::string s, const std::string& key, const std::string& value) {
  for (std::size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), value);
  return s;
}

/// Every pixel of `actual` equals `expected` in its bits; reports the first few that do not.
void expect_same_pixels(const fs::path& expected, const fs::path& actual) {
  ASSERT_TRUE(fs::exists(actual)) << actual << " was not written";
  const ReadImage want = read_image(expected);
  const ReadImage got = read_image(actual);
  ASSERT_EQ(got.spec.width, want.spec.width) << actual;
  ASSERT_EQ(got.spec.height, want.spec.height) << actual;
  ASSERT_EQ(got.spec.nchannels, want.spec.nchannels) << actual;
  ASSERT_EQ(got.spec.format, want.spec.format) << actual;
  int differing = 0;
  for (std::size_t i = 0; i < want.pixels.size(); ++i) {
    if (std::memcmp(&want.pixels[i], &got.pixels[i], sizeof(float)) == 0) continue;
    if (++differing <= 5) {
      const std::size_t pixel = i / static_cast<std::size_t>(want.spec.nchannels);
      ADD_FAILURE() << actual.filename() << ": pixel (" << pixel % want.spec.width << ", "
                    << pixel / want.spec.width << ") channel " << i % want.spec.nchannels << " is "
                    << got.pixels[i] << ", expected " << want.pixels[i];
    }
  }
  EXPECT_EQ(differing, 0) << actual.filename() << ": values that differ from " << expected;
}

class ReferenceImages : public ::testing::TestWithParam<Case> {};

TEST_P(ReferenceImages, OutputEqualsTheKeptReference) {
  const Case& c = GetParam();
  TempDir scratch;
  const fs::path out = scratch / c.name;
  std::vector<std::string> args;
  for (const auto& a : c.args)
    args.push_back(substitute(substitute(a, "{in}", (kRoot / "inputs").string()), "{out}", out.string()));
  const RunResult r = run_quorlen(args, scratch);
  ASSERT_EQ(r.code, 0) << r.err;

  const fs::path expected = kRoot / "expected" / c.name;
  if (fs::is_directory(expected)) {
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(expected)) {
      expect_same_pixels(entry.path(), out / entry.path().filename());
      ++compared;
    }
    EXPECT_GT(compared, 0) << expected << " holds no reference";
  } else {
    expect_same_pixels(expected, out);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReferenceImages, ::testing::ValuesIn(read_cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// A table that lost its lines (a bad edit, a wrong path) would make the suite above pass by running nothing.
TEST(ReferenceCases, EveryCaseHasAReferenceAndEveryReferenceACase) {
  const std::vector<Case> cases = read_cases();
  EXPECT_GE(cases.size(), 9u);
  std::set<std::string> listed;
  for (const auto& c : cases) {
    listed.insert(c.name);
    EXPECT_TRUE(fs::exists(kRoot / "expected" / c.name)) << c.name << " has no reference";
  }
  for (const auto& entry : fs::directory_iterator(kRoot / "expected"))
    EXPECT_TRUE(listed.count(entry.path().filename().string())) << entry.path() << " belongs to no case";
}

}  // namespace
