/// \file render_choices.h  The render options that say how a renderer's passes are read and the output
/// written: light space, normal encoding, alpha, data type and compression.
#pragma once

#include <CLI/CLI.hpp>

#include "hosting/frames/render_job.h"

namespace quorlen::cli {

/// Adds the options saying how the passes are read (light space, normal encoding), writing into `request`.
void add_read_choices(CLI::App& app, hosting::RenderRequest& request);

/// Adds the read choices and the output's options to `render`, writing into `request`.
void add_render_choices(CLI::App& render, hosting::RenderRequest& request);

}  // namespace quorlen::cli
