// Ordinary least squares through the normal equations, solved by Gaussian elimination with
// partial pivoting. Small dense systems only (one coefficient per regressor); no error
// results: a singular system yields none.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/matrix.hpp"

namespace korva::ops {

// A pivot whose absolute value is below this makes the normal matrix singular.
inline constexpr double kSingularPivot = 1e-12;

// Coefficients c minimising |x c - y|^2 for an observations-by-coefficients matrix x and
// one observation per row in y (y.size() == x.rows()). Forms A = x'x and b = x'y, summing
// over the observations in row order, then calls solve_normal. Zero columns give an empty
// vector; a singular system gives none.
std::optional<std::vector<double>> solve_ols(const Matrix& x, std::span<const double> y);

// Solves a c = b in place for a k-by-k row-major matrix `a` (a.size() == k * k) and
// b.size() == k, writing the solution to `coef` (coef.size() == k). For each column j the
// pivot is the row at or below j with the largest absolute value in column j (the first
// on ties); a pivot below kSingularPivot returns false and leaves `coef` unspecified.
// Rows below the pivot are reduced from column j onward, then back substitution runs from
// the last coefficient to the first. `a` and `b` are overwritten.
bool solve_normal(std::span<double> a, std::span<double> b, std::span<double> coef);

}  // namespace korva::ops
