// A settings file's bytes, read and applied to a fresh node as `--settings FILE.json` does.
#include <quorlen/errors.h>
#include <quorlen/node.h>

#include <cstdint>

#include "FuzzSupport.h"
#include "hosting/node/knob_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto node = std::make_unique<quorlen::hosting::Node>(quorlen::fuzz::description());
  quorlen::hosting::NodeSettings settings;
  const quorlen::fuzz::ScratchFile scratch(data, size, ".json");
  settings.settings_file = scratch.path();
  try {
    quorlen::hosting::apply_settings(node->op(), settings);
  } catch (const quorlen::hosting::Error&) {
  }
  return 0;
}
