#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/ops/linalg.hpp"
#include "core/ops/neutralize.hpp"

namespace korva::ops {
namespace {

constexpr double nan = kNaN;
constexpr double inf = std::numeric_limits<double>::infinity();

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t r = dates.size(), c = symbols.size();
  return Panel{std::move(dates), std::move(symbols), Matrix(r, c, std::move(cells))};
}

void expect_cells_near(const Matrix& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got.data()[i])) << got.data()[i];
    } else {
      EXPECT_NEAR(got.data()[i], want[i], tol);
    }
  }
}

// The least-squares recipe written out plainly, independently of the library code: every
// sum of A = x'x and b = x'y starts at 0.0 and adds the observations in row order; partial
// pivoting by the first largest absolute value; rows below the pivot reduced from column j
// on; back substitution as (b[i] - sum of later terms) / A[i][i].
std::optional<std::vector<double>> textbook_ols(const std::vector<std::vector<double>>& x,
                                                const std::vector<double>& y, std::size_t k) {
  std::vector<std::vector<double>> a(k, std::vector<double>(k, 0.0));
  std::vector<double> b(k, 0.0);
  for (std::size_t p = 0; p < k; ++p) {
    for (std::size_t q = 0; q < k; ++q) {
      for (std::size_t r = 0; r < x.size(); ++r) a[p][q] += x[r][p] * x[r][q];
    }
    for (std::size_t r = 0; r < x.size(); ++r) b[p] += x[r][p] * y[r];
  }
  for (std::size_t j = 0; j < k; ++j) {
    std::size_t piv = j;
    for (std::size_t r = j + 1; r < k; ++r) {
      if (std::abs(a[r][j]) > std::abs(a[piv][j])) piv = r;
    }
    if (std::abs(a[piv][j]) < 1e-12) return std::nullopt;
    std::swap(a[j], a[piv]);
    std::swap(b[j], b[piv]);
    for (std::size_t r = j + 1; r < k; ++r) {
      const double factor = a[r][j] / a[j][j];
      for (std::size_t c = j; c < k; ++c) a[r][c] -= factor * a[j][c];
      b[r] -= factor * b[j];
    }
  }
  std::vector<double> coef(k, 0.0);
  for (std::size_t i = k; i-- > 0;) {
    double sum = 0.0;
    for (std::size_t c = i + 1; c < k; ++c) sum += a[i][c] * coef[c];
    coef[i] = (b[i] - sum) / a[i][i];
  }
  return coef;
}

TEST(SolveOls, BitIdenticalToTheTextbookRecipe) {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal;
  for (std::size_t k = 0; k <= 7; ++k) {
    for (std::size_t n : {k, k + 1, k + 9, std::size_t{40}}) {
      SCOPED_TRACE(std::to_string(k) + " x " + std::to_string(n));
      std::vector<std::vector<double>> rows(n, std::vector<double>(k));
      std::vector<double> cells, y(n);
      for (std::size_t r = 0; r < n; ++r) {
        for (double& v : rows[r]) v = normal(rng) * 5.0 + (r % 3);
        cells.insert(cells.end(), rows[r].begin(), rows[r].end());
        y[r] = normal(rng) * 2.0 - 1.0;
      }
      const auto got = solve_ols(Matrix(n, k, cells), y);
      const auto want = textbook_ols(rows, y, k);
      ASSERT_EQ(got.has_value(), want.has_value());
      if (!got) continue;
      ASSERT_EQ(got->size(), k);
      for (std::size_t i = 0; i < k; ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>((*got)[i]), std::bit_cast<std::uint64_t>((*want)[i]))
            << "coefficient " << i;
      }
    }
  }
}

TEST(SolveOls, SolvesSmallSystems) {
  struct Case {
    const char* name;
    std::size_t rows, cols;
    std::vector<double> x, y;
    std::optional<std::vector<double>> want;
  } cases[] = {
      // x'x = [[2, 1], [1, 2]], x'y = [4, 5] -> [1, 2].
      {"exact two columns", 3, 2, {1, 0, 0, 1, 1, 1}, {1, 2, 3}, std::vector<double>{1, 2}},
      // Least squares through the origin: sum(xy) / sum(x^2) = (1 + 4 + 9) / 14 = 1.
      {"one column", 3, 1, {1, 2, 3}, {1, 2, 3}, std::vector<double>{1}},
      // Intercept 1.1 and slope 1.1 for y = [1, 3, 2, 5] on x = [0, 1, 2, 3].
      {"line fit", 4, 2, {1, 0, 1, 1, 1, 2, 1, 3}, {1, 3, 2, 5}, std::vector<double>{1.1, 1.1}},
      {"identical columns", 2, 2, {1, 1, 1, 1}, {1, 2}, std::nullopt},
      {"zero column", 3, 2, {1, 0, 2, 0, 3, 0}, {1, 2, 3}, std::nullopt},
      // The pivot is x'x itself: 1.21e-12 passes the 1e-12 test, 8.1e-13 does not.
      {"pivot just above threshold", 1, 1, {1.1e-6}, {1.1e-6}, std::vector<double>{1}},
      {"pivot just below threshold", 1, 1, {0.9e-6}, {1}, std::nullopt},
      {"no columns", 2, 0, {}, {1, 2}, std::vector<double>{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = solve_ols(Matrix(c.rows, c.cols, c.x), c.y);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (!got) continue;
    ASSERT_EQ(got->size(), c.want->size());
    for (std::size_t i = 0; i < got->size(); ++i) EXPECT_NEAR((*got)[i], (*c.want)[i], 1e-9);
  }
}

TEST(SolveNormal, SwapsRowsToTheLargestPivot) {
  // A zero in the first pivot position needs the row swap: [[0, 1], [1, 0]] c = [2, 3].
  std::vector<double> a{0, 1, 1, 0}, b{2, 3}, coef(2);
  ASSERT_TRUE(solve_normal(a, b, coef));
  EXPECT_EQ(coef[0], 3.0);
  EXPECT_EQ(coef[1], 2.0);

  // Pivot choice by absolute value: without the swap to the row with 1 the tiny first
  // pivot would lose about six digits of the first coefficient.
  std::vector<double> a2{1e-10, 1, 1, 1}, b2{1, 2}, coef2(2);
  ASSERT_TRUE(solve_normal(a2, b2, coef2));
  EXPECT_NEAR(coef2[0], 1.0 / (1.0 - 1e-10), 1e-14);
  EXPECT_NEAR(coef2[1], (1.0 - 2e-10) / (1.0 - 1e-10), 1e-14);

  // Singular after elimination: the second pivot cancels to zero.
  std::vector<double> a3{1, 2, 2, 4}, b3{1, 2}, coef3(2);
  EXPECT_FALSE(solve_normal(a3, b3, coef3));
}

struct NeutralizeCase {
  const char* name;
  Panel of;
  std::vector<Panel> factors;
  bool add_const;
  std::vector<double> want;
};

TEST(Neutralize, Residuals) {
  NeutralizeCase cases[] = {
      {"collinear with constant",
       make({1}, {"A", "B", "C"}, {1, 2, 3}),
       {make({1}, {"A", "B", "C"}, {1, 2, 3})},
       true,
       {0, 0, 0}},
      {"through the origin",
       make({1}, {"A", "B"}, {2, 4}),
       {make({1}, {"A", "B"}, {1, 2})},
       false,
       {0, 0}},
      {"line fit",
       make({1}, {"A", "B", "C", "D"}, {1, 3, 2, 5}),
       {make({1}, {"A", "B", "C", "D"}, {0, 1, 2, 3})},
       true,
       {-0.1, 0.8, -1.3, 0.6}},
      // One usable symbol with one factor: 1 is not greater than 1.
      {"too few usable symbols",
       make({1}, {"A", "B", "C"}, {1, nan, 3}),
       {make({1}, {"A", "B", "C"}, {1, 2, inf})},
       true,
       {nan, nan, nan}},
      // Two factors on two symbols: never more usable symbols than factors.
      {"no more symbols than factors",
       make({1, 2}, {"A", "B"}, {1, 2, 3, 5}),
       {make({1, 2}, {"A", "B"}, {1, 3, 2, 7}), make({1, 2}, {"A", "B"}, {4, 1, 0, 9})},
       false,
       {nan, nan, nan, nan}},
      {"constant factor is singular",
       make({1}, {"A", "B", "C"}, {1, 2, 4}),
       {make({1}, {"A", "B", "C"}, {7, 7, 7})},
       true,
       {nan, nan, nan}},
      {"no factors demeans",
       make({1, 2}, {"A", "B", "C"}, {1, 2, 6, 4, nan, 8}),
       {},
       true,
       {-2, -1, 3, -2, nan, 2}},
      {"no columns keeps finite values",
       make({1}, {"A", "B", "C"}, {1, -inf, 3}),
       {},
       false,
       {1, nan, 3}},
      // B is missing from the factor: NaN on every date; A and C fit exactly (2 points,
      // constant and slope) on the first date, and the lone usable symbol on the second
      // date is too few.
      {"symbol missing from factor",
       make({1, 2}, {"A", "B", "C"}, {1, 2, 3, 4, 5, nan}),
       {make({1, 2}, {"C", "A"}, {5, 1, 9, 2})},
       true,
       {0, nan, 0, nan, nan, nan}},
      // The factor lists dates in another order and has an extra date: cells are matched by
      // date and symbol, not by position. On date 20 the fit through the origin of
      // [1, 2, 3] on [5, 5, 5] has slope 0.4.
      {"factor matched by labels",
       make({10, 20}, {"A", "B", "C"}, {2, 4, 6, 1, 2, 3}),
       {make({30, 20, 10}, {"A", "B", "C"}, {9, 9, 9, 5, 5, 5, 1, 2, 3})},
       false,
       {0, 0, 0, -1, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel got = neutralize(c.of, c.factors, c.add_const);
    EXPECT_EQ(got.dates, c.of.dates);
    EXPECT_EQ(got.symbols, c.of.symbols);
    expect_cells_near(got.data, c.want, 1e-9);
  }
}

TEST(Neutralize, LeavesInputsUntouched) {
  Panel of = make({1}, {"A", "B", "C"}, {1, 3, 2});
  Panel f = make({1}, {"A", "B", "C"}, {0, 1, 5});
  const Panel of0 = of.clone(), f0 = f.clone();
  std::vector<Panel> factors{f};
  (void)neutralize(of, factors, true);
  EXPECT_EQ(of, of0);
  EXPECT_EQ(factors[0], f0);
}

// The one-pass normal equations must give exactly what the textbook recipe gives on the
// materialised design matrix: same sums in the same order, same elimination.
TEST(Neutralize, BitIdenticalToMaterialisedDesign) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> unit;
  const std::size_t t = 40, m = 60;
  Symbols syms;
  for (std::size_t s = 0; s < m; ++s) syms.push_back("S" + std::to_string(s));
  Dates dates;
  for (std::size_t d = 0; d < t; ++d) dates.push_back(std::int32_t(d));
  auto random_panel = [&](double nan_share) {
    std::vector<double> cells(t * m);
    for (double& v : cells) v = unit(rng) < nan_share ? nan : normal(rng) * 3.0 + 1.0;
    return make(dates, syms, std::move(cells));
  };
  Panel of = random_panel(0.1);
  // Up to five design columns are summed in unrolled code, more in the general loop.
  for (std::size_t nf : {1, 3, 6}) {
    SCOPED_TRACE(nf);
    std::vector<Panel> factors;
    for (std::size_t f = 0; f < nf; ++f) factors.push_back(random_panel(0.05));

    for (bool add_const : {true, false}) {
      SCOPED_TRACE(add_const);
      Panel got = neutralize(of, factors, add_const);
      const std::size_t k = nf + (add_const ? 1 : 0);
      std::size_t solved_rows = 0;
      for (std::size_t d = 0; d < t; ++d) {
        std::vector<std::size_t> usable;
        for (std::size_t s = 0; s < m; ++s) {
          bool ok = std::isfinite(of.data(d, s));
          for (const Panel& f : factors) ok = ok && std::isfinite(f.data(d, s));
          if (ok) usable.push_back(s);
        }
        std::vector<std::vector<double>> x(usable.size(), std::vector<double>(k));
        std::vector<double> y;
        for (std::size_t i = 0; i < usable.size(); ++i) {
          std::size_t c = 0;
          if (add_const) x[i][c++] = 1.0;
          for (const Panel& f : factors) x[i][c++] = f.data(d, usable[i]);
          y.push_back(of.data(d, usable[i]));
        }
        auto coef = textbook_ols(x, y, k);
        ASSERT_TRUE(coef.has_value());
        ++solved_rows;
        std::vector<double> want(m, nan);
        for (std::size_t i = 0; i < usable.size(); ++i) {
          double dot = 0.0;
          for (std::size_t c = 0; c < k; ++c) dot += x[i][c] * (*coef)[c];
          want[usable[i]] = y[i] - dot;
        }
        EXPECT_EQ(std::memcmp(got.data.row(d), want.data(), m * sizeof(double)), 0) << "date " << d;
      }
      EXPECT_EQ(solved_rows, t);
    }
  }
}

TEST(ProjectOnto, FillsByLabelsWithLastOccurrence) {
  Panel p = make({5, 6, 5}, {"X", "Y", "X"}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  Matrix got = project_onto(p, {5, 7, 6}, {"X", "Z", "Y"});
  // Date 5 -> row 2, symbol X -> column 2.
  expect_cells_near(got, {9, nan, 8, nan, nan, nan, 6, nan, 5}, 0.0);
}

}  // namespace
}  // namespace korva::ops
