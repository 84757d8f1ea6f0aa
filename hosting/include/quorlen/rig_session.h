/// \file rig_session.h  A rig on pixels held in memory: one node a light over the same inputs, rendered
/// into each light's layer and the beauty exactly as `quorlen render` renders the rig's file.
#pragma once

#include <quorlen/inputs.h>
#include <quorlen/node.h>
#include <quorlen/render.h>
#include <quorlen/rig.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

struct FrameCamera;

class RigSession {
 public:
  /// The rig's lights as nodes (a rig without lights is one light named ""), keyframed values evaluated at
  /// `frame`. Throws a usage error.
  RigSession(const DD::Image::Op::Description& description, RigFile rig, double frame = 0);
  ~RigSession();
  RigSession(const RigSession&) = delete;
  RigSession& operator=(const RigSession&) = delete;

  const RigFile& rig() const { return rig_; }
  /// The lights' names in the file's order.
  std::vector<std::string> lights() const;
  /// Light `name`'s node; throws a usage error naming the lights (and the nearest) for another name.
  Node& light(std::string_view name);

  /// The inputs, as Session::set_inputs takes them (the normal image read with `reading`; a front end
  /// honouring the file's choices passes pass_reading(rig(), its own)).
  void set_inputs(const ImageGeometry& geometry,
                  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images,
                  const PassReading& reading);
  /// The same in `space` and `encoding`, world-space normals and no flip.
  void set_inputs(const ImageGeometry& geometry,
                  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images,
                  LightSpace space, NormalEncoding encoding) {
    set_inputs(geometry, std::move(images), PassReading{space, encoding});
  }
  /// Light `name`'s mask over the data window (its red channel), instead of the file's; null returns to
  /// the file's. Throws a usage error for a light without a mask in the file when `image` is null.
  void set_mask(std::string_view name, std::shared_ptr<const DD::Image::ImageBuffer> image);
  /// Light `name`'s mask as the file names it (its frame pattern substituted with `frame`), read over the
  /// inputs' data window as render() reads it; null for a light without a mask. Set it with set_mask() to
  /// keep render() from reading the file again. Throws a usage or input error.
  std::shared_ptr<const DD::Image::ImageBuffer> file_mask(std::string_view name, double frame = 0);
  /// Lets go of the inputs and masks held.
  void clear_inputs();

  /// Refuses what render() would refuse of the lights' shadows and spots with the inputs held: a spot on a
  /// parallel light, either without a P input, a shadow when no camera fits P. Throws a usage or input error
  /// with render()'s words; a front end calls it to refuse an edit instead of every render after it.
  void check_options();

  struct Result {
    DD::Image::ImageBuffer beauty;                                       ///< red, green, blue, alpha
    std::vector<std::pair<std::string, DD::Image::ImageBuffer>> layers;  ///< each rendered light's RGBA
  };
  /// Renders every light that is not muted (and, with `solo`, only those named) over the data window.
  /// Masks named in the file and not given are read from it (a frame pattern substituted with `frame`).
  Result render(int threads = 0, const std::vector<std::string>& solo = {}, double frame = 0);

 private:
  RigFile rig_;
  std::vector<LightNode> nodes_;
  ImageGeometry geometry_;
  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images_;
  std::map<std::string, std::shared_ptr<const DD::Image::ImageBuffer>> masks_;
  // P's camera and depth fields, found on first need and kept until the inputs change: a knob change
  // moves the lights, not what the camera saw.
  std::unique_ptr<FrameCamera> camera_;
  FrameCamera& camera();
};

}  // namespace quorlen::hosting
