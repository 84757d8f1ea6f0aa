/// \file visibility.cpp  Which controls are offered for editing, from the light type and noise settings.
#include "plugin/Quorlen.h"
#include "shading/ShadingModes.h"

namespace quorlen {
namespace {

using DD::Image::Knob;

// A name that finds no knob (an event before the knobs exist) is skipped: there is nothing to mark.
void set_available(DD::Image::Op& op, const char* name, bool state) {
  if (Knob* k = op.knob(name)) k->set_available(state);
}

// The stripe directions apply only to the stripes, and only while the noise is on.
bool stripes_chosen(const Parameters& p) {
  return p.surfaceNoise && noise_type_of(p.surfaceNoiseType) == NoiseType::stripes;
}

void update_noise_group(DD::Image::Op& op, const Parameters& p) {
  set_available(op, "surfaceNoiseType", p.surfaceNoise);
  set_available(op, "stripesNoiseDir", stripes_chosen(p));
  set_available(op, "noiseMultiply", p.surfaceNoise);
  set_available(op, "noiseFrequency", p.surfaceNoise);
  set_available(op, "noiseOffset", p.surfaceNoise);
}

void update_light_group(DD::Image::Op& op, const Parameters& p) {
  const bool point = light_type_of(p.lightType) == LightType::point;
  set_available(op, "_parallelLightDir", !point);
  set_available(op, "_pointLightPos", point);
  set_available(op, "pointLightRadius", point);
  set_available(op, "pointLightFalloff", point);
}

}  // namespace

int Quorlen::knob_changed(Knob* k) {
  if (k == Knob::showPanel) {
    update_noise_group(*this, params_);
    update_light_group(*this, params_);
    return 1;
  }
  if (k && k->is("surfaceNoise")) {
    update_noise_group(*this, params_);
    return 1;
  }
  if (k && k->is("surfaceNoiseType")) {
    set_available(*this, "stripesNoiseDir", stripes_chosen(params_));
    return 1;
  }
  if (k && k->is("lightType")) {
    update_light_group(*this, params_);
    return 1;
  }
  return DD::Image::Iop::knob_changed(k);
}

}  // namespace quorlen
