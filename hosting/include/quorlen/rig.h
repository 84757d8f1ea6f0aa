/// \file rig.h  A rig: several lights rendered from one read of the passes, each a node of its own with a
/// layer in the output, added into the beauty in the file's order. A settings file with a `lights` array is
/// a rig; one without is one light.
#pragma once

#include <quorlen/inputs.h>
#include <quorlen/node.h>
#include <quorlen/render.h>

#include <array>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlen::hosting {

/// A light's cast shadows. Unset lengths follow the scene: see docs/shadows.md.
struct ShadowOptions {
  double size = 0;                     ///< a point light's diameter in P's units (0: hard shadows)
  double angle = 0;                    ///< a parallel light's angular diameter in degrees (0: hard)
  int samples = 16;                    ///< rays a pixel for a light with a size
  std::optional<double> thickness;     ///< assumed behind each visible surface, P's units
  std::optional<double> bias;          ///< how far from its surface a ray starts, P's units
  std::optional<double> max_distance;  ///< how far occluders are looked for, P's units
};

/// A point light narrowed to a cone.
struct SpotOptions {
  std::array<double, 3> direction{0, 0, 1};  ///< from the light towards what it lights
  double angle = 45;                         ///< half-angle of the cone, degrees
  double penumbra = 0;                       ///< degrees inside the edge over which it fades in
};

/// One light of a rig as its file gives it.
struct RigLight {
  std::string name;
  nlohmann::json knobs = nlohmann::json::object();  ///< over the shared values; keyframes allowed
  bool mute = false;
  std::optional<std::string> mask;  ///< "FILE:CHANNEL", the file may hold a frame pattern
  bool mask_invert = false;         ///< the light is multiplied by 1 - m instead of m
  std::optional<ShadowOptions> shadow;
  std::optional<SpotOptions> spot;
};

/// A settings file: knob values shared by every light, the lights (none: one light of the shared values),
/// and the host options that change what the knobs mean.
struct RigFile {
  nlohmann::json shared = nlohmann::json::object();
  std::vector<RigLight> lights;
  std::optional<LightSpace> light_space;
  std::optional<NormalEncoding> normal_encoding;
  std::optional<NormalSpace> normal_space;
  std::optional<NormalFlip> normal_flip;
  /// How messages name where the values came from: `settings file "rig.json"`, or `settings`.
  std::string source = "settings";
  bool is_rig() const { return !lights.empty(); }
};

/// The rig `settings` give: the file's (a frame pattern in its path already substituted), the values given
/// in memory over its shared ones, or none (one light of defaults). Throws a usage error.
RigFile rig_of(const NodeSettings& settings);

/// How passes are read for `rig`: each choice `given`, else the file's, else node space, signed, world
/// normals and no flip, as a render of the file reads them.
PassReading pass_reading(const RigFile& rig, const PassChoices& given);

/// The top-level keys that are not knobs.
inline constexpr std::array<std::string_view, 5> kRigFileKeys = {"lights", "lightSpace", "normalEncoding",
                                                                 "normalSpace", "normalFlip"};

/// A light's "shadow" (true, false or an object of options) and "spot" values; throw a usage error naming
/// `named` (the file and the light) and the key.
std::optional<ShadowOptions> parse_shadow(const nlohmann::json& value, std::string_view named);
SpotOptions parse_spot(const nlohmann::json& value, std::string_view named);

/// Checks and splits a settings file's object. Throws a usage error naming `source`, the light and the key:
/// an empty `lights`, a name that is not [A-Za-z][A-Za-z0-9_]*, is a channel name (R, G, B, A) or is
/// repeated, a key a light does not take (with the nearest), a value of the wrong type.
RigFile parse_rig(nlohmann::json file, std::string_view source);

/// parse_rig() of the file at `path`.
RigFile read_rig_file(const std::string& path);

/// Whether `name` may name a light.
bool valid_light_name(std::string_view name);

/// Which lights a render keeps: muted ones never, and with any solo only the soloed ones. Throws a usage
/// error for a name that is not a light of the rig (with the nearest).
std::vector<bool> lights_kept(const RigFile& rig, const std::vector<std::string>& solo,
                              const std::vector<std::string>& mute);

/// A `--set` split into the light it names ("key.lightBrightness") and the knob; no light for a plain
/// knob name. Throws a usage error for a light the rig does not have.
struct LightSetting {
  std::optional<std::string> light;
  KnobSetting setting;
};
LightSetting light_setting(const RigFile& rig, const KnobSetting& set);

/// A node for each light of `rig` at `frame`: the shared values, the light's own, then each plain --set
/// and each --set naming the light, in order; keyframes evaluated at the frame. Throws a usage error that
/// names the light.
struct LightNode {
  std::string name;
  std::unique_ptr<Node> node;
  const RigLight* light = nullptr;
};
std::vector<LightNode> light_nodes(const DD::Image::Op::Description& description, const RigFile& rig,
                                   const std::vector<KnobSetting>& sets, double frame);

}  // namespace quorlen::hosting
