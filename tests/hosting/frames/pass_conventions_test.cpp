// The words for the light space and the normal encoding are the same in every front end: any case, and a
// near miss answered with the word it most likely meant.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/inputs.h>

#include <string>

namespace quorlen::hosting {
namespace {

std::string refusal(std::string_view word) {
  try {
    light_space_named(word, "--light-space");
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::usage);
    return e.what();
  }
  ADD_FAILURE() << "accepted \"" << word << "\"";
  return "";
}

TEST(PassConventions, WordsAreTakenInAnyCaseAndGivenBackInTheirOwn) {
  for (const char* w : {"world", "World", "WORLD"}) EXPECT_EQ(light_space_named(w), LightSpace::world) << w;
  EXPECT_EQ(light_space_named("Node"), LightSpace::node);
  EXPECT_EQ(normal_encoding_named("Unsigned"), NormalEncoding::unsigned_values);
  EXPECT_EQ(normal_encoding_named("signed"), NormalEncoding::signed_values);
  EXPECT_EQ(word_of(LightSpace::world), "world");
  EXPECT_EQ(word_of(NormalEncoding::unsigned_values), "unsigned");
  for (auto w : kLightSpaceWords) EXPECT_EQ(word_of(light_space_named(w)), w);
  for (auto w : kNormalEncodingWords) EXPECT_EQ(word_of(normal_encoding_named(w)), w);
}

TEST(PassConventions, OtherWordsAreRefusedNamingTheOptionTheWordsAndTheNearMiss) {
  EXPECT_EQ(refusal("wrold"), "--light-space: \"wrold\" is not node or world (did you mean \"world\"?)");
  EXPECT_EQ(refusal("camera"), "--light-space: \"camera\" is not node or world");
  // Equally near two words ("usigned": one edit from each): no guess.
  try {
    normal_encoding_named("usigned");
    ADD_FAILURE() << "accepted \"usigned\"";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "normal encoding: \"usigned\" is not signed or unsigned");
  }
  // A prefix of a word is not the word.
  EXPECT_NE(refusal("w").find("is not node or world"), std::string::npos);
  EXPECT_NE(refusal("").find("is not node or world"), std::string::npos);
  // Control bytes in a word are shown escaped, so the message stays one line.
  EXPECT_EQ(refusal("wor\nld").find('\n'), std::string::npos);
  try {
    normal_encoding_named("unsignd", "normal_encoding");
    FAIL() << "accepted a misspelling";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "normal_encoding: \"unsignd\" is not signed or unsigned (did you mean \"unsigned\"?)");
  }
}

TEST(PassConventions, InputSlotsByTheirLabels) {
  for (int slot = 0; slot < kInputCount; ++slot)
    EXPECT_EQ(input_slot_named(kInputLabels[static_cast<std::size_t>(slot)]), slot);
  EXPECT_EQ(input_slot_named("Color"), -1);  // labels are exact, as the operator names its inputs
  EXPECT_EQ(input_slot_named("depth"), -1);
}

}  // namespace
}  // namespace quorlen::hosting
