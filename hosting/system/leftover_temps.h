/// \file leftover_temps.h  Temporary outputs left by a render that was killed before it could remove them.
#pragma once

#include <string>
#include <vector>

namespace quorlen::hosting {

/// The temporary name AtomicFile writes `target` under: hidden, beside it, naming this machine and process
/// so that a later run can tell whether its writer is gone.
std::string temporary_name_for(const std::string& target, unsigned serial);

/// Removes the temporary files of `targets` (names as temporary_name_for makes them) whose writer is a
/// process of this machine that no longer runs; those of other machines and of live processes stay.
/// Returns the paths removed.
std::vector<std::string> remove_leftover_temporaries(const std::vector<std::string>& targets);

}  // namespace quorlen::hosting
