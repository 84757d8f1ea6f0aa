/// \file visibility.cpp  Which controls are offered for editing, from the light type and noise settings.
#include "plugin/Quorlen.h"

namespace quorlen {
namespace {

using DD::Image::Knob;

// A name that finds no knob (an event before the knobs exist) is skipped: there is nothing to mark.
void set_available(DD::Image::Op& op, const char* name, bool state) {
  if (Knob* k = op.knob(name)) k->set_available(state);
}

void update_noise_group(DD::Image::Op& op, const Parameters& p) {
  set_available(op, "surfaceNoiseType", p.surfaceNoise);
  set_available(op, "stripesNoiseDir", p.surfaceNoise && p.surfaceNoiseType == 0);
  set_available(op, "noiseMultiply", p.surfaceNoise);
  set_available(op, "noiseFrequency", p.surfaceNoise);
  set_available(op, "noiseOffset", p.surfaceNoise);
}

void update_light_group(DD::Image::Op& op, const Parameters& p) {
  set_available(op, "_parallelLightDir", p.lightType == 0);
  set_available(op, "_pointLightPos", p.lightType != 0);
  set_available(op, "pointLightRadius", p.lightType != 0);
  set_available(op, "pointLightFalloff", p.lightType != 0);
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
    set_available(*this, "stripesNoiseDir", params_.surfaceNoise && params_.surfaceNoiseType == 0);
    return 1;
  }
  if (k && k->is("lightType")) {
    update_light_group(*this, params_);
    return 1;
  }
  return DD::Image::Iop::knob_changed(k);
}

}  // namespace quorlen
