// Running the built `quorlen` as a child whose limits, user and signals the test controls.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/HostingTestSupport.h"

namespace quorlen::hosting_test {

struct ChildOptions {
  long long max_file_size = -1;  ///< RLIMIT_FSIZE in bytes; writes past it fail with EFBIG
  bool drop_root = false;        ///< run as "nobody" when the test runs as root, so permissions apply
};

/// A started child; stdout and stderr go to files in the scratch directory.
class Child {
 public:
  Child(const std::vector<std::string>& args, const TempDir& scratch, const ChildOptions& options = {})
      : out_(scratch / ("child-out-" + std::to_string(counter()))),
        err_(scratch / ("child-err-" + std::to_string(counter()++))) {
    std::vector<std::string> argv_s{QUORLEN_BIN};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ != 0) return;
    // The child: only async-signal-safe calls until exec.
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // The disposition a user's shell leaves: the program itself must turn a write past the file-size limit
    // into an error, whatever the test runner's own disposition is.
    ::signal(SIGXFSZ, SIG_DFL);
    if (options.max_file_size >= 0) {
      const rlimit limit{static_cast<rlim_t>(options.max_file_size),
                         static_cast<rlim_t>(options.max_file_size)};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (options.drop_root && ::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(126);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int sig) const { ::kill(pid_, sig); }

  /// Waits for the exit; the exit code, or -1 when it did not exit normally (killed by a signal).
  RunResult wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(out_);
    r.err = slurp(err_);
    return r;
  }

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
  std::string out_, err_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

/// Empty when a child started with drop_root can run the binary; otherwise why not (as root, "nobody" must
/// be able to reach the build tree, which a checkout under a private home such as /root does not allow).
inline std::string unprivileged_run_problem(const TempDir& scratch) {
  if (::geteuid() != 0) return {};
  Child probe({"--version"}, scratch, ChildOptions{-1, true});
  const RunResult r = probe.wait();
  if (r.code == 0) return {};
  return std::string("the unprivileged user \"nobody\" cannot run ") + QUORLEN_BIN + " (exit " +
         std::to_string(r.code) + "); a parent directory of the build is not open to other users";
}

}  // namespace quorlen::hosting_test
