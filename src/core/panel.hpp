// Panel: a dates x symbols matrix of doubles with its row and column labels.
//
// Dates are YYYYMMDD integers; the panel neither sorts nor de-duplicates its labels, and
// row order is time order for the time-series operators. Missing values are NaN;
// conditions are 1.0 (true) and 0.0 (false), and a cell is true exactly when it equals 1.0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "core/matrix.hpp"

namespace korva {

using Dates = std::vector<std::int32_t>;
using Symbols = std::vector<std::string>;

struct Panel {
  Dates dates;
  Symbols symbols;
  Matrix data;

  // Checks that the matrix has one row per date and one column per symbol; otherwise
  // fails with ShapeMismatch{dates, symbols, rows * cols}.
  static Result<Panel> create(Dates dates, Symbols symbols, Matrix data);

  std::size_t rows() const { return dates.size(); }
  std::size_t cols() const { return symbols.size(); }

  Panel clone() const { return *this; }
  // A panel with this panel's labels, every cell `fill`.
  Panel like(double fill = kNaN) const { return {dates, symbols, Matrix(rows(), cols(), fill)}; }

  // Row t holds row t - n; the first n rows are NaN.
  Panel shift(std::size_t n) const;

  friend bool operator==(const Panel&, const Panel&) = default;
};

inline bool is_true(double x) {
  return x == 1.0;
}

}  // namespace korva
