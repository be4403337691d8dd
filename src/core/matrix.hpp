// Row-major matrix of doubles: one row per date, one column per symbol. Kernels loop over
// rows outside and columns inside so the inner loop runs over contiguous memory.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

namespace korva {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class Matrix {
 public:
  Matrix() = default;
  Matrix(std::size_t rows, std::size_t cols, double fill = kNaN)
      : rows_(rows), cols_(cols), cells_(rows * cols, fill) {}
  Matrix(std::size_t rows, std::size_t cols, std::vector<double> cells)
      : rows_(rows), cols_(cols), cells_(std::move(cells)) {}

  std::size_t rows() const { return rows_; }
  std::size_t cols() const { return cols_; }
  std::size_t size() const { return cells_.size(); }
  bool empty() const { return cells_.empty(); }

  double& operator()(std::size_t r, std::size_t c) { return cells_[r * cols_ + c]; }
  double operator()(std::size_t r, std::size_t c) const { return cells_[r * cols_ + c]; }

  double* row(std::size_t r) { return cells_.data() + r * cols_; }
  const double* row(std::size_t r) const { return cells_.data() + r * cols_; }
  std::span<double> row_span(std::size_t r) { return {row(r), cols_}; }
  std::span<const double> row_span(std::size_t r) const { return {row(r), cols_}; }

  double* data() { return cells_.data(); }
  const double* data() const { return cells_.data(); }
  std::vector<double>& cells() { return cells_; }
  const std::vector<double>& cells() const { return cells_; }

  void fill(double v) { std::fill(cells_.begin(), cells_.end(), v); }

  friend bool operator==(const Matrix&, const Matrix&) = default;

 private:
  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  std::vector<double> cells_;
};

}  // namespace korva
