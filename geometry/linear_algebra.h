/// \file linear_algebra.h  The small dense linear algebra the camera fit needs, in double.
#pragma once

#include <vector>

namespace quorlen::geometry {

/// Eigenvalues and eigenvectors of a symmetric n x n matrix (row-major), ascending: values[k] belongs to
/// column k of `vectors` (row-major n x n), of unit length.
struct SymmetricEigen {
  std::vector<double> values;
  std::vector<double> vectors;
};

/// By cyclic Jacobi rotations, which stay accurate for the near-singular matrices a camera fit gives.
SymmetricEigen symmetric_eigen(std::vector<double> a, int n);

/// Solves a x = b for the n x n matrix `a` (row-major) by elimination with partial pivoting; `b` becomes x.
/// False, with `b` unspecified, when `a` is singular.
bool solve_linear(std::vector<double> a, std::vector<double>& b, int n);

}  // namespace quorlen::geometry
