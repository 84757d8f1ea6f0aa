/// \file panel.cpp  The operator's control panel: one fixed sequence of declarations.
#include <cstdint>

#include "plugin/Quorlen.h"
#include "plugin/controls/RangedFloat.h"

namespace quorlen {
namespace {

using namespace DD::Image;

// Vector controls are bound to the first of three consecutive floats.
static_assert(sizeof(Float3) == 3 * sizeof(float), "Float3 must be three consecutive floats");

constexpr const char* kTitle = "<b>Quorlen</b>";
constexpr const char* kSummary =
    "Relights the <i>color</i> input with one parallel or point light, shaded from the <i>normal</i> and "
    "<i>P</i> passes, with optional surface noise positioned by <i>noiseP</i>.";

constexpr const char* kLightTypes[] = {"parallel", "point", nullptr};
constexpr const char* kNoiseTypes[] = {"stripes", "turbulence1", "turbulence2", "snoise", nullptr};
constexpr const char* kNoiseAxes[] = {"x", "y", "z", nullptr};
constexpr const char* kOutputTypes[] = {"texture", "light", nullptr};

// The float-array knob takes its component count in the pointer-sized extra argument.
const void* const kThreeComponents = reinterpret_cast<const void*>(std::intptr_t{3});

void text_line(Knob_Closure& f, const char* text) {
  f(Text_Kind, No_Store, nullptr, nullptr, nullptr, text);
  SetFlags(f, Knob_StartLine);
}

void divider(Knob_Closure& f) { f(Text_Kind, No_Store, nullptr, nullptr, "", nullptr); }

}  // namespace

void Quorlen::declare_knobs(Knob_Closure& f) {
  text_line(f, kTitle);
  text_line(f, kSummary);

  f(Enumeration_Kind, Enumeration_Store, &params_.lightType, "lightType", "light type", kLightTypes);
  f(XYZ_Kind, Float_Store, &params_._parallelLightDir, "_parallelLightDir", "parallelLight direction",
    nullptr);
  f(XYZ_Kind, Float_Store, &params_._pointLightPos, "_pointLightPos", "pointLight position", nullptr);
  declare_ranged_float(f, &params_.pointLightRadius, {0.0, 500.0, false}, "pointLightRadius",
                       "pointLight radius");
  declare_ranged_float(f, &params_.pointLightFalloff, {0.0, 10.0, false}, "pointLightFalloff",
                       "pointLight falloff");
  f(Color_Kind, Float_Store, &params_._lightColor, "_lightColor", "light color", nullptr);
  declare_ranged_float(f, &params_.lightBrightness, {0.0, 5.0, false}, "lightBrightness", "light brightness");
  f(Color_Kind, Float_Store, &params_._lightScatter, "_lightScatter", "light scatter", nullptr);
  divider(f);

  f(Color_Kind, Float_Store, &params_._surfaceDiffuse, "_surfaceDiffuse", "surface diffuse", nullptr);
  f(Color_Kind, Float_Store, &params_._surfaceSpecular, "_surfaceSpecular", "surface specular", nullptr);
  declare_ranged_float(f, &params_.surfaceSpecularPower, {1.0, 30.0, false}, "surfaceSpecularPower",
                       "specular power");
  divider(f);

  f(Bool_Kind, Bool_Store, &params_.surfaceNoise, "surfaceNoise", "surface noise", nullptr);
  SetFlags(f, Knob_StartLine);
  f(Enumeration_Kind, Enumeration_Store, &params_.surfaceNoiseType, "surfaceNoiseType", "surface noise type",
    kNoiseTypes);
  f(Bitmask_Kind, Bitmask_Store, &params_.stripesNoiseDir, "stripesNoiseDir", "stripes noise direction",
    kNoiseAxes);
  declare_ranged_float(f, &params_.noiseMultiply, {0.0, 2.0, false}, "noiseMultiply", "multiply");
  declare_ranged_float(f, &params_.noiseFrequency, {0.0, 10.0, false}, "noiseFrequency", "frequency");
  f(Float_Kind, Float_Store, &params_.noiseOffset, "noiseOffset", "offset", kThreeComponents);
  f(Enumeration_Kind, Enumeration_Store, &params_.outputType, "outputType", "output type", kOutputTypes);
}

}  // namespace quorlen
