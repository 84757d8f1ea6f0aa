/// \file session.h  A node with its inputs decoded once and kept in memory, rendered again after every
/// change: what an interactive front end or a script works with.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "DDImageHost/ImageBuffer.h"
#include "hosting/frames/frame_inputs.h"
#include "hosting/frames/region_renderer.h"
#include "hosting/node/node.h"

namespace quorlen::hosting {

/// A node and one frame's inputs, kept decoded. Knob changes do not touch the inputs, so a region renders
/// again without reading any file. Not for use from two threads at once: a front end that renders and
/// edits from several threads serialises the calls.
class Session {
 public:
  /// A node of the class `description`, with no inputs yet.
  explicit Session(const DD::Image::Op::Description& description);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Node& node() { return node_; }

  /// Reads every connected input whole, by the rules of a render (the output takes the colour input's
  /// windows, or the normal input's; other inputs are read where they overlap and are zero elsewhere), and
  /// keeps them instead of the inputs held so far. Size differences are added to `warnings`. Throws a
  /// usage error when an input cannot be read; the inputs held so far stay then.
  void read_inputs(const FrameSources& sources, std::vector<std::string>& warnings);

  /// Keeps images already in memory: each covers `geometry.data` and holds at least red, green and blue
  /// (more channels are ignored); null leaves the input unconnected (a missing colour reads as black).
  /// Throws a usage error when there is no normal image or an image's box is not the data window.
  void set_inputs(const ImageGeometry& geometry,
                  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images);

  /// Lets go of the inputs held, so images owned elsewhere (views) may go away.
  void clear_inputs() { inputs_ = BandInputs{}; }

  bool has_inputs() const { return inputs_.images[kNormal] != nullptr; }
  /// The output's data and display windows.
  const ImageGeometry& geometry() const { return geometry_; }
  /// Input `slot` as kept (red, green, blue over the data window), or null when unconnected.
  std::shared_ptr<const DD::Image::ImageBuffer> input(int slot) const {
    return inputs_.images[static_cast<std::size_t>(slot)];
  }

  /// Renders red, green, blue and alpha of `region`, clipped to the data window, with `threads` workers
  /// (0: all cores). The pixels equal those of a streamed render of the same frame. Throws a usage error
  /// when no inputs are held.
  DD::Image::ImageBuffer render(const DD::Image::Box& region, int threads = 0);
  /// Renders the whole data window.
  DD::Image::ImageBuffer render(int threads = 0) { return render(geometry_.data, threads); }

 private:
  Node node_;
  ImageGeometry geometry_;
  BandInputs inputs_;
};

}  // namespace quorlen::hosting
