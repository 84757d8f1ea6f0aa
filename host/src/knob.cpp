/// \file knob.cpp  Declared controls, the panel-opened marker and the closure helpers.
#include "DDImage/Knob.h"

#include <cstring>

namespace DD::Image {
namespace {

// Operators recognise the panel-opened event by this object's address only; it has no name so that no
// whole-name test can ever mistake it for a real control.
Knob panel_opened_marker(Text_Kind, No_Store, nullptr, nullptr, nullptr, nullptr);

// A float knob whose extra argument is this pointer-sized integer holds that many consecutive floats.
constexpr std::intptr_t kFloatArrayComponents = 3;

}  // namespace

Knob* const Knob::showPanel = &panel_opened_marker;

Knob::Knob(int kind, StoreType store, void* field, const char* name, const char* label, const void* extra)
    : kind_(kind), store_(store), field_(field), name_(name), label_(label), extra_(extra) {}

Knob::~Knob() = default;

const char* Knob::text() const {
  if (kind_ != Text_Kind || store_ != No_Store) return nullptr;
  return static_cast<const char*>(extra_);
}

std::vector<std::string> Knob::entries() const {
  std::vector<std::string> labels;
  const bool is_list = (kind_ == Enumeration_Kind && store_ == Enumeration_Store) ||
                       (kind_ == Bitmask_Kind && store_ == Bitmask_Store);
  if (!is_list || !extra_) return labels;
  for (auto* entry = static_cast<const char* const*>(extra_); *entry; ++entry) labels.emplace_back(*entry);
  return labels;
}

int Knob::components() const {
  if (store_ == No_Store || !field_) return 0;
  if (kind_ == XYZ_Kind || kind_ == Color_Kind) return 3;
  if (kind_ == Float_Kind && reinterpret_cast<std::intptr_t>(extra_) == kFloatArrayComponents) return 3;
  return 1;
}

void Knob::set_range(double min, double max) {
  has_range_ = true;
  min_ = min;
  max_ = max;
}

bool Knob::is(const char* name) const { return name_ && name && std::strcmp(name_, name) == 0; }

void Knob::set_available(bool available) { available_ = available; }

Knob_Closure::~Knob_Closure() = default;

void SetFlags(Knob_Closure& f, std::uint64_t flags) { f.set_flags(flags); }

void SetRange(Knob_Closure& f, double min, double max) { f.set_range(min, max); }

}  // namespace DD::Image
