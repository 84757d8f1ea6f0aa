/// \file view_command.cpp  `quorlen view`'s options: the inputs as render reads them, and where the page's
/// buttons write.
#include "viewer/view_command.h"

#include <quorlen/frames.h>

#include <climits>
#include <iostream>
#include <memory>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/render_choices.h"

namespace quorlen::cli {
namespace {

// The render command the page offers names the inputs as this command line did.
std::vector<std::string> input_arguments(const hosting::RenderRequest& render) {
  std::vector<std::string> args;
  for (int slot = 0; slot < hosting::kInputCount; ++slot)
    if (const auto& input = render.inputs[static_cast<std::size_t>(slot)])
      args.insert(args.end(),
                  {std::string("--") + hosting::kInputLabels[static_cast<std::size_t>(slot)], *input});
  if (render.passes) args.insert(args.end(), {"--passes", *render.passes});
  if (render.light_space)
    args.insert(args.end(), {"--light-space", std::string(hosting::word_of(*render.light_space))});
  if (render.normal_encoding)
    args.insert(args.end(), {"--normal-encoding", std::string(hosting::word_of(*render.normal_encoding))});
  if (render.normal_space)
    args.insert(args.end(), {"--normal-space", std::string(hosting::word_of(*render.normal_space))});
  if (render.normal_flip) args.insert(args.end(), {"--normal-flip", hosting::word_of(*render.normal_flip)});
  return args;
}

}  // namespace

Command add_view_command(CLI::App& app) {
  struct Options {
    viewer::ViewRequest request;
    SettingsOptions settings;
    bool no_browser = false;
    std::optional<std::string> frames;
  };
  auto o = std::make_shared<Options>();
  CLI::App* view = app.add_subcommand(
      "view", "Relight interactively in the browser: a live preview, knobs and lights placed by clicking");
  view->fallthrough();
  add_input_options(*view, o->request.render);
  add_normal_options(*view, o->request.render);
  o->settings.add_to(*view);
  view->add_option("-o,--output", o->request.output,
                   "Where the page's Render button writes the full frame; the format follows the extension")
      ->type_name("OUT");
  view->add_option("--save", o->request.save, "Where the page's Save button writes the settings")
      ->type_name("FILE.json");
  view->add_option("--port", o->request.port, "Port on 127.0.0.1 to serve on (default: a free one)")
      ->type_name("N")
      ->check(whole_number(0, 65535, "0: a free port"));
  view->add_option("--frames", o->frames,
                   "The shot: frames as render takes them (1001-1100, 1,3,5-10x2); paths use #, #### or %04d")
      ->type_name("LIST");
  view->add_option("--frame", o->request.frame, "The frame to open at (default: the shot's first, or 0)")
      ->type_name("N");
  view->add_flag("--no-browser", o->no_browser, "Only print the address; do not open a browser");
  return {view, [o](const Program& program) {
            viewer::ViewRequest& request = o->request;
            request.render.settings = o->settings.settings();
            request.open_browser = !o->no_browser;
            if (o->frames) request.render.frames = hosting::parse_frame_list(*o->frames);
            request.input_arguments = input_arguments(request.render);
            viewer::run_view(request, program.load(), std::cout,
                             [&program](const std::string& w) { program.warn(w); });
          }};
}

}  // namespace quorlen::cli
