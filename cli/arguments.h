/// \file arguments.h  Checks of option values the parser cannot express, with messages naming what is
/// accepted.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace quorlen::cli {

/// Accepts a whole number from `min` to `max`; otherwise the message says what was given and what is
/// accepted, followed by `note` (such as "0: all cores").
CLI::Validator whole_number(long long min, long long max, const std::string& note = "");

/// Accepts a finite decimal number (such as 1001 or 1001.5).
CLI::Validator frame_number();

/// The worker count to use for `requested` threads on a machine that runs `cores` at once: 0 (all cores)
/// and counts up to `cores` as asked, more clamped to `cores` with one warning through `warn`, because
/// more workers than cores only contend and the thread library would print its own warning.
int usable_threads(int requested, int cores, const std::function<void(const std::string&)>& warn);

/// How many threads the thread library may run at once in this process (cores, affinity and limits).
int available_cores();

}  // namespace quorlen::cli
