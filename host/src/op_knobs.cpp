/// \file op_knobs.cpp  An operator's knobs: the default declaration and change handling, building the
/// knob list through a closure, and finding knobs by name.
#include <memory>
#include <utility>
#include <vector>

#include "DDImage/Op.h"

namespace DD::Image {
namespace {

// Turns each declaration into a Knob owned by the operator; flags and ranges go to the last one.
class BuildingClosure final : public Knob_Closure {
 public:
  Knob* operator()(int kind, StoreType store, void* field, const char* name, const char* label,
                   const void* extra) override {
    owned_.push_back(std::make_unique<Knob>(kind, store, field, name, label, extra));
    declared_.push_back(owned_.back().get());
    return declared_.back();
  }

  // Before any declaration there is no knob to act on; the call is ignored.
  void set_flags(std::uint64_t flags) override {
    if (!declared_.empty()) declared_.back()->set_flags(flags);
  }
  void set_range(double min, double max) override {
    if (!declared_.empty()) declared_.back()->set_range(min, max);
  }

  std::vector<std::unique_ptr<Knob>> owned_;
  std::vector<Knob*> declared_;
};

}  // namespace

void Op::declare_knobs(Knob_Closure&) {}

int Op::knob_changed(Knob*) { return 0; }

const std::vector<Knob*>& Op::knobs() {
  if (!knobs_built_) build_knobs();
  return knobs_;
}

Knob* Op::knob(const char* name) {
  if (!name) return nullptr;
  for (Knob* k : knobs()) {
    if (k->is(name)) return k;
  }
  return nullptr;
}

void Op::build_knobs() {
  // Marked built before declaring so that an operator asking for its knobs while declaring them sees an
  // empty list instead of recursing; a declaration that throws leaves the list to be built again.
  knobs_built_ = true;
  BuildingClosure closure;
  try {
    declare_knobs(closure);
  } catch (...) {
    knobs_built_ = false;
    throw;
  }
  owned_knobs_ = std::move(closure.owned_);
  knobs_ = std::move(closure.declared_);
}

}  // namespace DD::Image
