/// \file Registry.h  The process-wide registry of operator classes, for host programs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Op.h"

namespace DD::Image {

/// The registered record of class `name`, or null.
const Op::Description* find_description(std::string_view name);
/// The registered record with this handle (see Op::registration_handle), or null.
const Op::Description* find_description(std::uintptr_t handle);
/// Every registered record, in registration order.
std::vector<const Op::Description*> registered_descriptions();
/// Messages of the registrations refused since the last call (duplicate names, layer version
/// mismatches), oldest first; the list is emptied.
std::vector<std::string> take_registration_errors();

}  // namespace DD::Image
