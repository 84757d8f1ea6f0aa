/// \file same_file.h  Whether an output would replace one of the files it is made from.
#pragma once

#include <string>

namespace quorlen::hosting {

/// Whether `a` and `b` are the same file: the same device and inode when both exist (hard links and
/// symbolic links included), else the same path once made absolute with symbolic links resolved as far as
/// the path exists.
bool same_file(const std::string& a, const std::string& b);

/// Throws a usage error when `output` is the same file as `input`, which `option` named.
void refuse_output_over_input(const std::string& output, const std::string& input, const std::string& option);

}  // namespace quorlen::hosting
