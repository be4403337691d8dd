// Time-series indicators: moving statistics down each column of one panel, in row order.
//
// Every operator returns a new panel with the input's shape, dates and symbols (pct_change,
// rise and fall go through alignment, see below); columns never influence each other and
// none can fail. Each one fixes its warm-up rows, what a missing or non-finite input does to
// a window, and its result for n = 0 and for n longer than the panel. "NaN test" means only
// NaN is skipped (infinities count as values); "finiteness test" means NaN and both
// infinities are skipped.
#pragma once

#include <cstddef>

#include "core/panel.hpp"

namespace korva::ops {

// Mean of the non-NaN values of rows max(0, t - n + 1) to t when there are at least
// max(floor(n / 2), 1) of them, else NaN. The first rows get a value as soon as enough
// observations exist. n = 0 is an expanding mean over rows 0 to t.
Panel average(const Panel& p, std::size_t n);

// Exponential moving average with alpha = 2 / (n + 1). Per column, with s the first finite
// row: row s + n - 1 is the plain mean of rows s to s + n - 1 (a NaN among them makes it
// NaN); every later row is prev * (1 - alpha) + y * alpha with y the row's value when finite
// and the previous result otherwise. Earlier rows NaN; n = 0 or s + n > rows: NaN column.
Panel ema(const Panel& p, std::size_t n);

// Population standard deviation (divisor n, two passes per window) of rows t - n + 1 to t
// when all of them are finite and t >= n - 1, else NaN. n = 0 or n > rows: all NaN.
Panel rolling_std(const Panel& p, std::size_t n);

// Wilder's relative strength index, 0 to 100. Per column, with s the first finite row: the
// first value is at row s + n (n changes seed the averages); a non-finite change counts as
// 0; a column without losses gives 100. n = 0 or s + n >= rows: NaN column.
Panel rsi(const Panel& p, std::size_t n);

// Largest (smallest) of rows t - n + 1 to t when none is NaN and t >= n - 1, else NaN;
// infinities are ordinary values. n = 0 or n > rows: all NaN.
Panel rolling_max(const Panel& p, std::size_t n);
Panel rolling_min(const Panel& p, std::size_t n);

// (x[t] - x[t - n]) / x[t - n], rise: x[t] > x[t - n], fall: x[t] < x[t - n] (1.0 or 0.0).
// The first n rows are NaN (pct_change) or 0.0 (rise, fall). Built from `shift` and the
// two-panel operations, so the result has the input's dates in ascending order without
// repeats (unchanged for a panel with ascending unique dates).
Panel pct_change(const Panel& p, std::size_t n);
Panel rise(const Panel& p, std::size_t n);
Panel fall(const Panel& p, std::size_t n);

}  // namespace korva::ops
