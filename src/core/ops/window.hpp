// Shared pieces of the windowed kernels: a read-only view of the leading block of a matrix,
// the rolling extreme kernel, and the test that tells whether aligning a panel with a copy
// of itself would leave it unchanged.
#pragma once

#include <cstddef>
#include <string_view>
#include <unordered_set>

#include "core/panel.hpp"

namespace korva::ops {

// The leading `rows` x `cols` block of a row-major matrix whose rows are `stride` apart.
// The technical indicators read their high, low and volume inputs through such a view,
// matched to the shape of `close`.
struct ConstView {
  const double* data = nullptr;
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::size_t stride = 0;

  const double* row(std::size_t t) const { return data + t * stride; }
};

inline ConstView view(const Matrix& m) {
  return {m.data(), m.rows(), m.cols(), m.cols()};
}
inline ConstView view(const Matrix& m, std::size_t rows, std::size_t cols) {
  return {m.data(), rows, cols, m.cols()};
}

// Row t of `out` (a rows x cols matrix of x's shape, filled with NaN by the caller) becomes
// the largest (`is_max`) or smallest value of rows t - n + 1 to t of x, for every t from
// n - 1 on, when none of those values is NaN. n = 0 or n > rows leaves `out` untouched.
// Linear time whatever n is: the rows are cut into blocks of n and every window is the
// union of the suffix of one block and the prefix of the next. The max and min of a set of
// values do not depend on the grouping, so the result equals a left fold over the window.
void rolling_extreme(ConstView x, std::size_t n, bool is_max, Matrix& out);

// True when `align(p, p)` would return p's own rows and columns in their own order:
// strictly ascending dates and no repeated symbol. Operators built from two-panel
// operations on copies of one panel take a direct path then, with identical cells.
inline bool aligns_to_itself(const Panel& p) {
  for (std::size_t i = 1; i < p.dates.size(); ++i) {
    if (p.dates[i - 1] >= p.dates[i]) return false;
  }
  std::unordered_set<std::string_view> seen;
  seen.reserve(p.symbols.size());
  for (const auto& s : p.symbols) {
    if (!seen.insert(s).second) return false;
  }
  return true;
}

}  // namespace korva::ops
