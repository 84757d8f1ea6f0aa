/// \file render_choices.cpp  Options choosing how passes are read and the output written.
#include "cli/render_choices.h"

#include <string>
#include <vector>

#include "text/strings.h"

namespace quorlen::cli {
namespace {

// A choice among words, case ignored; CLI11's own message for another word names the accepted ones.
CLI::Option* add_choice(CLI::App& app, const std::string& name, const std::vector<std::string>& words,
                        const std::string& help, std::function<void(const std::string&)> chosen) {
  return app
      .add_option_function<std::string>(
          name, [chosen](const std::string& word) { chosen(text::lower(word)); }, help)
      ->type_name(text::join(words, "|"))
      ->check(CLI::IsMember(words, CLI::ignore_case).description(""));
}

}  // namespace

void add_read_choices(CLI::App& render, hosting::RenderRequest& request) {
  using hosting::LightSpace;
  using hosting::NormalEncoding;
  add_choice(render, "--light-space", {"node", "world"},
             "Space of the light knobs: node (as the node defines them in any host; default) or world (the "
             "passes' own world space, whatever its up axis)",
             [&request](const std::string& w) {
               request.light_space = w == "world" ? LightSpace::world : LightSpace::node;
             });
  add_choice(render, "--normal-encoding", {"signed", "unsigned"},
             "How the normal input stores vectors: signed (as they are; default) or unsigned (0..1, as in "
             "8-bit normal maps, decoded as 2v-1)",
             [&request](const std::string& w) {
               request.normal_encoding =
                   w == "unsigned" ? NormalEncoding::unsigned_values : NormalEncoding::signed_values;
             });
}

void add_render_choices(CLI::App& render, hosting::RenderRequest& request) {
  add_read_choices(render, request);
  add_choice(render, "--alpha", {"colour", "zero"},
             "Alpha of EXR and TIFF outputs: colour (the colour input's alpha, or its beauty's, when it has "
             "one; default) or zero (as the node writes it)",
             [&request](const std::string& w) {
               request.alpha = w == "zero" ? hosting::AlphaChoice::zero : hosting::AlphaChoice::colour;
             });
  add_choice(render, "-d,--data-type", {"half", "float", "uint8", "uint16"},
             "Sample type of the output: half or float for EXR and TIFF (default float), uint8 or uint16 for "
             "PNG and TIFF previews (sRGB; PNG's default uint8)",
             [&request](const std::string& w) { request.output_options.type = hosting::data_type_named(w); });
  std::vector<std::string> compressions(hosting::kExrCompressions.begin(), hosting::kExrCompressions.end());
  add_choice(render, "--compression", compressions, "Compression of an EXR output (default zip)",
             [&request](const std::string& w) { request.output_options.compression = w; })
      ->type_name("NAME");
}

}  // namespace quorlen::cli
