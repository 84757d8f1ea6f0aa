/// \file keyframes.cpp  Keys of animated values in the settings file's form.
#include <fmt/format.h>
#include <quorlen/keyframes.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quorlen::hosting {

bool is_animated(const nlohmann::json& value) { return value.is_object() && value.contains("keys"); }

std::optional<double> key_frame(std::string_view text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string key_text(double frame) {
  if (frame == std::floor(frame) && std::abs(frame) < 1e15)
    return fmt::format("{}", static_cast<long long>(frame));
  return fmt::format("{}", frame);
}

std::vector<double> key_frames(const nlohmann::json& animated) {
  std::vector<double> frames;
  if (!is_animated(animated) || !animated.at("keys").is_object()) return frames;
  for (const auto& [text, value] : animated.at("keys").items())
    if (const auto f = key_frame(text)) frames.push_back(*f);
  std::sort(frames.begin(), frames.end());
  return frames;
}

void set_key(nlohmann::json& animated, double frame, const nlohmann::json& value) {
  nlohmann::json& keys = animated["keys"];
  for (auto it = keys.begin(); it != keys.end(); ++it)
    if (key_frame(it.key()) == frame) {
      it.value() = value;
      return;
    }
  keys[key_text(frame)] = value;
}

}  // namespace quorlen::hosting
