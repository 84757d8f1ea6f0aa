/// \file op.cpp  The operator base: inputs, identity defaults and the registration handle.
#include "DDImage/Op.h"

#include "DDImage/Iop.h"

namespace DD::Image {

Op::Op(Node* node) : node_(node) {}

Op::~Op() = default;

void Op::validate_output(bool) {}

const char* Op::help_text() const { return ""; }

const char* Op::input_name(int) const { return ""; }

std::uintptr_t Op::registration_handle() const { return 0; }

void Op::inputs(int count) { inputs_.resize(count < 0 ? 0 : static_cast<std::size_t>(count), nullptr); }

}  // namespace DD::Image
