/// \file construction_and_identity.cpp  Construction, destruction and identity of the operator.
#include "plugin/Quorlen.h"

namespace quorlen {

// Parameters' member initialisers hold the defaults of a new node.
Quorlen::Quorlen(DD::Image::Node* node) : DD::Image::Iop(node) { inputs(4); }

Quorlen::~Quorlen() = default;

const char* Quorlen::help_text() const { return "//"; }

const char* Quorlen::class_name() const { return "Quorlen"; }

const char* Quorlen::input_name(int index) const {
  switch (index) {
    case 0:
      return "color";
    case 1:
      return "normal";
    case 2:
      return "P";
    case 3:
      return "noiseP";
    default:
      return "";
  }
}

}  // namespace quorlen
