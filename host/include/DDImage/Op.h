/// \file Op.h  The operator base: registration, allocation, inputs and knobs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "DDImage/Knob.h"
#include "DDImage/Version.h"

namespace DD::Image {

class Iop;

/// The host's handle of a node; opaque to operators.
class Node;

class Op {
 public:
  /// Registration record of an operator class. Constructed with static storage in a module, it
  /// registers the class in the process-wide registry; a second class of the same name, or a module
  /// compiled against another layer version, is refused (see Registry.h).
  class Description {
   public:
    using Constructor = Iop* (*)(Node*);

    /// `abi_version` defaults to the marker of the headers the caller is compiled against.
    Description(const char* name, const char* menu, Constructor constructor, int abi_version = kAbiVersion);
    ~Description();
    Description(const Description&) = delete;
    Description& operator=(const Description&) = delete;

    const char* name() const { return name_; }
    const char* menu() const { return menu_; }
    Constructor constructor() const { return constructor_; }
    int abi_version() const { return abi_version_; }
    /// The registry's handle for this record; 0 when the registration was refused.
    std::uintptr_t handle() const { return handle_; }

   private:
    const char* name_;
    const char* menu_;
    Constructor constructor_;
    int abi_version_;
    std::uintptr_t handle_ = 0;
  };

  /// The host's allocator. Returns null when memory is exhausted (operators are created with a
  /// checked placement, see the factories).
  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;

  explicit Op(Node* node);
  Op(const Op&) = delete;
  Op& operator=(const Op&) = delete;

  // Overridable operations, in the order of the layer's virtual table.

  /// Describes the output. Called by the host after the inputs have been validated.
  virtual void validate_output(bool for_real);
  /// Declares the operator's knobs on `f`.
  virtual void declare_knobs(Knob_Closure& f);
  /// Called after the host stored a new value in `k`'s field, or with Knob::showPanel when the panel
  /// opens. Returns non-zero when the operator handled the event; the default returns 0.
  virtual int knob_changed(Knob* k);
  virtual ~Op();
  virtual const char* help_text() const;
  virtual const char* class_name() const = 0;
  /// Label of input `index`.
  virtual const char* input_name(int index) const;
  /// The handle of the registration record this operator was created from (see Description::handle),
  /// which lets a host find the record again from a node; 0 when the operator has none.
  virtual std::uintptr_t registration_handle() const;

  Node* node() const { return node_; }

  /// Declares the number of inputs.
  void inputs(int count);
  int inputs() const { return static_cast<int>(inputs_.size()); }

  /// The knobs, declared on first use through declare_knobs, in declaration order.
  const std::vector<Knob*>& knobs();
  /// The knob named `name`, or null.
  Knob* knob(const char* name);

 protected:
  std::vector<Iop*> inputs_;

 private:
  void build_knobs();

  Node* node_;
  std::vector<std::unique_ptr<Knob>> owned_knobs_;
  std::vector<Knob*> knobs_;
  bool knobs_built_ = false;
};

}  // namespace DD::Image
