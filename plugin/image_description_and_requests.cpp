/// \file image_description_and_requests.cpp  The output description and the requests passed to the inputs.
#include "plugin/Quorlen.h"

namespace quorlen {

// Only "color" and "normal" shape the output; "P" and "noiseP" are read where they overlap it.
void Quorlen::validate_output(bool) {
  copy_info();
  merge_info(1);
  params_.formatWidth = info().format().width();
}

void Quorlen::request_inputs(int x, int y, int r, int t, const DD::Image::ChannelSet& channels, int count) {
  for (int index = 0; index < 4; ++index) input(index)->request(x, y, r, t, channels, count);
}

void Quorlen::adjust_input_request(int, DD::Image::InputRequest&) {}

}  // namespace quorlen
