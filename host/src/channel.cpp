/// \file channel.cpp  The process-wide table of channels and layers, and channel sets.
#include "DDImage/Channel.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "text/strings.h"

namespace DD::Image {
namespace {

struct Layer {
  std::string name;
  std::vector<Channel> members;
};

struct ChannelEntry {
  std::string short_name;
  int layer = -1;
};

class ChannelTable {
 public:
  ChannelTable() {
    entries_.resize(1);  // channel 0: none
    layers_.push_back({"rgba", {}});
    for (const char* n : {"red", "green", "blue", "alpha"}) add(0, n);
  }

  Channel lookup(const std::string& layer, const std::string& channel) {
    {
      std::shared_lock lock(mutex_);
      if (Channel c = find(layer, channel)) return c;
    }
    std::unique_lock lock(mutex_);
    if (Channel c = find(layer, channel)) return c;
    if (entries_.size() >= static_cast<std::size_t>(kMaxChannels)) return Chan_Black;
    int l = find_layer(layer);
    if (l < 0) {
      layers_.push_back({layer, {}});
      l = static_cast<int>(layers_.size()) - 1;
    }
    return add(l, channel);
  }

  std::string name(Channel c) const {
    std::shared_lock lock(mutex_);
    if (!valid(c)) return "none";
    const ChannelEntry& e = entries_[static_cast<std::size_t>(c)];
    return layers_[static_cast<std::size_t>(e.layer)].name + "." + e.short_name;
  }

  std::string layer_name(Channel c) const {
    std::shared_lock lock(mutex_);
    if (!valid(c)) return "";
    return layers_[static_cast<std::size_t>(entries_[static_cast<std::size_t>(c)].layer)].name;
  }

  Channel brother(Channel c, unsigned i) const {
    std::shared_lock lock(mutex_);
    if (!valid(c)) return Chan_Black;
    const Layer& layer = layers_[static_cast<std::size_t>(entries_[static_cast<std::size_t>(c)].layer)];
    return i < layer.members.size() ? layer.members[i] : Chan_Black;
  }

 private:
  bool valid(Channel c) const { return c > 0 && static_cast<std::size_t>(c) < entries_.size(); }

  int find_layer(const std::string& layer) const {
    for (std::size_t l = 0; l < layers_.size(); ++l)
      if (layers_[l].name == layer) return static_cast<int>(l);
    return -1;
  }

  Channel find(const std::string& layer, const std::string& channel) const {
    const int l = find_layer(layer);
    if (l < 0) return Chan_Black;
    for (Channel c : layers_[static_cast<std::size_t>(l)].members)
      if (entries_[static_cast<std::size_t>(c)].short_name == channel) return c;
    return Chan_Black;
  }

  Channel add(int layer, const std::string& channel) {
    const auto c = static_cast<Channel>(entries_.size());
    entries_.push_back({channel, layer});
    layers_[static_cast<std::size_t>(layer)].members.push_back(c);
    return c;
  }

  mutable std::shared_mutex mutex_;
  std::vector<ChannelEntry> entries_;
  std::vector<Layer> layers_;
};

ChannelTable& table() {
  static auto* t = new ChannelTable;  // never destroyed: channels are looked up during teardown too
  return *t;
}

Channel rgba_channel(const std::string& name) {
  const std::string n = quorlen::text::lower(name);
  if (n == "r" || n == "red") return Chan_Red;
  if (n == "g" || n == "green") return Chan_Green;
  if (n == "b" || n == "blue") return Chan_Blue;
  if (n == "a" || n == "alpha") return Chan_Alpha;
  return Chan_Black;
}

}  // namespace

Channel getChannel(const std::string& fullName) {
  if (fullName.empty()) return Chan_Black;
  const auto dot = fullName.rfind('.');
  if (dot == std::string::npos) {
    if (Channel c = rgba_channel(fullName)) return c;
    return table().lookup(fullName, fullName);
  }
  const std::string layer = fullName.substr(0, dot);
  const std::string channel = fullName.substr(dot + 1);
  if (layer.empty() || channel.empty()) return Chan_Black;
  if (layer == "rgba" || layer == "rgb") {
    if (Channel c = rgba_channel(channel)) return c;
  }
  return table().lookup(layer, channel);
}

std::string getName(Channel c) { return table().name(c); }

std::string getLayerName(Channel c) { return table().layer_name(c); }

Channel brother(Channel c, unsigned i) {
  // The rgba layer is fixed at start-up, so its channels need no look-up under the table's lock, which
  // every row of every thread would otherwise take.
  if (c >= Chan_Red && c <= Chan_Alpha)
    return i < 4 ? static_cast<Channel>(Chan_Red + static_cast<int>(i)) : Chan_Black;
  return table().brother(c, i);
}

ChannelSet::ChannelSet(ChannelSetInit preset) {
  for (int bit = 0; bit < 4; ++bit)
    if (preset & (1u << bit)) bits_.set(static_cast<std::size_t>(bit + 1));
}

ChannelSet::ChannelSet(Channel c) { insert(c); }

Channel ChannelSet::first() const { return next(Chan_Black); }

Channel ChannelSet::next(Channel c) const {
  const std::size_t from = c < 0 ? 0 : static_cast<std::size_t>(c);
  if (from + 1 >= static_cast<std::size_t>(kMaxChannels)) return Chan_Black;
  const std::size_t i = bits_._Find_next(from);
  return i < bits_.size() ? static_cast<Channel>(i) : Chan_Black;
}

void ChannelSet::insert(Channel c) {
  if (c > 0 && c < kMaxChannels) bits_.set(static_cast<std::size_t>(c));
}

void ChannelSet::erase(Channel c) {
  if (c > 0 && c < kMaxChannels) bits_.reset(static_cast<std::size_t>(c));
}

}  // namespace DD::Image
