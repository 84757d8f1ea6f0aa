/// \file render_choices.h  The options saying where the passes come from and how they are read (shared by
/// render and view), and how the output is written.
#pragma once

#include <quorlen/render.h>

#include <CLI/CLI.hpp>

namespace quorlen::cli {

/// The input options (--color, --normal, --P, --noiseP, --passes), --max-pixels, and how the passes are
/// read (light space, normal encoding), writing into `request`.
void add_input_options(CLI::App& app, hosting::RenderRequest& request);

/// The normal input's space and flipped axes (camera space needs the whole frame's P for its camera).
void add_normal_options(CLI::App& render, hosting::RenderRequest& request);

/// The output's alpha, data type and compression, writing into `request`.
void add_output_choices(CLI::App& render, hosting::RenderRequest& request);

}  // namespace quorlen::cli
