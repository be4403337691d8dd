#include "core/ops/linalg.hpp"

#include <cmath>
#include <utility>

namespace korva::ops {

bool solve_normal(std::span<double> a, std::span<double> b, std::span<double> coef) {
  const std::size_t k = b.size();
  for (std::size_t j = 0; j < k; ++j) {
    std::size_t pivot = j;
    double best = std::abs(a[j * k + j]);
    for (std::size_t r = j + 1; r < k; ++r) {
      const double v = std::abs(a[r * k + j]);
      if (v > best) {
        best = v;
        pivot = r;
      }
    }
    if (best < kSingularPivot) return false;
    if (pivot != j) {
      for (std::size_t c = 0; c < k; ++c) std::swap(a[j * k + c], a[pivot * k + c]);
      std::swap(b[j], b[pivot]);
    }
    const double* prow = &a[j * k];
    for (std::size_t r = j + 1; r < k; ++r) {
      double* row = &a[r * k];
      const double factor = row[j] / prow[j];
      for (std::size_t c = j; c < k; ++c) row[c] -= factor * prow[c];
      b[r] -= factor * b[j];
    }
  }
  for (std::size_t i = k; i-- > 0;) {
    double sum = 0.0;
    for (std::size_t c = i + 1; c < k; ++c) sum += a[i * k + c] * coef[c];
    coef[i] = (b[i] - sum) / a[i * k + i];
  }
  return true;
}

std::optional<std::vector<double>> solve_ols(const Matrix& x, std::span<const double> y) {
  const std::size_t k = x.cols();
  const std::size_t n = x.rows();
  std::vector<double> a(k * k, 0.0);
  std::vector<double> b(k, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double* xi = x.row(i);
    for (std::size_t p = 0; p < k; ++p) {
      for (std::size_t q = 0; q < k; ++q) a[p * k + q] += xi[p] * xi[q];
      b[p] += xi[p] * y[i];
    }
  }
  std::vector<double> coef(k, 0.0);
  if (!solve_normal(a, b, coef)) return std::nullopt;
  return coef;
}

}  // namespace korva::ops
