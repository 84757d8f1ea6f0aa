/// \file Channel.h  Channel numbers, layers and channel sets.
#pragma once

#include <bitset>
#include <cstddef>
#include <string>

namespace DD::Image {

/// A channel number. 0 is "no channel"; 1-4 are red, green, blue and alpha of the layer "rgba".
/// Further numbers are handed out, process-wide, to channels of other layers as they are named.
enum Channel : int {
  Chan_Black = 0,
  Chan_Red = 1,
  Chan_Green = 2,
  Chan_Blue = 3,
  Chan_Alpha = 4,
};

/// Highest channel number plus one; channel numbers are always below it.
inline constexpr int kMaxChannels = 1024;

/// Presets for ChannelSet, as bit masks of red (1), green (2), blue (4) and alpha (8).
enum ChannelSetInit : unsigned {
  Mask_None = 0,
  Mask_Red = 1,
  Mask_Green = 2,
  Mask_Blue = 4,
  Mask_Alpha = 8,
  Mask_RGB = 7,
  Mask_RGBA = 15,
};

/// Channel of the given full name ("layer.channel", e.g. "N.x" or "rgba.red"; "r", "red", "R" and the
/// like name the rgba channels). A new layer or channel is created on first use. Returns Chan_Black for an
/// empty or malformed name, or when the channel table is full.
Channel getChannel(const std::string& fullName);
/// Full name of a channel ("rgba.red", "N.x"), or "none" for Chan_Black or an unknown number.
std::string getName(Channel c);
/// Layer name of a channel ("rgba", "N"), or "" when unknown.
std::string getLayerName(Channel c);
/// Channel i (0, 1, 2, ...) of the layer that holds `c`; Chan_Black if the layer has no such channel.
Channel brother(Channel c, unsigned i);

/// A set of channel numbers.
class ChannelSet {
 public:
  ChannelSet() = default;
  /// Set from a preset mask (see ChannelSetInit): bit 0 red, bit 1 green, bit 2 blue, bit 3 alpha.
  ChannelSet(ChannelSetInit preset);  // NOLINT(google-explicit-constructor)
  ChannelSet(unsigned preset) : ChannelSet(static_cast<ChannelSetInit>(preset)) {}  // NOLINT
  ChannelSet(Channel c);  // NOLINT(google-explicit-constructor)

  /// Lowest member, or Chan_Black when empty.
  Channel first() const;
  /// Lowest member above `c`, or Chan_Black when there is none.
  Channel next(Channel c) const;
  /// Number of members.
  unsigned size() const { return static_cast<unsigned>(bits_.count()); }
  bool empty() const { return bits_.none(); }
  bool contains(Channel c) const {
    return c > 0 && c < kMaxChannels && bits_.test(static_cast<std::size_t>(c));
  }

  void insert(Channel c);
  void erase(Channel c);
  void clear() { bits_.reset(); }

  ChannelSet& operator+=(const ChannelSet& o) {
    bits_ |= o.bits_;
    return *this;
  }
  ChannelSet& operator&=(const ChannelSet& o) {
    bits_ &= o.bits_;
    return *this;
  }
  friend ChannelSet operator&(ChannelSet a, const ChannelSet& b) { return a &= b; }
  friend ChannelSet operator+(ChannelSet a, const ChannelSet& b) { return a += b; }
  bool operator==(const ChannelSet&) const = default;

 private:
  std::bitset<kMaxChannels> bits_;
};

}  // namespace DD::Image
