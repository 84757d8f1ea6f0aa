// A knob closure that records every call made on it, for checking declaration sequences.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "DDImage/Knob.h"

namespace quorlen::test {

/// One call on the closure: a declaration, a SetFlags or a SetRange.
struct ClosureCall {
  enum Type { Declare, Flags, Range };
  Type type = Declare;
  int kind = 0;
  DD::Image::StoreType store = DD::Image::No_Store;
  void* field = nullptr;
  const char* name = nullptr;
  const char* label = nullptr;
  const void* extra = nullptr;
  std::uint64_t flags = 0;
  double min = 0;
  double max = 0;

  // Pointers compare by identity: the same panel declared twice hands over the same static data.
  bool operator==(const ClosureCall&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const ClosureCall& c) {
  switch (c.type) {
    case ClosureCall::Declare:
      return os << "declare(kind " << c.kind << ", store " << c.store << ", name "
                << (c.name ? c.name : "null") << ", label " << (c.label ? c.label : "null") << ")";
    case ClosureCall::Flags:
      return os << "SetFlags(0x" << std::hex << c.flags << std::dec << ")";
    case ClosureCall::Range:
      return os << "SetRange(" << c.min << ", " << c.max << ")";
  }
  return os;
}

class RecordingClosure : public DD::Image::Knob_Closure {
 public:
  DD::Image::Knob* operator()(int kind, DD::Image::StoreType store, void* field, const char* name,
                              const char* label, const void* extra) override {
    ClosureCall call;
    call.kind = kind;
    call.store = store;
    call.field = field;
    call.name = name;
    call.label = label;
    call.extra = extra;
    calls.push_back(call);
    knobs.push_back(std::make_unique<DD::Image::Knob>(kind, store, field, name, label, extra));
    return knobs.back().get();
  }
  void set_flags(std::uint64_t flags) override {
    ClosureCall call;
    call.type = ClosureCall::Flags;
    call.flags = flags;
    calls.push_back(call);
  }
  void set_range(double min, double max) override {
    ClosureCall call;
    call.type = ClosureCall::Range;
    call.min = min;
    call.max = max;
    calls.push_back(call);
  }

  std::vector<ClosureCall> calls;
  std::vector<std::unique_ptr<DD::Image::Knob>> knobs;  ///< one per declaration, returned by operator()
};

}  // namespace quorlen::test
