/// \file frame_chunks.cpp  A frame list cut into chunks for farm tasks, and frames in a short form.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>

#include <algorithm>

namespace quorlen::hosting {

int chunk_count(const FrameList& list, int chunk_size) {
  if (chunk_size < 1)
    throw usage_error(fmt::format("--chunk-size {}: a chunk holds at least 1 frame", chunk_size));
  const auto frames = static_cast<long long>(list.numbers.size());
  return static_cast<int>((frames + chunk_size - 1) / chunk_size);
}

FrameList frame_chunk(const FrameList& list, int chunk_size, int index) {
  const int count = chunk_count(list, chunk_size);
  if (index < 0 || index >= count)
    throw usage_error(
        fmt::format("--chunk-index {}: the {} frame{} in chunks of {} make{} {} chunk{} (0 to {})", index,
                    list.numbers.size(), list.numbers.size() == 1 ? "" : "s", chunk_size,
                    list.numbers.size() == 1 ? "s" : "", count, count == 1 ? "" : "s", count - 1));
  const auto first = static_cast<std::size_t>(index) * static_cast<std::size_t>(chunk_size);
  const std::size_t last = std::min(list.numbers.size(), first + static_cast<std::size_t>(chunk_size));
  FrameList chunk;
  chunk.numbers.assign(list.numbers.begin() + static_cast<std::ptrdiff_t>(first),
                       list.numbers.begin() + static_cast<std::ptrdiff_t>(last));
  return chunk;
}

std::string describe_frames(const std::vector<int>& frames) {
  std::string text;
  for (std::size_t i = 0; i < frames.size();) {
    std::size_t j = i;
    while (j + 1 < frames.size() && static_cast<long long>(frames[j + 1]) == frames[j] + 1LL) ++j;
    if (!text.empty()) text += ',';
    text += j == i ? fmt::format("{}", frames[i]) : fmt::format("{}-{}", frames[i], frames[j]);
    i = j + 1;
  }
  return text;
}

}  // namespace quorlen::hosting
