/// \file submission.cpp  Farm submissions: quoting, absolute paths and the three schedulers' forms.
#include "cli/submission.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

#include <array>
#include <filesystem>

namespace quorlen::cli {
namespace {

bool plain_shell_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("_-./=:,+@%").find(c) != std::string_view::npos;
}

constexpr std::array<std::string_view, 9> kPathOptions = {
    "--color", "--normal", "--P", "--noiseP", "--passes", "--settings", "--output", "-o", "--plugin-path"};

bool is_path_option(std::string_view name) {
  for (const auto o : kPathOptions)
    if (name == o) return true;
  return false;
}

// What each task runs after the command's own arguments: its chunk, resumption and progress for the log.
std::vector<std::string> chunk_args(const Submission& s, const std::string& index,
                                    const std::string& progress) {
  std::vector<std::string> a = {"--frames",      s.frames, "--chunk-size",   std::to_string(s.chunk_size),
                                "--chunk-index", index,    "--skip-existing"};
  if (!s.progress_given) {
    a.push_back("--progress-format");
    a.push_back(progress);
  }
  return a;
}

std::string header_comment(const Submission& s, std::string_view prefix) {
  return fmt::format(
      "{0} {1}: frames {2} ({3} frames) in {4} chunk{5} of up to {6}, one task a chunk.\n"
      "{0} Exit codes of a task: 0 done; 1 bad command line or input (a retry will not help); 2 the plug-in\n"
      "{0} module is missing or damaged on that node (retry elsewhere); 3 a write failed (retry once the "
      "disk\n"
      "{0} or permission is fixed); 130 stopped. A retried task renders only the frames still missing.\n",
      prefix, s.name, s.frames, s.frame_count, s.chunks, s.chunks == 1 ? "" : "s", s.chunk_size);
}

}  // namespace

std::string shell_word(std::string_view arg) {
  bool plain = !arg.empty();
  for (const char c : arg) plain = plain && plain_shell_char(c);
  if (plain) return std::string(arg);
  std::string out = "'";
  for (const char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string quoted_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"')
      out += {'\\', c};
    else if (u < 0x20 || u == 0x7f)
      out += fmt::format("\\x{:02x}", u);
    else
      out += c;
  }
  return out + "\"";
}

std::string absolute_path(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) throw hosting::usage_error(fmt::format("cannot make \"{}\" absolute: {}", path, ec.message()));
  return absolute.string();
}

std::vector<std::string> absolute_render_args(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  out.reserve(args.size());
  bool next_is_path = false;
  for (const auto& arg : args) {
    if (next_is_path) {
      out.push_back(absolute_path(arg));
      next_is_path = false;
      continue;
    }
    const std::size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos && is_path_option(arg.substr(0, eq))) {
      out.push_back(arg.substr(0, eq + 1) + absolute_path(arg.substr(eq + 1)));
    } else if (arg.size() > 2 && arg.rfind("-o", 0) == 0 && arg[2] != '-') {
      out.push_back("-o" +
                    absolute_path(arg.substr(arg[2] == '=' ? 3 : 2)));  // -oFILE, as the parser takes it
    } else {
      out.push_back(arg);
      next_is_path = is_path_option(arg);
    }
  }
  return out;
}

std::string slurm_script(const Submission& s) {
  std::string command = shell_word(s.quorlen) + " render";
  for (const auto& a : s.render_args) command += " " + shell_word(a);
  for (const auto& a : chunk_args(s, "$SLURM_ARRAY_TASK_ID", "percent"))
    command += " " + (a == "$SLURM_ARRAY_TASK_ID" ? std::string("\"$SLURM_ARRAY_TASK_ID\"") : shell_word(a));
  // With no --cpus-per-task the variable is unset and 0 takes the cores the task is bound to.
  if (!s.threads_given) command += " --threads \"${SLURM_CPUS_PER_TASK:-0}\"";
  std::string script = "#!/bin/bash\n" + header_comment(s, "#") + "# Submit with: sbatch THIS_FILE\n";
  script += fmt::format("#SBATCH --job-name={}\n#SBATCH --array=0-{}\n", s.name, s.chunks - 1);
  if (s.cpus > 0) script += fmt::format("#SBATCH --cpus-per-task={}\n", s.cpus);
  script += fmt::format("#SBATCH --output={}/{}-%A_%a.log\n", s.log_dir, s.name);
  script += "exec " + command + "\n";
  return script;
}

std::string openjd_template(const Submission& s) {
  std::string args = "            - render\n";
  const auto add = [&](const std::string& a) { args += "            - " + quoted_string(a) + "\n"; };
  for (const auto& a : s.render_args) add(a);
  for (const auto& a : chunk_args(s, "{{Task.Param.ChunkIndex}}", "openjd")) add(a);
  return fmt::format(
      "{}specificationVersion: 'jobtemplate-2023-09'\n"
      "name: {}\n"
      "steps:\n"
      "  - name: Relight\n"
      "    parameterSpace:\n"
      "      taskParameterDefinitions:\n"
      "        - name: ChunkIndex\n"
      "          type: INT\n"
      "          range: \"0-{}\"\n"
      "    script:\n"
      "      actions:\n"
      "        onRun:\n"
      "          command: {}\n"
      "          args:\n"
      "{}",
      header_comment(s, "#"), quoted_string(s.name), s.chunks - 1, quoted_string(s.quorlen), args);
}

std::string opencue_script(const Submission& s) {
  std::string command = "        " + quoted_string(s.quorlen) + ",\n        \"render\",\n";
  for (const auto& a : s.render_args) command += "        " + quoted_string(a) + ",\n";
  // OpenCue numbers the layer's frames 0 to chunks - 1; #IFRAME# is the task's, so the chunk's index.
  for (const auto& a : chunk_args(s, "#IFRAME#", "percent")) command += "        " + quoted_string(a) + ",\n";
  return fmt::format(
      "#!/usr/bin/env python3\n{}"
      "from outline import Outline, cuerun\n"
      "from outline.modules.shell import Shell\n\n"
      "job = Outline({})\n"
      "job.add_layer(Shell(\n"
      "    \"relight\",\n"
      "    command=[\n{}    ],\n"
      "    range=\"0-{}\",\n"
      "    chunk=1))\n"
      "cuerun.launch(job, use_pycuerun=False)\n",
      header_comment(s, "#"), quoted_string(s.name), command, s.chunks - 1);
}

}  // namespace quorlen::cli
