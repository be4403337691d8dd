// Helpers shared by the tests of the time-series and technical-analysis operators: one-column
// panels, column extraction and a seeded random panel with gaps, infinities, flat stretches
// and late-starting columns.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/panel.hpp"

namespace korva::testing {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

// A one-column panel (symbol "A") with dates 1, 2, 3, ...
inline Panel column_panel(const std::vector<double>& values) {
  Dates dates;
  for (std::size_t i = 0; i < values.size(); ++i) dates.push_back(std::int32_t(i + 1));
  return Panel{dates, {"A"}, Matrix(values.size(), 1, values)};
}

// Column definition of the rolling maximum (or minimum) over the last n rows: NaN during
// the warm-up, for n = 0, and wherever the window holds a NaN.
inline std::vector<double> rolling_extreme(const std::vector<double>& x, std::size_t n,
                                           bool is_max) {
  std::vector<double> out(x.size(), std::numeric_limits<double>::quiet_NaN());
  if (n == 0 || n > x.size()) return out;
  for (std::size_t t = n - 1; t < x.size(); ++t) {
    double acc = is_max ? -kInf : kInf;
    bool nan = false;
    for (std::size_t i = t + 1 - n; i <= t; ++i) {
      nan = nan || std::isnan(x[i]);
      acc = is_max ? std::max(acc, x[i]) : std::min(acc, x[i]);
    }
    if (!nan) out[t] = acc;
  }
  return out;
}

inline std::vector<double> column(const Matrix& m, std::size_t j) {
  std::vector<double> out(m.rows());
  for (std::size_t i = 0; i < m.rows(); ++i) out[i] = m(i, j);
  return out;
}

// Bitwise-identical sequences, NaN equal to NaN; on failure names the first differing row.
inline ::testing::AssertionResult same_column(const std::vector<double>& got,
                                              const std::vector<double>& want) {
  if (got.size() != want.size()) {
    return ::testing::AssertionFailure() << "length " << got.size() << " != " << want.size();
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    const bool both_nan = std::isnan(got[i]) && std::isnan(want[i]);
    const bool same =
        both_nan || (got[i] == want[i] && std::signbit(got[i]) == std::signbit(want[i]));
    if (!same) {
      return ::testing::AssertionFailure()
             << "row " << i << ": got " << got[i] << ", want " << want[i];
    }
  }
  return ::testing::AssertionSuccess();
}

// A rows x cols panel of price-like values around `level`: a random walk with NaN gaps,
// occasional infinities (when `infinities`), a column that starts late, a column without any
// value, a flat column and long runs of repeated values.
inline Panel random_panel(std::size_t rows, std::size_t cols, std::uint64_t seed,
                          double level = 100.0, bool infinities = true) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Dates dates;
  Symbols symbols;
  for (std::size_t i = 0; i < rows; ++i) dates.push_back(std::int32_t(20200101 + i));
  for (std::size_t j = 0; j < cols; ++j) symbols.push_back("S" + std::to_string(j));
  Matrix m(rows, cols);
  for (std::size_t j = 0; j < cols; ++j) {
    double x = level * (0.5 + u(rng));
    const std::size_t late = j == 1 ? rows / 3 : 0;
    for (std::size_t i = 0; i < rows; ++i) {
      const double r = u(rng);
      if (r < 0.5) x += (u(rng) - 0.5) * level * 0.05;  // else unchanged: repeated values
      double v = x;
      if (j == 2) v = level;  // flat
      const double gap = u(rng);
      if (gap < 0.06) v = kNaN;
      if (infinities && gap > 0.985) v = gap > 0.993 ? kInf : -kInf;
      if (i < late || j == 3) v = kNaN;
      m(i, j) = v;
    }
  }
  return Panel{dates, symbols, std::move(m)};
}

}  // namespace korva::testing
