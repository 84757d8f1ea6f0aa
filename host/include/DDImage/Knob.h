/// \file Knob.h  Controls (knobs) and the closure through which an operator declares them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace DD::Image {

/// How a knob stores its value in the bound field.
enum StoreType : int {
  Float_Store = 1,        ///< one float, or as many consecutive floats as the knob has components
  Enumeration_Store = 3,  ///< int: index of the chosen entry
  Bitmask_Store = 4,      ///< int: set of bits, one per entry (first entry = bit 1)
  Bool_Store = 5,         ///< bool
  No_Store = 19,          ///< no value (text lines and dividers)
};

/// Kind codes of the knobs this layer understands.
enum KnobKind : int {
  Enumeration_Kind = 4,
  Bitmask_Kind = 5,
  Bool_Kind = 6,
  Float_Kind = 8,
  XYZ_Kind = 13,
  Color_Kind = 18,
  Text_Kind = 26,
};

/// Flags a knob may carry.
inline constexpr std::uint64_t Knob_LogSlider = 0x4;     ///< slider drawn on a non-linear scale
inline constexpr std::uint64_t Knob_ForceRange = 0x10;   ///< typed values are meant to stay in range
inline constexpr std::uint64_t Knob_StartLine = 0x1000;  ///< starts a new line of the panel

/// One declared control: what it is, the field it is bound to and how it is presented.
class Knob {
 public:
  Knob(int kind, StoreType store, void* field, const char* name, const char* label, const void* extra);
  virtual ~Knob();
  Knob(const Knob&) = delete;
  Knob& operator=(const Knob&) = delete;

  int kind() const { return kind_; }
  StoreType store() const { return store_; }
  void* field() const { return field_; }
  /// Name, or null for text lines and dividers.
  const char* name() const { return name_; }
  /// Label, or null for text lines.
  const char* label() const { return label_; }
  const void* extra() const { return extra_; }

  /// Text of a text line (its extra argument), or null.
  const char* text() const;
  /// Entry labels of an enumeration or bitmask (its null-ended extra list); empty for other kinds.
  std::vector<std::string> entries() const;
  /// Number of values the bound field holds: 3 for XYZ, colour and three-float arrays, 1 otherwise,
  /// 0 for knobs without a value.
  int components() const;

  std::uint64_t flags() const { return flags_; }
  void set_flags(std::uint64_t flags) { flags_ |= flags; }
  bool has_range() const { return has_range_; }
  double range_min() const { return min_; }
  double range_max() const { return max_; }
  void set_range(double min, double max);

  /// Whole-name comparison; false for unnamed knobs.
  bool is(const char* name) const;

  /// Offers (true) or withdraws (false) the control for editing; the bound field is never touched.
  virtual void set_available(bool available);
  bool available() const { return available_; }

  /// The marker passed to Op::knob_changed when the panel opens; recognised by identity.
  static Knob* const showPanel;

 private:
  int kind_;
  StoreType store_;
  void* field_;
  const char* name_;
  const char* label_;
  const void* extra_;
  std::uint64_t flags_ = 0;
  bool has_range_ = false;
  double min_ = 0;
  double max_ = 0;
  bool available_ = true;
};

/// Receives an operator's knob declarations. SetFlags and SetRange act on the knob declared last.
class Knob_Closure {
 public:
  virtual ~Knob_Closure();
  /// Declares one knob and returns it.
  virtual Knob* operator()(int kind, StoreType store, void* field, const char* name, const char* label,
                           const void* extra) = 0;
  /// Adds flags to the knob declared last.
  virtual void set_flags(std::uint64_t flags) = 0;
  /// Gives the knob declared last a range.
  virtual void set_range(double min, double max) = 0;
};

/// Adds flags to the knob declared last on `f`.
void SetFlags(Knob_Closure& f, std::uint64_t flags);
/// Sets the range of the knob declared last on `f`.
void SetRange(Knob_Closure& f, double min, double max);

}  // namespace DD::Image
