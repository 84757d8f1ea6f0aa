/// \file farm_command.cpp  `quorlen farm`: a render cut into chunks, printed as a submission for Slurm, Open
/// Job Description or OpenCue.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>

#include <climits>
#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/messages.h"
#include "cli/submission.h"

namespace quorlen::cli {
namespace {

struct FarmCommandOptions {
  std::string scheduler;
  std::string frames;
  int chunk_size = 0;
  std::optional<std::string> quorlen;
  std::optional<std::string> name;
  std::optional<std::string> log_dir;
  int cpus = 0;
  std::vector<std::string> render_args;
};

// The option a render argument spells, without a value joined by '='.
std::string option_of(const std::string& arg) { return arg.substr(0, arg.find('=')); }

std::string running_executable() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec)
    throw hosting::usage_error("cannot tell where this quorlen is; name the farm's with --quorlen PATH");
  return self.string();
}

// A job name the schedulers take anywhere: the output's name without its frame pattern and extension.
std::string job_name(const std::string& output) {
  std::string stem = std::filesystem::path(output).stem().string();
  std::string name;
  for (const char c : stem)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
        (c == '.' && !name.empty() && name.back() != '.'))
      name += c;
  while (!name.empty() && name.back() == '.') name.pop_back();
  return "quorlen-" + (name.empty() ? std::string("render") : name);
}

// The render arguments checked as `quorlen render` checks them, with the chunk options added; returns the
// output path given.
std::string check_render_args(const FarmCommandOptions& o) {
  CLI::App app;
  app.name("quorlen");
  const Command render = add_render_command(app);
  std::vector<std::string> args = {"render"};
  args.insert(args.end(), o.render_args.begin(), o.render_args.end());
  args.insert(args.end(),
              {"--frames", o.frames, "--chunk-size", std::to_string(o.chunk_size), "--chunk-index", "0"});
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw hosting::usage_error("render arguments: " + usage_message(app, e, args));
  }
  if (render.check) render.check();
  const CLI::Option* output = render.app->get_option("--output");
  return output->as<std::string>();
}

void run(const FarmCommandOptions& o, const Program& program) {
  for (const auto& a : o.render_args) {
    const std::string option = option_of(a);
    if (option == "--frames" || option == "--chunk-size" || option == "--chunk-index")
      throw hosting::usage_error(fmt::format(
          "{} goes before \"--\": the farm command gives each task its chunk of --frames", option));
  }
  const hosting::FrameList list = hosting::parse_frame_list(o.frames);
  const std::string output = check_render_args(o);

  Submission s;
  s.quorlen = o.quorlen ? *o.quorlen : running_executable();
  if (o.quorlen && !std::filesystem::path(*o.quorlen).is_absolute())
    throw hosting::usage_error(
        fmt::format("--quorlen \"{}\": name the farm's quorlen by its absolute path", *o.quorlen));
  if (program.plugin_path) {
    s.render_args.push_back("--plugin-path");
    s.render_args.push_back(*program.plugin_path);
  }
  for (const auto& a : o.render_args) {
    const std::string option = option_of(a);
    if (option == "--skip-existing") continue;  // every task gets it
    s.threads_given = s.threads_given || option == "--threads";
    s.progress_given = s.progress_given || option == "--progress-format";
    s.render_args.push_back(a);
  }
  s.render_args = absolute_render_args(s.render_args);
  s.frames = o.frames;
  s.frame_count = static_cast<int>(list.numbers.size());
  s.chunk_size = o.chunk_size;
  s.chunks = hosting::chunk_count(list, o.chunk_size);
  s.name = o.name ? *o.name : job_name(output);
  s.cpus = o.cpus;
  if (s.name.empty() || s.name.find_first_of(" \t\n\r'\"\\%$`") != std::string::npos)
    throw hosting::usage_error(fmt::format("--name \"{}\": a job name holds no spaces, quotes or %", s.name));

  // A missing directory would fail every task, or (for Slurm's logs) lose them without a word.
  const std::string output_dir = std::filesystem::path(absolute_path(output)).parent_path().string();
  const auto require_directory = [](const std::string& dir, const std::string& what) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec) && dir.find_first_of("#%") == std::string::npos)
      throw hosting::output_error(fmt::format("{} \"{}\" does not exist", what, dir));
  };
  require_directory(output_dir, "output directory");
  if (o.scheduler == "slurm") {
    s.log_dir = o.log_dir ? absolute_path(*o.log_dir) : output_dir;
    require_directory(s.log_dir, "log directory");
    // sbatch reads its #SBATCH lines without a shell's quoting, and % starts its own patterns.
    if (s.log_dir.find_first_of(" \t\n\r'\"\\%#$`") != std::string::npos)
      throw hosting::usage_error(fmt::format(
          "log directory \"{}\" holds a space, quote, # or %, which an #SBATCH line cannot carry; choose "
          "another with --log-dir DIR",
          s.log_dir));
    std::cout << slurm_script(s);
  } else if (o.scheduler == "openjd") {
    for (const auto& a : s.render_args)
      if (a.find("{{") != std::string::npos)
        throw hosting::usage_error(fmt::format(
            "\"{}\" holds \"{{{{\", which Open Job Description would read as a format string", a));
    std::cout << openjd_template(s);
  } else {
    std::cout << opencue_script(s);
  }
}

}  // namespace

Command add_farm_command(CLI::App& app) {
  auto o = std::make_shared<FarmCommandOptions>();
  CLI::App* farm = app.add_subcommand(
      "farm",
      "Print a submission that renders a frame list in chunks on Slurm, Open Job Description or OpenCue");
  farm->fallthrough();
  farm->add_option("SCHEDULER", o->scheduler,
                   "slurm (an sbatch array script), openjd (a job template) or opencue "
                   "(an outline script)")
      ->required()
      ->check(CLI::IsMember({"slurm", "openjd", "opencue"}));
  farm->add_option("--frames", o->frames, "The frames of the whole job, as render's --frames takes them")
      ->type_name("LIST")
      ->required();
  farm->add_option("--chunk-size", o->chunk_size, "Frames a task renders")
      ->type_name("K")
      ->required()
      ->check(whole_number(1, INT_MAX));
  farm->add_option("--quorlen", o->quorlen, "The quorlen the tasks run, by absolute path (default: this one)")
      ->type_name("PATH");
  farm->add_option("--name", o->name, "The job's name (default: quorlen- and the output's name)")
      ->type_name("NAME");
  farm->add_option("--log-dir", o->log_dir, "Slurm: the directory of the tasks' logs (default: the output's)")
      ->type_name("DIR");
  farm->add_option("--cpus", o->cpus, "Slurm: cores a task asks for (--cpus-per-task); its threads follow")
      ->type_name("N")
      ->check(whole_number(1, 4096));
  farm->add_option("RENDER-ARGS", o->render_args, "After --: the arguments of 'quorlen render'");
  farm->footer(
      "Example: quorlen farm slurm --frames 1001-1100 --chunk-size 10 -- --passes shot.####.exr "
      "-o relit/relit.####.exr > relight.sbatch");
  return {farm, [o](const Program& program) { run(*o, program); }};
}

}  // namespace quorlen::cli
