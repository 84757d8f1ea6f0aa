/// \file render_job.cpp  Frames, input resolution and the read-render-write loop of a render job.
#include <fmt/format.h>
#include <fmt/ostream.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/interrupt.h>
#include <quorlen/node.h>
#include <quorlen/render.h>

#include <filesystem>
#include <tuple>

#include "DDImageHost/KnobAccess.h"
#include "hosting/frames/frame_camera.h"
#include "hosting/frames/frame_pattern.h"
#include "hosting/frames/frame_pipeline.h"
#include "hosting/frames/normal_frame.h"
#include "hosting/frames/run_warnings.h"
#include "hosting/images/codecs.h"
#include "hosting/images/image_writer.h"
#include "hosting/images/layer_mapping.h"
#include "hosting/images/same_file.h"
#include "hosting/rig/frame_lights.h"
#include "hosting/rig/light_factor.h"
#include "hosting/system/atomic_file.h"
#include "hosting/system/leftover_temps.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

bool is_file(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool output_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// Patterns are substituted only when frames were asked for; frames_of has checked the combination.
std::string path_for(const RenderRequest& request, const std::string& path, int frame) {
  return request.frames ? substitute_frame(path, frame) : path;
}

std::string option_name(int slot) { return std::string("--") + kInputLabels[static_cast<std::size_t>(slot)]; }

// A task killed outright (SIGKILL, a node lost) cannot remove its temporary output; the next run over the
// same frames does, so that a retried chunk leaves nothing behind.
void remove_leftovers(const RenderRequest& request, const std::vector<int>& frames,
                      const RenderObserver& observer) {
  std::vector<std::string> targets;
  targets.reserve(frames.size());
  for (const int frame : frames) targets.push_back(path_for(request, request.output, frame));
  const auto removed = remove_leftover_temporaries(targets);
  if (!removed.empty() && observer.warning)
    observer.warning(fmt::format(
        "removed {} unfinished temporary file{} left by a render that was killed ({}{})", removed.size(),
        removed.size() == 1 ? "" : "s", removed.front(), removed.size() > 1 ? ", ..." : ""));
}

// Each light's settings warnings, named after the light in a rig.
void check_lights(RunWarnings& warned, FrameLights& lights, const FrameSources& sources) {
  for (std::size_t i = 0; i < lights.nodes.size(); ++i)
    if (lights.kept[i])
      warned.check_settings(
          *lights.nodes[i].node, sources,
          lights.single() ? std::string() : fmt::format("light \"{}\": ", lights.nodes[i].name));
}

// A light that reaches almost none of the surface is the sign of a light on the wrong side: most often world
// space passes lit in the node's own convention, whose ground then faces away from every light above it.
void warn_unreached(RunWarnings& warned, const FrameLights& lights, const LightReach& reach,
                    LightSpace space) {
  if (reach.surface < 100) return;
  std::size_t rendered = 0;
  for (std::size_t n = 0; n < lights.nodes.size(); ++n) {
    if (!lights.kept[n]) continue;
    const std::size_t i = rendered++;
    if (i >= reach.lit.size() || reach.lit[i] * 100 >= reach.surface) continue;
    // A light turned off says so itself.
    Node& node = *lights.nodes[n].node;
    if (node.value_text("lightBrightness") == "0" || node.value_text("_lightColor") == "0,0,0") continue;
    const std::string who = lights.single() ? "the light" : fmt::format("light \"{}\"", lights.nodes[n].name);
    const bool z_up = space == LightSpace::node && reach.facing_z * 5 >= reach.surface * 2;
    // Said after the run, once a light, whatever the frame: the advice does not change with the count.
    warned.say_after_run(fmt::format("{} reaches under 1% of the surface pixels; {}", who,
                                     z_up ? "the normals look like a z-up world's: if the passes are in "
                                            "world space, give --light-space world"
                                          : "check its direction or position"));
  }
}

}  // namespace

void refuse_output_target(const RenderRequest& request, const FrameSources& sources, int frame,
                          const std::string& target, bool may_be_settings) {
  refuse_directory_target(target);
  if (request.passes) refuse_output_over_input(target, path_for(request, *request.passes, frame), "--passes");
  for (int slot = 0; slot < kInputCount; ++slot)
    if (const auto& input = sources.inputs[static_cast<std::size_t>(slot)])
      refuse_output_over_input(target, input->file, option_name(slot));
  if (request.settings.settings_file && !may_be_settings)
    refuse_output_over_input(target, path_for(request, *request.settings.settings_file, frame), "--settings");
}

PassReading pass_reading(const RenderRequest& request, int frame) {
  const PassChoices given{request.light_space, request.normal_encoding, request.normal_space,
                          request.normal_flip};
  // The settings file is read only when the command line leaves something to it.
  if (given.light_space && given.normal_encoding && given.normal_space && given.normal_flip)
    return pass_reading(RigFile{}, given);
  return pass_reading(rig_of(settings_at(request, frame)), given);
}

void check_request(const RenderRequest& request) {
  if (request.threads < 0)
    throw usage_error(fmt::format("threads: {} is negative (0 uses every core)", request.threads));
  frames_of(request);
}

std::vector<int> frames_of(const RenderRequest& request) {
  std::vector<std::pair<std::string, std::string>> paths;  // option, path
  for (int slot = 0; slot < kInputCount; ++slot)
    if (const auto& p = request.inputs[static_cast<std::size_t>(slot)])
      paths.emplace_back(option_name(slot), *p);
  if (request.passes) paths.emplace_back("--passes", *request.passes);
  if (request.settings.settings_file) paths.emplace_back("--settings", *request.settings.settings_file);
  paths.emplace_back("-o", request.output);

  if (!request.frames) {
    for (const auto& [option, path] : paths)
      if (has_frame_pattern(path))
        throw usage_error(fmt::format(
            "{} \"{}\" holds a frame pattern (# or %0Nd) but no --frames range was given", option, path));
    return {0};
  }
  std::vector<int> frames = request.frames->frames();
  if (frames.size() > 1 && !has_frame_pattern(request.output))
    throw usage_error(
        fmt::format("-o \"{}\" has no frame pattern (such as #### or %04d), so each of the {} frames "
                    "would overwrite it",
                    request.output, frames.size()));
  return frames;
}

FrameSources resolve_sources(const RenderRequest& request, int frame, std::ostream* mapping_report) {
  FrameSources sources;
  sources.max_pixels = request.max_pixels;
  sources.max_memory = request.max_memory;
  const PassReading reading = pass_reading(request, frame);
  sources.light_space = reading.light_space;
  sources.normal_encoding = reading.normal_encoding;
  sources.normal_space = reading.normal_space;
  sources.normal_flip = reading.normal_flip;
  if (const auto space = request.input_spaces.find("color"); space != request.input_spaces.end())
    sources.colour_space = space->second;
  for (int slot = 0; slot < kInputCount; ++slot)
    if (const auto& text = request.inputs[static_cast<std::size_t>(slot)])
      sources.inputs[static_cast<std::size_t>(slot)] =
          parse_input_spec(path_for(request, *text, frame), is_file);
  if (!request.passes) return sources;

  const std::string passes = path_for(request, *request.passes, frame);
  const ImageFile file(passes);
  const PassMapping map = map_passes(file.layers());
  const std::array<const std::optional<std::string>*, kInputCount> chosen = {
      &map.color, &map.normal, &map.position, &map.noise_position};
  if (mapping_report) fmt::print(*mapping_report, "passes  {}  (layers: {})\n", passes, file.layer_list());
  for (int slot = 0; slot < kInputCount; ++slot) {
    auto& input = sources.inputs[static_cast<std::size_t>(slot)];
    const auto& layer = *chosen[static_cast<std::size_t>(slot)];
    if (input || !layer) continue;
    input = InputSpec{passes, layer->empty() ? std::nullopt : std::optional<std::string>(*layer)};
    if (mapping_report)
      fmt::print(*mapping_report, "mapped  {} <- {}: {}\n", kInputLabels[static_cast<std::size_t>(slot)],
                 text::escape_controls(layer->empty() ? std::string("(plain)") : *layer),
                 map.reasons[static_cast<std::size_t>(slot)]);
  }
  if (!sources.inputs[kNormal])
    throw usage_error(
        fmt::format("\"{}\" has no normal layer (one whose last name is N, Nn, Normal, Normals or "
                    "Nworld; layers: {}); give --normal FILE[:LAYER]",
                    passes, file.layer_list()));
  return sources;
}

StageTimes run_render(const RenderRequest& request, const DD::Image::Op::Description& description,
                      std::ostream& out, const RenderObserver& observer) {
  const std::vector<int> frames = frames_of(request);
  check_input_spaces(request.input_spaces);
  // Problems with the output are found before any frame is read.
  const std::string first_output = path_for(request, request.output, frames.front());
  refuse_directory_target(first_output);
  plan_output(first_output, request.output_options);
  if (!request.dry_run) check_writable_target(first_output);
  if (request.threads > 0) set_library_threads(request.threads);

  StageTimes total;
  RunWarnings warned(observer.warning);
  const int count = static_cast<int>(frames.size());
  if (!request.dry_run) remove_leftovers(request, frames, observer);
  // A dry run over a list reports its first frame in full and the others in a summary; each is still checked.
  bool reported = false;
  std::vector<int> skipped;
  for (std::size_t index = 0; index < frames.size(); ++index) {
    const int frame = frames[index];
    throw_if_interrupted();
    // Outputs are renamed into place whole, so one that exists is a finished frame.
    if (request.skip_existing && output_exists(path_for(request, request.output, frame))) {
      if (request.dry_run) skipped.push_back(frame);
      if (observer.frame_skipped && !request.dry_run)
        observer.frame_skipped(frame, static_cast<int>(index), count);
      continue;
    }
    refuse_directory_target(path_for(request, request.output, frame));
    if (observer.frame_started && !request.dry_run)
      observer.frame_started(frame, static_cast<int>(index), count);
    Stopwatch clock;
    StageTimes times;

    FrameLights lights = frame_lights(description, request, frame);

    const bool report = request.dry_run && !reported;
    if (report && request.frames) fmt::print(out, "frame {}\n", frame);
    FrameSources sources = resolve_sources(request, frame, report ? &out : nullptr);
    OutputPlan plan = plan_output(path_for(request, request.output, frame), request.output_options);
    sources.colour_alpha =
        request.alpha == AlphaChoice::colour && plan.encoding == OutputEncoding::float_rgba;
    add_masks(lights, request, frame, sources);
    if (!lights.single() && request.light_layers && plan.format_name == "openexr" &&
        plan.encoding == OutputEncoding::float_rgba)
      plan.layers = lights.kept_names();
    refuse_output_target(request, sources, frame, path_for(request, request.output, frame), false);
    // Shadows, spots and camera-space normals need the whole frame's P, and all but spots its camera.
    bool frame_p = sources.normal_space == NormalSpace::camera;
    int fields = 0;
    for (std::size_t i = 0; i < lights.nodes.size(); ++i)
      if (lights.kept[i] && needs_frame_p(lights.nodes[i].light)) {
        frame_p = true;
        if (lights.nodes[i].light->shadow) ++fields;
      }
    const bool show_camera = report && sources.inputs[kPosition];
    if (frame_p || show_camera) sources.frame_pixel_bytes = frame_camera_pixel_bytes(fields);
    std::vector<std::string> warnings;
    FrameInputs inputs(sources, warnings);
    std::unique_ptr<FrameCamera> camera;
    if (frame_p || show_camera) camera = frame_camera(sources, inputs.geometry());
    inputs.set_normal_frame(sources.normal_flip, normal_axes(sources.normal_space, camera.get()));
    std::vector<std::unique_ptr<LightFactor>> factors;
    const auto make_factors = [&] {
      for (std::size_t i = 0; i < lights.nodes.size(); ++i)
        if (lights.kept[i])
          factors.push_back(needs_frame_p(lights.nodes[i].light)
                                ? LightFactor::make(*lights.nodes[i].node, *lights.nodes[i].light, *camera,
                                                    fmt::format("light \"{}\"", lights.nodes[i].name))
                                : nullptr);
    };
    for (const auto& w : warnings) warned.say_once(w);
    const ImageGeometry& geometry = inputs.geometry();
    if (observer.frame_inputs && !request.dry_run) {
      std::vector<std::string> lines;
      for (int slot = 0; slot < kInputCount; ++slot)
        if (const auto d = inputs.describe(slot))
          lines.push_back(fmt::format("{:<7} {}", kInputLabels[static_cast<std::size_t>(slot)], *d));
      lines.push_back(fmt::format("output  {}", plan.path));
      observer.frame_inputs(frame, lines);
    }

    if (request.dry_run && !report) {
      make_factors();
      check_lights(warned, lights, sources);
      continue;
    }
    if (request.dry_run) {
      reported = true;
      for (int slot = 0; slot < kInputCount; ++slot)
        fmt::print(out, "{:<7} {}\n", kInputLabels[static_cast<std::size_t>(slot)],
                   inputs.describe(slot).value_or(slot == kColor ? "(black)" : "(unconnected)"));
      fmt::print(out, "colour  {}; {}\n", colour_config_line(), inputs.describe_colour_spaces());
      fmt::print(out, "light   {}\n", describe(sources.light_space, sources.normal_encoding));
      fmt::print(out, "normals {} space; flip {}\n", word_of(sources.normal_space),
                 word_of(sources.normal_flip));
      if (camera) fmt::print(out, "camera  {}\n", camera->describe());
      fmt::print(out, "alpha   {}\n", inputs.describe_alpha().value_or("0 (as the node writes it)"));
      fmt::print(out, "output  {}  {}, {}\n", plan.path, describe(plan), describe_box(geometry.data));
      print_lights(out, lights, description, request, frame);
      make_factors();
      check_lights(warned, lights, sources);
      continue;
    }

    make_factors();
    std::vector<LightPass> passes = light_passes(lights);
    for (std::size_t k = 0; k < passes.size(); ++k) passes[k].factor = factors[k].get();
    clock.lap();
    if (const auto source = inputs.colour_source())
      std::tie(plan.attributes_from, plan.attributes_part) = *source;
    ImageWriter writer(plan, geometry);
    int lines_done = 0;
    const StreamOptions stream{request.threads, 0, 3};
    LightReach reach;
    times = stream_lights(
        inputs, passes, !plan.layers.empty(), writer, stream,
        [&](int lines) {
          lines_done += lines;
          if (observer.frame_progress)
            observer.frame_progress(static_cast<double>(lines_done) / std::max(1, geometry.data.h()));
          throw_if_interrupted();
        },
        &reach);
    throw_if_interrupted();
    writer.commit();
    check_lights(warned, lights, sources);
    warn_unreached(warned, lights, reach, sources.light_space);
    warned.add_non_finite(request.frames ? std::optional<int>(frame) : std::nullopt,
                          writer.non_finite_pixels());
    if (sources.normal_encoding == NormalEncoding::signed_values && inputs.normals_look_unsigned())
      warned.normals_without_negatives(inputs.describe(kNormal).value_or(""));
    times.wall = clock.lap();
    total += times;
    if (observer.frame_finished) observer.frame_finished(frame, static_cast<int>(index), count, times.wall);
  }
  if (request.dry_run && request.frames) {
    fmt::print(out, "frames  {} ({} frame{}, {} to render", describe_frames(frames), count,
               count == 1 ? "" : "s", count - static_cast<int>(skipped.size()));
    if (skipped.empty())
      fmt::print(out, ")\n");
    else
      fmt::print(out, ", {} skipped as their output exists: {})\n", skipped.size(), describe_frames(skipped));
  }
  warned.finish();
  if (request.stats && !request.dry_run) out << format_stats(total);
  return total;
}

}  // namespace quorlen::hosting
