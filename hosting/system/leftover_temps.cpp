/// \file leftover_temps.cpp  Finding and removing the temporary outputs of killed renders.
#include "hosting/system/leftover_temps.h"

#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace quorlen::hosting {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kTag = ".quorlen-tmp-";

std::string this_host() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  // The name goes into a file name: a slash or a dash would break it or its parsing.
  std::string host(name);
  for (char& c : host)
    if (c == '/' || c == '-') c = '_';
  return host;
}

// A killed task's process is gone, or a zombie its parent has not reaped yet.
bool process_gone(long pid) {
  if (pid <= 0 || pid > INT_MAX) return false;
  if (::kill(static_cast<pid_t>(pid), 0) != 0) return errno == ESRCH;
  std::ifstream stat(fmt::format("/proc/{}/stat", pid));
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t paren = line.rfind(')');
  return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'Z';
}

// "HOST-PID-SERIAL" into its host and pid; the host may itself hold no dash (this_host replaces them).
bool parse_writer(std::string_view middle, std::string& host, long& pid) {
  const std::size_t last = middle.rfind('-');
  if (last == std::string_view::npos || last == 0) return false;
  const std::size_t before = middle.rfind('-', last - 1);
  if (before == std::string_view::npos || before == 0) return false;
  host = std::string(middle.substr(0, before));
  const std::string_view digits = middle.substr(before + 1, last - before - 1);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
  return ec == std::errc() && end == digits.data() + digits.size();
}

}  // namespace

std::string temporary_name_for(const std::string& target, unsigned serial) {
  const fs::path path(target);
  // The real extension stays last, since image writers may pick behaviour from it.
  static const std::string host = this_host();
  const std::string name = fmt::format(".{}{}{}-{}-{}{}", path.stem().string(), kTag, host, ::getpid(),
                                       serial, path.extension().string());
  return (path.parent_path() / name).string();
}

std::vector<std::string> remove_leftover_temporaries(const std::vector<std::string>& targets) {
  // The targets by directory, so each directory is listed once however many frames it holds.
  std::map<fs::path, std::set<std::string>> by_directory;
  for (const auto& target : targets) {
    const fs::path path(target);
    by_directory[path.parent_path().empty() ? fs::path(".") : path.parent_path()].insert(
        path.filename().string());
  }
  static const std::string host = this_host();
  std::vector<std::string> removed;
  for (const auto& [directory, names] : by_directory) {
    std::error_code ec;
    fs::directory_iterator it(directory, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const std::size_t tag = name.find(kTag);
      if (name.size() < 2 || name[0] != '.' || tag == std::string::npos) continue;
      const std::string stem = name.substr(1, tag - 1);
      // The extension is the target's, so try each target with this stem.
      for (const auto& target : names) {
        const fs::path t(target);
        const std::string ext = t.extension().string();
        if (t.stem().string() != stem || name.size() < tag + kTag.size() + ext.size() ||
            name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
          continue;
        std::string writer_host;
        long pid = 0;
        const std::string_view middle =
            std::string_view(name).substr(tag + kTag.size(), name.size() - tag - kTag.size() - ext.size());
        if (!parse_writer(middle, writer_host, pid) || writer_host != host || !process_gone(pid)) break;
        std::error_code removing;
        if (fs::is_regular_file(it->symlink_status(removing)) && fs::remove(it->path(), removing))
          removed.push_back(it->path().string());
        break;
      }
    }
  }
  return removed;
}

}  // namespace quorlen::hosting
