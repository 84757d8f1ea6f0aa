/// \file inputs.h  The operator's four inputs and how a renderer's passes are to be read into them: the
/// light space, the normal encoding and the words for each that every front end accepts.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Box.h"
#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

/// The operator's inputs, in input order.
enum InputSlot : int { kColor = 0, kNormal = 1, kPosition = 2, kNoisePosition = 3 };
inline constexpr int kInputCount = 4;
/// The operator's input labels, which are also the option names (--color, --normal, --P, --noiseP).
inline constexpr std::array<const char*, kInputCount> kInputLabels = {"color", "normal", "P", "noiseP"};

/// The slot labelled `label` (exactly), or -1.
int input_slot_named(std::string_view label);

/// The space the light knobs are given in. `node`: as the node defines them in any host (it negates the
/// light vector's z). `world`: the passes' own world space; the normal input's z is negated before the
/// node sees it, so that the node's dot products equal the physical ones.
enum class LightSpace { node, world };

/// How the normal input stores its vectors: `signed` as they are, `unsigned` as 0.5 n + 0.5 (normal maps
/// in 0..1, such as 8-bit images), decoded as 2 v - 1.
enum class NormalEncoding { signed_values, unsigned_values };

/// The space the normal input's vectors are in: `world`, P's own space; `camera`, the camera's (x to the
/// right of the picture, y up, z along the view, as OpenEXR's worldToCamera), turned into P's space by the
/// camera found for the frame before the light space applies.
enum class NormalSpace { world, camera };

/// Axes of the normal input negated as it is read (after its encoding, before its space): x, y, z.
using NormalFlip = std::array<bool, 3>;

/// The words front ends and settings files use, in the order shown to users.
inline constexpr std::array<std::string_view, 2> kLightSpaceWords = {"node", "world"};
inline constexpr std::array<std::string_view, 2> kNormalEncodingWords = {"signed", "unsigned"};
inline constexpr std::array<std::string_view, 2> kNormalSpaceWords = {"world", "camera"};
inline constexpr std::array<std::string_view, 3> kAxisWords = {"x", "y", "z"};

std::string_view word_of(LightSpace space);
std::string_view word_of(NormalEncoding encoding);
/// The light space named `word`, case ignored; throws a usage error that names `what` (the option or
/// keyword), lists the words and suggests the nearest.
LightSpace light_space_named(std::string_view word, std::string_view what = "light space");
/// As light_space_named(), for the normal encoding.
NormalEncoding normal_encoding_named(std::string_view word, std::string_view what = "normal encoding");

std::string_view word_of(NormalSpace space);
/// As light_space_named(), for the normal space.
NormalSpace normal_space_named(std::string_view word, std::string_view what = "normal space");
/// The axes of "x,y,z" (any of them, in any order and case; "none" for no axis). Throws a usage error that
/// names `what`, the word that is not an axis and its near miss.
NormalFlip normal_flip_named(std::string_view words, std::string_view what = "normal flip");
/// "x,z", or "none".
std::string word_of(const NormalFlip& flip);

/// The light space and encoding in words, for --dry-run.
std::string describe(LightSpace space, NormalEncoding encoding);

/// Applies the encoding, then the light space, to the normals in `box` of `image` (red, green, blue).
void transform_normals(DD::Image::ImageBuffer& image, const DD::Image::Box& box, LightSpace space,
                       NormalEncoding encoding);

/// Where an image's pixels are (data window) and the frame they belong to (display window), in the file's
/// pixel coordinates, y counting down the picture as the file stores it.
struct ImageGeometry {
  DD::Image::Box data;
  DD::Image::Box display;

  /// The host's format: the display window's size.
  DD::Image::Format format() const { return {display.w(), display.h()}; }
  bool operator==(const ImageGeometry&) const = default;
};

/// Largest data window an input may have unless raised with --max-pixels: 2^28 pixels (16384 x 16384).
inline constexpr long long kDefaultMaxPixels = 1LL << 28;
/// Bytes a frame's bands may take unless raised with --max-memory: 4 GiB.
inline constexpr long long kDefaultMaxMemory = 4LL << 30;

/// A file and, optionally, the layer to take from it (no layer: the plain R, G, B).
struct InputSpec {
  std::string file;
  std::optional<std::string> layer;
};

/// A matte: one channel of any file, read where it overlaps the output and zero elsewhere.
struct MaskSource {
  std::string file;
  std::string channel;  ///< the channel's full name ("hero.R")
  std::string owner;    ///< what it is for, in messages ("light \"rim\"")
};

/// Where one frame's inputs come from; an empty slot is unconnected (a missing colour reads as black).
struct FrameSources {
  std::array<std::optional<InputSpec>, kInputCount> inputs;
  long long max_pixels = kDefaultMaxPixels;  ///< largest data window an input may have
  long long max_memory = kDefaultMaxMemory;  ///< bytes a frame's bands may take together
  LightSpace light_space = LightSpace::node;
  NormalEncoding normal_encoding = NormalEncoding::signed_values;
  NormalSpace normal_space = NormalSpace::world;
  NormalFlip normal_flip{};
  /// Bytes a pixel of the whole frame holds beside the bands (shadows and spots need all of P at once), for
  /// the memory limit.
  long long frame_pixel_bytes = 0;
  bool colour_alpha = false;  ///< read the colour input's alpha (see colour_alpha()) for the output
  /// The colour input's colour space as chosen (a name of the colour config); unset, the space its file
  /// names when the config knows it, else the config's file rules.
  std::optional<std::string> colour_space;
  std::vector<MaskSource> masks;
  /// Floats a pixel of the rendered band takes from rendering to writing (4: one light's RGBA), for the
  /// memory estimate.
  int output_floats = 4;
};

}  // namespace quorlen::hosting
