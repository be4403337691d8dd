// Cross-sectional operators: each row (one date) is handled on its own and rows never
// influence each other. A NaN cell takes no part in a row's comparison; infinities take
// part like any other value. Every operator keeps the input's labels and cannot fail.
#pragma once

#include <cstddef>

#include "core/panel.hpp"

namespace korva::ops {

// Rank of each non-NaN cell among the non-NaN cells of its row, 1-based, smallest first
// when `ascending` (largest first otherwise); equal values share the mean of their ranks.
// With `pct` the rank is divided by the row's number of non-NaN cells, giving (0, 1].
// NaN cells stay NaN.
Panel rank_cs(const Panel& p, bool pct, bool ascending);

// 1.0 for the n largest (`largest`) or n smallest non-NaN cells of each row, 0.0 for every
// other cell (NaN included). Ties at the cut-off go to the lower column index; a row with
// fewer than n values has all of them selected.
Panel top_n(const Panel& p, std::size_t n, bool largest);

// Each row divided by its gross weight, the sum of |x| over its non-NaN cells, when that is
// greater than 0 (an infinity makes it infinite). NaN cells stay NaN; a row of zeros or
// without values is returned unchanged.
Panel normalize_row(const Panel& p);

}  // namespace korva::ops
