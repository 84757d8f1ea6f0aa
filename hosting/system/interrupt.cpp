/// \file interrupt.cpp  Signal handling that never leaves a partial output behind.
#include <quorlen/errors.h>
#include <quorlen/interrupt.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace quorlen::hosting {
namespace {

std::atomic<int> signals_seen{0};
// The handler may only read plain memory: the path lives in a fixed buffer, published by `temp_ready`.
char temp_path[4096];
std::atomic<bool> temp_ready{false};

extern "C" void on_signal(int) {
  if (signals_seen.fetch_add(1) == 0) return;
  if (temp_ready.load()) ::unlink(temp_path);
  ::_exit(128 + SIGINT);  // the shell's code for a process stopped by Ctrl-C
}

}  // namespace

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  // Reads and writes in progress carry on; the stop is taken at the next check, between lines or frames.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() { return signals_seen.load() > 0; }

void throw_if_interrupted() {
  if (interrupted()) throw interrupted_error("interrupted; unfinished output removed");
}

void set_pending_temp_file(const std::string& path) {
  temp_ready.store(false);
  if (path.empty() || path.size() >= sizeof temp_path) return;
  std::memcpy(temp_path, path.c_str(), path.size() + 1);
  temp_ready.store(true);
}

}  // namespace quorlen::hosting
