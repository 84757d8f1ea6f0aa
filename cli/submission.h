/// \file submission.h  A render cut into chunks, written as a submission for a farm's scheduler: a Slurm
/// batch script, an Open Job Description job template or an OpenCue outline script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlen::cli {

/// A chunked render as the farm command has checked it; paths already absolute.
struct Submission {
  std::string quorlen;                   ///< the command the tasks run
  std::vector<std::string> render_args;  ///< after "render", without the frames and chunk options
  std::string frames;                    ///< the --frames list as given
  int frame_count = 0;
  int chunk_size = 1;
  int chunks = 1;
  std::string name;             ///< the job's name
  std::string log_dir;          ///< Slurm: where each task's log goes
  int cpus = 0;                 ///< Slurm: cores a task asks for; 0 leaves it to the cluster
  bool threads_given = false;   ///< render_args hold --threads, so no thread count is added
  bool progress_given = false;  ///< render_args hold --progress-format, so none is added
};

/// `arg` as one word for a POSIX shell: as it is when it holds only characters no shell treats specially,
/// otherwise in single quotes (a quote inside written '\'').
std::string shell_word(std::string_view arg);

/// `text` as a double-quoted string that YAML and Python both read back as `text`: backslash and quote
/// escaped, control bytes as \xNN; other bytes (UTF-8) as they are.
std::string quoted_string(std::string_view text);

/// `path` made absolute against the current directory, frame patterns and a :LAYER suffix kept.
std::string absolute_path(const std::string& path);

/// The render arguments with the paths of the options that name files (--color, --normal, --P, --noiseP,
/// --passes, --settings, -o/--output, --plugin-path), in any of their spellings, made absolute.
std::vector<std::string> absolute_render_args(const std::vector<std::string>& args);

std::string slurm_script(const Submission& s);
std::string openjd_template(const Submission& s);
std::string opencue_script(const Submission& s);

}  // namespace quorlen::cli
