/// \file ParametersToShadingSettings.h  The parameter record in the span engines' terms.
#pragma once

#include "plugin/Parameters.h"
#include "shading/ShadingSettings.h"

namespace quorlen {

/// Every field the engines read, with the light, output and noise codes read as their modes.
ShadingSettings shading_settings(const Parameters& p);

}  // namespace quorlen
