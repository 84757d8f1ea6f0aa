// Frame lists cut into chunks by index, as farm array tasks take them, and frames in their short form.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>

#include <climits>
#include <string>

namespace {

using namespace quorlen::hosting;

std::vector<std::vector<int>> all_chunks(std::string_view list, int size) {
  const FrameList frames = parse_frame_list(list);
  std::vector<std::vector<int>> chunks;
  for (int i = 0; i < chunk_count(frames, size); ++i) chunks.push_back(frame_chunk(frames, size, i).frames());
  return chunks;
}

std::string error_of(std::string_view list, int size, int index) {
  try {
    frame_chunk(parse_frame_list(list), size, index);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::usage);
    return e.what();
  }
  ADD_FAILURE() << "chunk " << index << " of " << list << " in " << size << "s was accepted";
  return {};
}

TEST(FrameChunks, CutTheListInItsOwnOrderWithAShorterLastChunk) {
  using Chunks = std::vector<std::vector<int>>;
  EXPECT_EQ(all_chunks("1,3,5-9x2", 2), (Chunks{{1, 3}, {5, 7}, {9}}));
  EXPECT_EQ(all_chunks("1001-1100", 10).size(), 10u);
  EXPECT_EQ(all_chunks("1001-1100", 10)[9],
            (std::vector<int>{1091, 1092, 1093, 1094, 1095, 1096, 1097, 1098, 1099, 1100}));
  // The list's order and its duplicates dropped, as a whole run would render it.
  EXPECT_EQ(all_chunks("10,2,5-6,2", 2), (Chunks{{10, 2}, {5, 6}}));
  EXPECT_EQ(all_chunks("-2-2", 4), (Chunks{{-2, -1, 0, 1}, {2}}));
  EXPECT_EQ(all_chunks("7", 100), (Chunks{{7}}));
}

TEST(FrameChunks, RefuseAnIndexPastTheEndAndSizesBelowOne) {
  EXPECT_EQ(error_of("1,3,5-9x2", 2, 3),
            "--chunk-index 3: the 5 frames in chunks of 2 make 3 chunks (0 to 2)");
  EXPECT_EQ(error_of("1", 1, 1), "--chunk-index 1: the 1 frame in chunks of 1 makes 1 chunk (0 to 0)");
  EXPECT_NE(error_of("1-10", 5, -1).find("--chunk-index -1"), std::string::npos);
  EXPECT_NE(error_of("1-10", 0, 0).find("--chunk-size 0"), std::string::npos);
  // A size near the limit of int does not overflow the arithmetic.
  EXPECT_EQ(chunk_count(parse_frame_list("1-10"), INT_MAX), 1);
  EXPECT_NE(error_of("1-10", INT_MAX, 1).find("make 1 chunk"), std::string::npos);
}

TEST(FrameChunks, DescribeRunsOfConsecutiveFrames) {
  EXPECT_EQ(describe_frames({1001, 1002, 1003, 1010, 1012, 1013}), "1001-1003,1010,1012-1013");
  EXPECT_EQ(describe_frames({5, 4, 3}), "5,4,3");
  EXPECT_EQ(describe_frames({}), "");
  EXPECT_EQ(describe_frames({INT_MAX - 1, INT_MAX}),
            std::to_string(INT_MAX - 1) + "-" + std::to_string(INT_MAX));
}

}  // namespace
