// A module that claims to be compiled against a different host layer version.
#include "DDImage/Iop.h"

namespace {
DD::Image::Iop* never_called(DD::Image::Node*) { return nullptr; }
const DD::Image::Op::Description description("ForeignAbi", "Test/ForeignAbi", never_called,
                                             DD::Image::kAbiVersion + 1);
}  // namespace
