/// \file render_command.cpp  `quorlen render`: its options, and the job run with progress and warnings.
#include <fmt/format.h>
#include <quorlen/frames.h>
#include <quorlen/render.h>

#include <climits>
#include <iostream>
#include <memory>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/farm_options.h"
#include "cli/progress.h"
#include "cli/render_choices.h"
#include "cli/verbose.h"

namespace quorlen::cli {
namespace {

struct RenderOptions {
  hosting::RenderRequest request;
  SettingsOptions settings;
  std::optional<std::string> frames;
  long long max_memory_mib = hosting::kDefaultMaxMemory >> 20;
  bool no_progress = false;
  FarmOptions farm;
};

// The request as the command line gives it, with the problems found before the module is looked for.
void prepare(RenderOptions& o) {
  hosting::RenderRequest& request = o.request;
  request.settings = o.settings.settings();
  if (o.frames) request.frames = hosting::parse_frame_list(*o.frames);
  o.farm.apply(request);
  request.max_memory = o.max_memory_mib << 20;
  hosting::check_request(request);
}

void run(RenderOptions& o, const Program& program) {
  hosting::RenderRequest& request = o.request;
  prepare(o);
  const int frame_count = static_cast<int>(hosting::frames_of(request).size());
  const auto warn = [&program](const std::string& w) { program.warn(w); };
  request.threads = usable_threads(request.threads, available_cores(), warn);
  const auto& description = program.load();
  const auto style = Progress::choose(o.farm.progress_format, o.no_progress || request.dry_run,
                                      Progress::stderr_is_terminal(), request.frames.has_value());
  Progress progress(style, frame_count);
  hosting::RenderObserver observer;
  if (!program.quiet)
    observer.warning = [&](const std::string& w) {
      progress.finish();
      program.warn(w);
    };
  observer.frame_started = [&](int frame, int index, int) { progress.begin_frame(frame, index); };
  observer.frame_progress = [&](double fraction) { progress.frame_progress(fraction); };
  observer.frame_skipped = [&](int frame, int index, int) { progress.skip_frame(frame, index); };
  // Verbose lines name the frame only in a sequence; a single render has no frame number.
  const auto tag = [&](int frame) { return request.frames ? fmt::format("frame {}: ", frame) : ""; };
  observer.frame_finished = [&](int frame, int index, int, double seconds) {
    if (program.verbose) {
      progress.finish();
      fmt::print(stderr, "quorlen: {}rendered in {:.3f} s\n", tag(frame), seconds);
    }
    progress.end_frame(frame, index);
  };
  if (program.verbose)
    observer.frame_inputs = [&](int frame, const std::vector<std::string>& inputs) {
      progress.finish();
      report_image_module(stderr);
      for (const auto& line : inputs) fmt::print(stderr, "quorlen: {}{}\n", tag(frame), line);
    };
  hosting::run_render(request, description, std::cout, observer);
  progress.finish();
}

}  // namespace

Command add_render_command(CLI::App& app) {
  auto o = std::make_shared<RenderOptions>();
  CLI::App* render = app.add_subcommand("render", "Relight passes read from image files");
  render->fallthrough();
  add_input_options(*render, o->request);
  o->settings.add_to(*render);
  render->add_option("-o,--output", o->request.output, "Output image; the format follows the extension")
      ->type_name("OUT")
      ->required();
  render
      ->add_option(
          "--frames", o->frames,
          "Frames to render: numbers and ranges A-B[xSTEP] joined by commas, such as 1,3,5-10,20-30x2; "
          "paths use #, #### or %04d")
      ->type_name("LIST");
  render->add_flag(
      "--skip-existing", o->request.skip_existing,
      "Render only the frames whose output file does not exist yet (resumes a stopped sequence)");
  render->add_option("--threads", o->request.threads, "Worker threads (default: all cores)")
      ->type_name("N")
      ->check(whole_number(0, INT_MAX, "0: all cores"));
  render
      ->add_option("--max-memory", o->max_memory_mib,
                   "Refuse a frame whose bands of lines would take more than this many MiB (guards against "
                   "absurd widths)")
      ->type_name("MIB")
      ->capture_default_str()
      ->check(whole_number(1, LLONG_MAX >> 20));
  render->add_flag("--stats", o->request.stats,
                   "Print the time of each stage (read, render, write) and megapixels per second");
  render->add_flag("--dry-run", o->request.dry_run,
                   "Print the inputs, layers, output and knob values it would use, and stop");
  add_output_choices(*render, o->request);
  add_normal_options(*render, o->request);
  render->add_option("--solo", o->request.solo, "Render only this light of the rig (repeatable)")
      ->type_name("LIGHT");
  render->add_option("--mute", o->request.mute, "Leave this light of the rig out (repeatable)")
      ->type_name("LIGHT");
  render
      ->add_option_function<std::string>(
          "--light-layers", [o](const std::string& w) { o->request.light_layers = w == "each"; },
          "Layers of a rig's EXR output: each (one per light beside the beauty; default) or none (the beauty "
          "alone)")
      ->type_name("each|none")
      ->check(CLI::IsMember({"each", "none"}).description(""));
  auto quiet = std::make_shared<bool>(false);
  render->add_flag("-q,--quiet", *quiet, "Print no warnings");
  render->add_flag("--no-progress", o->no_progress,
                   "Never draw the progress bar (it is drawn only on a terminal)");
  o->farm.add_to(*render);
  return {render,
          [o, quiet](const Program& program) {
            Program p = program;
            p.quiet = *quiet;
            run(*o, p);
          },
          [o] { prepare(*o); }};
}

}  // namespace quorlen::cli
