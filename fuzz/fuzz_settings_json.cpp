// A settings file's bytes, read and applied to a fresh node as `--settings FILE.json` does.
#include <cstdint>

#include "FuzzSupport.h"
#include "app/errors.h"
#include "app/node_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto node = quorlen::app::create_node(quorlen::fuzz::description());
  quorlen::app::NodeSettings settings;
  const quorlen::fuzz::ScratchFile scratch(data, size, ".json");
  settings.settings_file = scratch.path();
  try {
    quorlen::app::apply_settings(node->op(), settings);
  } catch (const quorlen::app::AppError&) {
  }
  return 0;
}
