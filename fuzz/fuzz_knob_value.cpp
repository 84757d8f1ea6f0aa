// Knob value text as `--set NAME=VALUE` gives it: the first byte picks a knob, the rest is its value.
#include <quorlen/errors.h>
#include <quorlen/node.h>

#include <cstdint>
#include <string>

#include "DDImageHost/KnobAccess.h"
#include "FuzzSupport.h"
#include "hosting/node/knob_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static auto node = std::make_unique<quorlen::hosting::Node>(quorlen::fuzz::description());
  DD::Image::Op& op = node->op();
  const auto knobs = DD::Image::value_knobs(op);
  DD::Image::Knob* knob = knobs[data[0] % knobs.size()];
  quorlen::hosting::NodeSettings settings;
  settings.sets.push_back({knob->name(), std::string(reinterpret_cast<const char*>(data + 1), size - 1)});
  try {
    quorlen::hosting::apply_settings(op, settings);
    // A value taken must print back as text that is taken again.
    const std::string text = DD::Image::knob_value_text(*knob);
    std::string error;
    if (!DD::Image::set_knob(op, knob->name(), text, error)) __builtin_trap();
    DD::Image::open_panel(op);
  } catch (const quorlen::hosting::Error&) {
  }
  return 0;
}
