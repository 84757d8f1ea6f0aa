/// \file main.cpp  `quorlen`: command-line wiring only; the commands live in their own files.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <climits>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "DDImage/Version.h"
#include "cli/arguments.h"
#include "cli/knobs_command.h"
#include "cli/messages.h"
#include "cli/progress.h"
#include "cli/render_choices.h"
#include "cli/verbose.h"
#include "demo/demo_command.h"
#include "hosting/errors.h"
#include "hosting/frames/frame_list.h"
#include "hosting/frames/frame_pattern.h"
#include "hosting/frames/render_job.h"
#include "hosting/loader/operator_module.h"
#include "hosting/system/interrupt.h"
#include "text/strings.h"
#include "viewer/view_command.h"

namespace {

using namespace quorlen::hosting;
using quorlen::cli::Progress;

void add_plugin_option(CLI::App& app, std::optional<std::string>& plugin_path) {
  app.add_option(
         "--plugin-path", plugin_path,
         "Directory holding the plug-in module Quorlen.so, searched before QUORLEN_PLUGIN_PATH and the "
         "installation's own plug-in directory")
      ->type_name("DIR");
}

void add_settings_options(CLI::App& app, std::vector<std::string>& sets,
                          std::optional<std::string>& settings_file) {
  app.add_option(
         "--set", sets,
         "Set a knob, e.g. lightType=point, _pointLightPos=0,1.5,6, stripesNoiseDir=x|z, surfaceNoise=on; "
         "repeatable, applied in order after --settings")
      ->type_name("NAME=VALUE");
  app.add_option("--settings", settings_file,
                 "JSON object of knob names and values (numbers, booleans, labels, "
                 "arrays of three numbers, or keyframes {\"keys\": {FRAME: VALUE, ...}})")
      ->type_name("FILE.json");
}

NodeSettings node_settings(const std::vector<std::string>& sets,
                           const std::optional<std::string>& settings_file) {
  NodeSettings settings;
  settings.settings_file = settings_file;
  for (const auto& s : sets) settings.sets.push_back(parse_knob_setting(s));
  return settings;
}

int fail(int code, const std::string& message) {
  std::fflush(stdout);
  // Names read from files may hold control bytes; the message stays one line whatever they are.
  std::fprintf(stderr, "quorlen: error: %s\n",
               quorlen::text::escape_controls(quorlen::text::one_line(message)).c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quorlen: relights rendered images from their colour, normal and position passes"};
  app.name("quorlen");
  app.require_subcommand(1);
  std::optional<std::string> plugin_path;
  add_plugin_option(app, plugin_path);
  app.set_version_flag("-V,--version",
                       fmt::format("quorlen {} (host layer {})", QUORLEN_VERSION, DD::Image::kAbiVersion),
                       "Print the version and exit");
  app.footer(
      "Exit codes: 0 success, 1 bad usage or input, 2 plug-in not loadable, 3 render or write failure, "
      "130 interrupted.\nRun 'quorlen help COMMAND' for a command's options.");
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose,
               "Print the modules loaded, the inputs of each frame and the time each frame took, on stderr");

  // render
  RenderRequest request;
  std::vector<std::string> render_sets;
  std::optional<std::string> render_settings;
  std::optional<std::string> frames;
  CLI::App* render = app.add_subcommand("render", "Relight passes read from image files");
  render->fallthrough();
  static const char* const input_help[kInputCount] = {
      "Colour pass (input \"color\"); without one the colour is black, which suits \"light\" output",
      "Normal pass (input \"normal\"); required, directly or through --passes",
      "Position pass (input \"P\"), used by the point light",
      "Noise position pass (input \"noiseP\"); without one the noise is sampled at the normal"};
  for (int slot = 0; slot < kInputCount; ++slot)
    render
        ->add_option(std::string("--") + kInputLabels[static_cast<std::size_t>(slot)],
                     request.inputs[static_cast<std::size_t>(slot)], input_help[slot])
        ->type_name("FILE[:LAYER]");
  render
      ->add_option("--passes", request.passes,
                   "One multi-layer file mapped to the inputs by layer names (explicit input options win)")
      ->type_name("FILE");
  add_settings_options(*render, render_sets, render_settings);
  render->add_option("-o,--output", request.output, "Output image; the format follows the extension")
      ->type_name("OUT")
      ->required();
  render
      ->add_option(
          "--frames", frames,
          "Frames to render: numbers and ranges A-B[xSTEP] joined by commas, such as 1,3,5-10,20-30x2; "
          "paths use #, #### or %04d")
      ->type_name("LIST");
  render->add_flag(
      "--skip-existing", request.skip_existing,
      "Render only the frames whose output file does not exist yet (resumes a stopped sequence)");
  render->add_option("--threads", request.threads, "Worker threads (default: all cores)")
      ->type_name("N")
      ->check(quorlen::cli::whole_number(0, INT_MAX, "0: all cores"));
  render
      ->add_option(
          "--max-pixels", request.max_pixels,
          "Refuse inputs whose data window holds more pixels than this (guards against damaged headers)")
      ->type_name("N")
      ->capture_default_str()
      ->check(quorlen::cli::whole_number(1, LLONG_MAX));
  long long max_memory_mib = quorlen::hosting::kDefaultMaxMemory >> 20;
  render
      ->add_option("--max-memory", max_memory_mib,
                   "Refuse a frame whose bands of lines would take more than this many MiB (guards against "
                   "absurd widths)")
      ->type_name("MIB")
      ->capture_default_str()
      ->check(quorlen::cli::whole_number(1, LLONG_MAX >> 20));
  render->add_flag("--stats", request.stats,
                   "Print the time of each stage (read, render, write) and megapixels per second");
  render->add_flag("--dry-run", request.dry_run,
                   "Print the inputs, layers, output and knob values it would use, and stop");
  quorlen::cli::add_render_choices(*render, request);
  bool quiet = false;
  render->add_flag("-q,--quiet", quiet, "Print no warnings");
  bool no_progress = false;
  render->add_flag("--no-progress", no_progress,
                   "Never draw the progress bar (it is drawn only on a terminal)");

  // knobs
  std::vector<std::string> knob_sets;
  std::optional<std::string> knob_settings;
  bool json = false;
  CLI::App* knobs = app.add_subcommand("knobs", "Show the operator's knobs after applying settings");
  knobs->fallthrough();
  add_settings_options(*knobs, knob_sets, knob_settings);
  knobs->add_flag("--json", json, "Print the panel as JSON");
  double knob_frame = 0;
  knobs->add_option("--frame", knob_frame, "Show the values of animated settings at this frame (default 0)")
      ->type_name("N")
      ->check(quorlen::cli::frame_number());

  // view
  quorlen::viewer::ViewRequest view_request;
  std::vector<std::string> view_sets;
  std::optional<std::string> view_settings;
  bool no_browser = false;
  CLI::App* view = app.add_subcommand(
      "view", "Relight interactively in the browser: a live preview, knobs and lights placed by clicking");
  view->fallthrough();
  for (int slot = 0; slot < kInputCount; ++slot)
    view->add_option(std::string("--") + kInputLabels[static_cast<std::size_t>(slot)],
                     view_request.render.inputs[static_cast<std::size_t>(slot)], input_help[slot])
        ->type_name("FILE[:LAYER]");
  view->add_option("--passes", view_request.render.passes,
                   "One multi-layer file mapped to the inputs by layer names (explicit input options win)")
      ->type_name("FILE");
  add_settings_options(*view, view_sets, view_settings);
  quorlen::cli::add_read_choices(*view, view_request.render);
  view->add_option("-o,--output", view_request.output,
                   "Where the page's Render button writes the full frame; the format follows the extension")
      ->type_name("OUT");
  view->add_option("--save", view_request.save, "Where the page's Save button writes the settings")
      ->type_name("FILE.json");
  view->add_option("--port", view_request.port, "Port on 127.0.0.1 to serve on (default: a free one)")
      ->type_name("N")
      ->check(quorlen::cli::whole_number(0, 65535, "0: a free port"));
  view->add_flag("--no-browser", no_browser, "Only print the address; do not open a browser");
  view->add_option(
          "--max-pixels", view_request.render.max_pixels,
          "Refuse inputs whose data window holds more pixels than this (guards against damaged headers)")
      ->type_name("N")
      ->capture_default_str()
      ->check(quorlen::cli::whole_number(1, LLONG_MAX));

  // demo
  std::string demo_dir = "demo-out";
  int demo_threads = 0;
  CLI::App* demo = app.add_subcommand(
      "demo", "Render the built-in demo scene: passes, relit previews and a contact sheet");
  demo->fallthrough();
  demo->add_option("-o,--output", demo_dir, "Directory for the demo's files (created if missing)")
      ->capture_default_str()
      ->type_name("DIR");
  demo->add_option("--threads", demo_threads, "Worker threads (default: all cores)")
      ->type_name("N")
      ->check(quorlen::cli::whole_number(0, INT_MAX, "0: all cores"));

  // help
  std::optional<std::string> help_command;
  CLI::App* help = app.add_subcommand("help", "Print the usage of quorlen or of one command");
  help->add_option("COMMAND", help_command, "The command to describe");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help and --version
  } catch (const CLI::ParseError& e) {
    return fail(kExitUsage,
                quorlen::cli::usage_message(app, e, std::vector<std::string>(argv + 1, argv + argc)));
  }

  install_interrupt_handlers();
  // A write past a file-size limit then fails as a write error, which removes the unfinished file, instead of
  // killing the process with it in place.
  std::signal(SIGXFSZ, SIG_IGN);
  const auto warn = [&quiet](const std::string& w) {
    if (quiet) return;
    fmt::print(stderr, "quorlen: warning: {}\n", quorlen::text::escape_controls(quorlen::text::one_line(w)));
  };
  const auto load = [&]() -> const DD::Image::Op::Description& {
    std::string module;
    const auto& description = load_operator(plugin_path, &module);
    if (verbose) quorlen::cli::report_modules(module, stderr);
    return description;
  };
  try {
    if (help->parsed()) {
      quorlen::cli::print_help(app, help_command, std::cout);
    } else if (render->parsed()) {
      request.settings = node_settings(render_sets, render_settings);
      if (frames) request.frames = parse_frame_list(*frames);
      request.max_memory = max_memory_mib << 20;
      // Usage problems are reported before the plug-in is looked for.
      const int frame_count = static_cast<int>(frames_of(request).size());
      request.threads = quorlen::cli::usable_threads(request.threads, quorlen::cli::available_cores(), warn);
      const auto& description = load();
      const auto style = no_progress || request.dry_run   ? Progress::Style::none
                         : Progress::stderr_is_terminal() ? Progress::Style::bar
                         : request.frames                 ? Progress::Style::lines
                                                          : Progress::Style::none;
      Progress progress(style, frame_count);
      RenderObserver observer;
      if (!quiet)
        observer.warning = [&](const std::string& w) {
          progress.finish();
          warn(w);
        };
      observer.frame_started = [&](int frame, int index, int) { progress.begin_frame(frame, index); };
      observer.frame_progress = [&](double fraction) { progress.frame_progress(fraction); };
      observer.frame_skipped = [&](int frame, int index, int) { progress.skip_frame(frame, index); };
      // Verbose lines name the frame only in a sequence; a single render has no frame number.
      const auto tag = [&](int frame) { return request.frames ? fmt::format("frame {}: ", frame) : ""; };
      observer.frame_finished = [&](int frame, int index, int, double seconds) {
        if (verbose) {
          progress.finish();
          fmt::print(stderr, "quorlen: {}rendered in {:.3f} s\n", tag(frame), seconds);
        }
        progress.end_frame(frame, index);
      };
      if (verbose)
        observer.frame_inputs = [&](int frame, const std::vector<std::string>& inputs) {
          progress.finish();
          quorlen::cli::report_image_module(stderr);
          for (const auto& line : inputs) fmt::print(stderr, "quorlen: {}{}\n", tag(frame), line);
        };
      run_render(request, description, std::cout, observer);
      progress.finish();
    } else if (knobs->parsed()) {
      NodeSettings settings = node_settings(knob_sets, knob_settings);
      settings.frame = knob_frame;
      quorlen::cli::run_knobs(load(), settings, json, std::cout);
    } else if (view->parsed()) {
      view_request.render.settings = node_settings(view_sets, view_settings);
      view_request.open_browser = !no_browser;
      // The render command the page offers names the inputs as this command line did.
      auto& args = view_request.input_arguments;
      for (int slot = 0; slot < kInputCount; ++slot)
        if (const auto& input = view_request.render.inputs[static_cast<std::size_t>(slot)])
          args.insert(args.end(), {std::string("--") + kInputLabels[static_cast<std::size_t>(slot)], *input});
      if (view_request.render.passes) args.insert(args.end(), {"--passes", *view_request.render.passes});
      if (view_request.render.light_space == LightSpace::world)
        args.insert(args.end(), {"--light-space", "world"});
      if (view_request.render.normal_encoding == NormalEncoding::unsigned_values)
        args.insert(args.end(), {"--normal-encoding", "unsigned"});
      quorlen::viewer::run_view(view_request, load(), std::cout, warn);
    } else if (demo->parsed()) {
      demo_threads = quorlen::cli::usable_threads(demo_threads, quorlen::cli::available_cores(), warn);
      quorlen::demo::run_demo(load(), demo_dir, demo_threads, std::cout, std::cerr);
    }
  } catch (const AppError& e) {
    // A call cut short by the signal fails in its own words; the cause is the interrupt.
    if (interrupted()) return fail(kExitInterrupted, "interrupted; unfinished output removed");
    return fail(e.code(), e.what());
  } catch (const std::bad_alloc&) {
    return fail(kExitOutput, "out of memory");
  } catch (const std::exception& e) {
    return fail(kExitOutput, e.what());
  }
  std::cout.flush();
  if (!std::cout) return fail(kExitOutput, "cannot write to standard output");
  return kExitOk;
}
