// Small helpers for building panels in tests.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "core/panel.hpp"

namespace korva::testing {

// A panel from rows of values (every row as wide as `symbols`).
inline Panel make_panel(Dates dates, Symbols symbols,
                        const std::vector<std::vector<double>>& rows) {
  Matrix m(dates.size(), symbols.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = 0; j < rows[i].size(); ++j) m(i, j) = rows[i][j];
  }
  return Panel{std::move(dates), std::move(symbols), std::move(m)};
}

// Bitwise-identical doubles, NaN equal to NaN (and -0.0 told apart from 0.0).
inline bool same_double(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}

inline bool same_cells(const Matrix& m, const std::vector<std::vector<double>>& rows) {
  if (m.rows() != rows.size()) return false;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].size() != m.cols()) return false;
    for (std::size_t j = 0; j < rows[i].size(); ++j) {
      if (!same_double(m(i, j), rows[i][j])) return false;
    }
  }
  return true;
}

}  // namespace korva::testing
