/// \file session.h  A node with its inputs decoded once and kept in memory, rendered again after every
/// change: what an interactive front end or a script works with.
#pragma once

#include <quorlen/inputs.h>
#include <quorlen/node.h>
#include <quorlen/render.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DDImageHost/ImageBuffer.h"

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
  /// windows, or the normal input's; other inputs are read where they overlap and are zero elsewhere; the
  /// normals in `sources`' spaces and flips, camera space with the P file's camera), and keeps them instead
  /// of the inputs held so far. Size differences are added to `warnings`. Throws a usage or input error
  /// when an input cannot be read or no camera fits P; the inputs held so far stay then.
  void read_inputs(const FrameSources& sources, std::vector<std::string>& warnings);

  /// Keeps images already in memory: each covers `geometry.data` and holds at least red, green and blue
  /// (more channels are ignored); null leaves the input unconnected (a missing colour reads as black).
  /// Throws a usage error when there is no normal image or an image's box is not the data window.
  void set_inputs(const ImageGeometry& geometry,
                  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images);
  /// The same, the normal image read as a file's would be with `reading`: converted in a copy when it is
  /// not the node's own, so the caller's pixels are never written. Camera-space normals are turned with
  /// the camera fitted to the P image (arrays have no header); throws a usage error without a P image and
  /// an input error when no camera fits it, as a render does.
  void set_inputs(const ImageGeometry& geometry,
                  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images,
                  const PassReading& reading);
  /// The same in `space` and `encoding`, world-space normals and no flip.
  void set_inputs(const ImageGeometry& geometry,
                  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images,
                  LightSpace space, NormalEncoding encoding) {
    set_inputs(geometry, std::move(images), PassReading{space, encoding});
  }

  /// Lets go of the inputs held, so images owned elsewhere (views) may go away.
  void clear_inputs() {
    images_ = {};
    alpha_.reset();
  }

  bool has_inputs() const { return images_[kNormal] != nullptr; }
  /// The output's data and display windows.
  const ImageGeometry& geometry() const { return geometry_; }
  /// Input `slot` as kept (red, green, blue over the data window), or null when unconnected.
  std::shared_ptr<const DD::Image::ImageBuffer> input(int slot) const {
    return images_[static_cast<std::size_t>(slot)];
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
  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images_;
  std::shared_ptr<const DD::Image::ImageBuffer> alpha_;  // the colour input's, when read for the output
};

/// Paths a front end on a session will write: refused up front when they would overwrite what the session
/// is made from.
struct SessionTargets {
  std::optional<std::string> image;     ///< a rendered frame; its format must be known
  std::optional<std::string> settings;  ///< a settings file; it may be the one the session read
};

/// A session for `request`'s first frame: its settings applied, its inputs resolved (explicit options, then
/// --passes) and read, `targets` checked. Size differences are added to `warnings`. Throws a usage or input
/// error.
std::unique_ptr<Session> open_session(const RenderRequest& request,
                                      const DD::Image::Op::Description& description,
                                      const SessionTargets& targets, std::vector<std::string>& warnings);

}  // namespace quorlen::hosting
