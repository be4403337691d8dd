// Technical-analysis indicators over high, low, close and volume panels.
//
// Rules every function shares:
// - The result has the shape, dates and symbols of `close` (of `series` for aroon_dir) and
//   starts all NaN.
// - high, low and volume are read at the row and column index of `close`; they are not
//   aligned and their labels are not consulted. An input with fewer rows or columns than
//   `close` fails with an Eval error naming the operator, the input and both shapes, e.g.
//   "atr: `high` is 3x2, smaller than `close` 4x2"; a larger one is read in its leading
//   rows and columns.
// - atr, natr, di_panel, adx, cci, mfi, vwap and obv start each column at s, its first row
//   with a finite close (aroon_dir at the first finite value of `series`); rows before s
//   never get a value, so a symbol that starts trading late warms up from its own first
//   price. willr and stoch_k warm up through their rolling windows alone.
// - Results are computed in the order of operations written below ("multiplied first,
//   then divided"), so they are reproducible to the last bit.
#pragma once

#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "core/error.hpp"
#include "core/ops/window.hpp"
#include "core/panel.hpp"

namespace korva::ops {

// (high + low + close) / 3, added in that order.
inline double typical_price(double high, double low, double close) {
  return (high + low + close) / 3.0;
}

// The larger of a and b, ignoring a NaN operand (NaN only when both are NaN).
inline double max_ignoring_nan(double a, double b) {
  if (a != a) return b;
  if (b != b) return a;
  return b > a ? b : a;
}

// True range of a row after the start row: max(high - low, |high - prev close|,
// |low - prev close|) folded left to right with a maximum that ignores NaN.
inline double true_range(double high, double low, double prev_close) {
  return max_ignoring_nan(max_ignoring_nan(high - low, std::abs(high - prev_close)),
                          std::abs(low - prev_close));
}

// Wilder smoothing of one column. All NaN except: row start + n is the mean of
// values[start + 1] to values[start + n]; every later row i is
// (previous * (n - 1) + values[i]) / n. n = 0 or start + n >= size: all NaN. No NaN test is
// made: a NaN that enters the recursion stays in it.
std::vector<double> wilder_col(std::span<const double> values, std::size_t start, std::size_t n);

// +DI and -DI of one column of views of the same shape (the column-at-a-time form of
// di_panel, also what adx smooths); `column` must be below close.cols. Both all NaN when the
// column has no finite close or n = 0.
struct DiCols {
  std::vector<double> plus;
  std::vector<double> minus;
};
DiCols di_cols(ConstView high, ConstView low, ConstView close, std::size_t column, std::size_t n);

// Wilder smoothing of the true range; first value at row s + n.
Result<Panel> atr(const Panel& high, const Panel& low, const Panel& close, std::size_t n);
// atr * 100 / close where atr is finite and close is not 0; first value at row s + n.
Result<Panel> natr(const Panel& high, const Panel& low, const Panel& close, std::size_t n);
// +DI (`plus`) or -DI: smoothed directional movement * 100 / smoothed true range, from row
// s + n. Reported as plus_di / minus_di in errors.
Result<Panel> di_panel(const Panel& high, const Panel& low, const Panel& close, std::size_t n,
                       bool plus);
// Wilder smoothing of DX = |+DI - -DI| * 100 / (+DI + -DI) (0 when the sum is 0), started
// at row s + n - 1; first value at row s + 2n - 1.
Result<Panel> adx(const Panel& high, const Panel& low, const Panel& close, std::size_t n);
// (highest high - close) * -100 / (highest high - lowest low) over n rows, from row n - 1;
// NaN for a window with a NaN, a flat window or a non-finite close.
Result<Panel> willr(const Panel& high, const Panel& low, const Panel& close, std::size_t n);
// (close - lowest low) * 100 / (highest high - lowest low), under willr's rules.
Result<Panel> stoch_k(const Panel& high, const Panel& low, const Panel& close, std::size_t n);
// d-row mean of %K where all d values are finite; first value d - 1 rows after the first
// finite %K. d = 0: all NaN.
Result<Panel> stoch_d(const Panel& high, const Panel& low, const Panel& close, std::size_t n,
                      std::size_t d);
// (tp - mean) / (mean absolute deviation * 0.015) over n typical prices, from row s + n - 1;
// NaN for a window with a non-finite typical price or zero deviation. n = 0: all NaN.
Result<Panel> cci(const Panel& high, const Panel& low, const Panel& close, std::size_t n);
// 100 - 100 / (positive flow / negative flow + 1) over n rows from row s + n; 100 when the
// negative flow is 0 (so n = 0 gives 100 from row s on). The flow of row i > s is
// volume * tp, positive when tp rose, negative when it fell, none otherwise.
Result<Panel> mfi(const Panel& high, const Panel& low, const Panel& close, const Panel& volume,
                  std::size_t n);
// sum(tp * volume) / sum(volume) over n rows from row s + n - 1; NaN for a window with a
// non-finite tp or volume or zero total volume. n = 0: all NaN.
Result<Panel> vwap(const Panel& high, const Panel& low, const Panel& close, const Panel& volume,
                   std::size_t n);
// Running total of volume signed by the close's move, starting at the volume of row s.
Result<Panel> obv(const Panel& close, const Panel& volume);
// Aroon up (`up`) or down: (n - rows since the window's extreme) * 100 / n over the n + 1
// rows ending at t, ties going to the later row; from row s + n; NaN for a window with a
// non-finite value. n = 0: all NaN.
Panel aroon_dir(const Panel& series, std::size_t n, bool up);

}  // namespace korva::ops
