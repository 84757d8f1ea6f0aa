/// \file interrupt.h  Stopping cleanly on SIGINT and SIGTERM.
#pragma once

#include <string>

namespace quorlen::hosting {

/// Installs handlers: the first signal asks the command to stop at the next check (leaving finished
/// frames and removing the unfinished output); a second one removes the pending temporary file and exits.
void install_interrupt_handlers();

/// Whether a stop was asked for.
bool interrupted();

/// Throws the "interrupted" failure (exit code 130) when a stop was asked for.
void throw_if_interrupted();

/// Registers the temporary file that a second signal must remove before exiting; empty clears it.
void set_pending_temp_file(const std::string& path);

}  // namespace quorlen::hosting
