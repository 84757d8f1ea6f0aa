/// \file render_choices.cpp  Options choosing where passes come from, how they are read and the output
/// written.
#include "cli/render_choices.h"

#include <quorlen/colour.h>
#include <quorlen/errors.h>

#include <climits>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "text/strings.h"

namespace quorlen::cli {
namespace {

// A choice among words, case ignored; CLI11's own message for another word names the accepted ones.
template <class Words>
CLI::Option* add_choice(CLI::App& app, const std::string& name, const Words& choices, const std::string& help,
                        std::function<void(const std::string&)> chosen) {
  const std::vector<std::string> words(choices.begin(), choices.end());
  return app
      .add_option_function<std::string>(
          name, [chosen](const std::string& word) { chosen(text::lower(word)); }, help)
      ->type_name(text::join(words, "|"))
      ->check(CLI::IsMember(words, CLI::ignore_case).description(""));
}

}  // namespace

void add_input_options(CLI::App& app, hosting::RenderRequest& request) {
  static const char* const input_help[hosting::kInputCount] = {
      "Colour pass (input \"color\"); without one the colour is black, which suits \"light\" output",
      "Normal pass (input \"normal\"); required, directly or through --passes",
      "Position pass (input \"P\"), used by the point light",
      "Noise position pass (input \"noiseP\"); without one the noise is sampled at the normal"};
  for (int slot = 0; slot < hosting::kInputCount; ++slot)
    app.add_option(std::string("--") + hosting::kInputLabels[static_cast<std::size_t>(slot)],
                   request.inputs[static_cast<std::size_t>(slot)], input_help[slot])
        ->type_name("FILE[:LAYER]");
  app.add_option("--passes", request.passes,
                 "One multi-layer file mapped to the inputs by layer names (explicit input options win)")
      ->type_name("FILE");
  app.add_option(
         "--max-pixels", request.max_pixels,
         "Refuse inputs whose data window holds more pixels than this (guards against damaged headers)")
      ->type_name("N")
      ->capture_default_str()
      ->check(whole_number(1, LLONG_MAX));
  add_choice(app, "--light-space", hosting::kLightSpaceWords,
             "Space of the light knobs: node (as the node defines them in any host; default) or world (the "
             "passes' own world space, whatever its up axis)",
             [&request](const std::string& w) { request.light_space = hosting::light_space_named(w); });
  app.add_option_function<std::string>(
         "--ocio-config", [](const std::string& path) { hosting::choose_colour_config(path); },
         "OpenColorIO config to use instead of $OCIO or, without it, Quorlen's own")
      ->type_name("FILE");
  app.add_option_function<std::vector<std::string>>(
         "--colorspace",
         [&request](const std::vector<std::string>& choices) {
           for (const std::string& choice : choices) {
             const auto equals = choice.find('=');
             if (equals == std::string::npos)
               throw CLI::ValidationError("--colorspace",
                                          "\"" + choice + "\" is not INPUT=NAME, such as color=srgb_texture");
             request.input_spaces[choice.substr(0, equals)] = choice.substr(equals + 1);
           }
         },
         "Colour space of an input, a name of the colour config (only color: the other inputs are data); "
         "without it the space the file names for itself when the config knows it, else the config's "
         "file rules; color=raw reads the file as it is")
      ->type_name("color=NAME");
  add_choice(
      app, "--normal-encoding", hosting::kNormalEncodingWords,
      "How the normal input stores vectors: signed (as they are; default) or unsigned (0..1, as in "
      "8-bit normal maps, decoded as 2v-1)",
      [&request](const std::string& w) { request.normal_encoding = hosting::normal_encoding_named(w); });
}

void add_normal_options(CLI::App& render, hosting::RenderRequest& request) {
  add_choice(
      render, "--normal-space", hosting::kNormalSpaceWords,
      "Space of the normal input: world (P's own; default) or camera (x right, y up, z along the view), "
      "turned into P's space with the camera found from P's header or fitted to P",
      [&request](const std::string& w) { request.normal_space = hosting::normal_space_named(w); });
  render
      .add_option_function<std::string>(
          "--normal-flip",
          [&request](const std::string& w) {
            request.normal_flip = hosting::normal_flip_named(w, "--normal-flip");
          },
          "Axes of the normal input to negate as it is read, before its space: any of x,y,z (a green channel "
          "pointing down: y), or none")
      ->type_name("x,y,z")
      ->check(CLI::Validator(
          [](std::string& w) -> std::string {
            try {
              hosting::normal_flip_named(w, "--normal-flip");
            } catch (const hosting::Error& e) {
              // CLI11 names the option itself.
              const std::string message = e.what();
              return message.substr(message.find(": ") + 2);
            }
            return {};
          },
          ""));
}

void add_output_choices(CLI::App& render, hosting::RenderRequest& request) {
  add_choice(render, "--alpha", std::vector<std::string>{"colour", "zero"},
             "Alpha of EXR and TIFF outputs: colour (the colour input's alpha, or its beauty's, when it has "
             "one; default) or zero (as the node writes it)",
             [&request](const std::string& w) {
               request.alpha = w == "zero" ? hosting::AlphaChoice::zero : hosting::AlphaChoice::colour;
             });
  add_choice(render, "-d,--data-type", std::vector<std::string>{"half", "float", "uint8", "uint16"},
             "Sample type of the output: half or float for EXR and TIFF (default float), uint8 or uint16 for "
             "PNG and TIFF previews (through --display and --view; PNG's default uint8)",
             [&request](const std::string& w) { request.output_options.type = hosting::data_type_named(w); });
  render
      .add_option("--output-colorspace", request.output_options.colour_space,
                  "Colour space of float outputs (EXR, float TIFF, HDR), a name of the colour config "
                  "(default: its working space, the scene_linear role)")
      ->type_name("NAME");
  render
      .add_option("--display", request.output_options.display,
                  "Display of the colour config that 8-bit and 16-bit outputs are made for (default: its "
                  "default display)")
      ->type_name("NAME");
  render
      .add_option("--view", request.output_options.view,
                  "View of that display (default: the display's default view; the shipped config's "
                  "\"sRGB\" gives the sRGB curve's codes)")
      ->type_name("NAME");
  render
      .add_option("--look", request.output_options.look, "Look of the colour config applied before the view")
      ->type_name("NAME");
  add_choice(render, "--compression", hosting::kExrCompressions, "Compression of an EXR output (default zip)",
             [&request](const std::string& w) { request.output_options.compression = w; })
      ->type_name("NAME");
}

}  // namespace quorlen::cli
