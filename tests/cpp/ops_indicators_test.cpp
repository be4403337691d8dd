#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "core/ops/arith.hpp"
#include "core/ops/indicators.hpp"
#include "series_test_util.hpp"
#include "test_util.hpp"

namespace korva::ops {
namespace {

using korva::testing::column;
using korva::testing::column_panel;
using korva::testing::kInf;
using korva::testing::make_panel;
using korva::testing::random_panel;
using korva::testing::same_cells;
using korva::testing::same_column;
constexpr double N = kNaN;
constexpr std::size_t kHuge = std::size_t(-1);

using SeriesFn = Panel (*)(const Panel&, std::size_t);

struct Case {
  const char* name;
  SeriesFn fn;
  std::size_t n;
  std::vector<double> input;
  std::vector<double> expected;
};

void run_cases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel in = column_panel(c.input);
    const Panel out = c.fn(in, c.n);
    EXPECT_EQ(out.dates, in.dates);
    EXPECT_EQ(out.symbols, in.symbols);
    EXPECT_TRUE(same_column(column(out.data, 0), c.expected));
  }
}

TEST(Average, WarmUpGapsAndWindowLengths) {
  run_cases({
      {"min count 1 skips NaN", average, 3, {1, N, 3, 4}, {1, 1, 2, 3.5}},
      {"min count 2", average, 4, {1, 2, N, N, N}, {N, 1.5, 1.5, 1.5, N}},
      {"n = 0 expands", average, 0, {2, 4, 6}, {2, 3, 4}},
      {"n = 1", average, 1, {2, N, 6}, {2, N, 6}},
      {"longer than the panel", average, 5, {2, 4}, {N, 3}},
      {"infinities are added", average, 2, {kInf, 1, -kInf}, {kInf, kInf, -kInf}},
      {"window slides", average, 2, {1, 3, 5, N, N}, {1, 2, 4, 5, N}},
      // min_count is then far above any row count.
      {"largest count", average, kHuge, {1, 2, 3}, {N, N, N}},
  });
}

TEST(Average, TwentyRowWindowHasValueFromRowNine) {
  std::vector<double> x(12);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = double(i + 1);
  const Panel out = average(column_panel(x), 20);
  EXPECT_TRUE(std::isnan(out.data(8, 0)));
  EXPECT_EQ(out.data(9, 0), 5.5);
  EXPECT_EQ(out.data(11, 0), 6.5);
}

TEST(Ema, SeedRecursionAndGaps) {
  const double a = 2.0 / 3.0;
  run_cases({
      {"late start", ema, 3, {N, 2, 4, 6, 8}, {N, N, N, 4, 6}},
      {"gap carries the average", ema, 3, {N, 2, 4, 6, N}, {N, N, N, 4, 4}},
      {"NaN inside the seed", ema, 3, {1, N, 3, 4}, {N, N, N, N}},
      {"seed in the last row", ema, 3, {N, 1, 2, 3}, {N, N, N, 2}},
      {"too short after start", ema, 3, {N, 1, 2}, {N, N, N}},
      {"n = 0", ema, 0, {1, 2}, {N, N}},
      {"largest count", ema, kHuge, {1, 2}, {N, N}},
      {"n = 1 copies finite values", ema, 1, {1, N, 3}, {1, 1, 3}},
      {"infinity is not a start", ema, 2, {kInf, 1, 3, 5}, {N, N, 2, 2 * (1 - a) + 5 * a}},
  });
}

TEST(RollingStd, PopulationDeviationOfFiniteWindows) {
  run_cases({
      {"population", rolling_std, 2, {1, 3}, {N, 1}},
      {"n = 1", rolling_std, 1, {5, 7, N}, {0, 0, N}},
      {"three values", rolling_std, 3, {2, 4, 6}, {N, N, std::sqrt(8.0 / 3.0)}},
      {"infinity in the window", rolling_std, 2, {1, kInf, 3, 5}, {N, N, N, 1}},
      {"longer than the panel", rolling_std, 3, {1, 2}, {N, N}},
      {"n = 0", rolling_std, 0, {1, 2}, {N, N}},
      {"largest count", rolling_std, kHuge, {1, 2}, {N, N}},
  });
}

TEST(Rsi, WilderAverages) {
  run_cases({
      {"rising", rsi, 2, {1, 2, 3}, {N, N, 100}},
      {"falling", rsi, 2, {3, 2, 1}, {N, N, 0}},
      {"flat", rsi, 2, {5, 5, 5, 5}, {N, N, 100, 100}},
      {"recursion", rsi, 2, {1, 2, 1, 2}, {N, N, 50, 75}},
      {"NaN costs two changes", rsi, 2, {2, 1, N, 3, 4}, {N, N, 0, 0, 80}},
      {"late start", rsi, 2, {N, 1, 2, 3}, {N, N, N, 100}},
      {"n + 1 values needed", rsi, 3, {1, 2, 3}, {N, N, N}},
      {"n = 1", rsi, 1, {1, 2, 1}, {N, 100, 0}},
      {"n = 0", rsi, 0, {1, 2, 3}, {N, N, N}},
      {"largest count", rsi, kHuge, {N, 1, 2, 3}, {N, N, N, N}},
  });
}

TEST(RollingExtremes, NaNWindowsAndInfinities) {
  run_cases({
      {"max with gaps", rolling_max, 3, {1, 5, 2, N, 4, 3, 0}, {N, N, 5, N, N, N, 4}},
      {"min with gaps", rolling_min, 3, {1, 5, 2, N, 4, 3, 0}, {N, N, 1, N, N, N, 0}},
      {"max across blocks", rolling_max, 3, {3, 1, 4, 1, 5, 9, 2, 6}, {N, N, 4, 4, 5, 9, 9, 9}},
      {"min across blocks", rolling_min, 3, {3, 1, 4, 1, 5, 9, 2, 6}, {N, N, 1, 1, 1, 1, 2, 2}},
      {"infinities are values", rolling_max, 2, {1, kInf, 2, -kInf}, {N, kInf, kInf, 2}},
      {"min of minus infinity", rolling_min, 2, {3, -kInf, 2}, {N, -kInf, -kInf}},
      {"n = 1", rolling_max, 1, {1, N, -kInf}, {1, N, -kInf}},
      {"n = rows", rolling_max, 3, {1, 5, 2}, {N, N, 5}},
      {"longer than the panel", rolling_max, 4, {1, 5, 2}, {N, N, N}},
      {"n = 0", rolling_min, 0, {1, 5, 2}, {N, N, N}},
      {"largest count", rolling_max, kHuge, {1, 5, 2}, {N, N, N}},
  });
}

TEST(LaggedComparisons, PctChangeRiseFall) {
  run_cases({
      {"pct_change", pct_change, 1, {2, 3, 0, 1}, {N, 0.5, -1, kInf}},
      {"pct_change n = 0", pct_change, 0, {2, 0, N, -4}, {0, N, N, -0.0}},
      {"pct_change n = 2", pct_change, 2, {2, 3, 3, 6}, {N, N, 0.5, 1}},
      {"pct_change longer", pct_change, 5, {2, 3}, {N, N}},
      {"rise", rise, 1, {1, 2, 2, 3}, {0, 1, 0, 1}},
      {"fall", fall, 1, {1, 2, 2, 3}, {0, 0, 0, 0}},
      {"fall with NaN", fall, 1, {3, N, 1, 0}, {0, 0, 0, 1}},
      {"rise n = 0", rise, 0, {1, 2}, {0, 0}},
      {"rise longer", rise, 3, {1, 2}, {0, 0}},
      {"pct_change largest count", pct_change, kHuge, {1, 2}, {N, N}},
      {"fall largest count", fall, kHuge, {2, 1}, {0, 0}},
  });
}

// These go through alignment: the result comes back in ascending date order, and a
// repeated symbol is read from its last column.
TEST(LaggedComparisons, FollowAlignmentOnUnsortedDatesAndRepeatedSymbols) {
  const Panel unsorted = make_panel({3, 1, 2}, {"A"}, {{10}, {15}, {45}});
  const Panel pc = pct_change(unsorted, 1);
  EXPECT_EQ(pc.dates, (Dates{1, 2, 3}));
  // Row order lags 10 -> 15 -> 45; the dates then sort those rows as 15, 45, 10.
  EXPECT_TRUE(same_cells(pc.data, {{0.5}, {2}, {N}}));
  const Panel r = rise(unsorted, 1);
  EXPECT_TRUE(same_cells(r.data, {{1}, {1}, {0}}));

  const Panel repeated = make_panel({1, 2}, {"X", "X"}, {{1, 4}, {3, 8}});
  const Panel pr = pct_change(repeated, 1);
  EXPECT_EQ(pr.symbols, (Symbols{"X", "X"}));
  EXPECT_TRUE(same_cells(pr.data, {{N, N}, {1, 1}}));
  EXPECT_TRUE(same_cells(fall(repeated, 1).data, {{0, 0}, {0, 0}}));
}

// On a panel with ascending dates and distinct symbols the direct path must give exactly what
// the composition of `shift` with the two-panel operations gives.
TEST(LaggedComparisons, DirectPathEqualsTheComposition) {
  const Panel p = random_panel(40, 6, 17);
  for (std::size_t n : {0, 1, 3, 39, 40, 41}) {
    SCOPED_TRACE(n);
    const Panel prev = p.shift(n);
    const Panel want_pct = div(sub(p, prev), prev);
    const Panel want_rise = gt(p, prev);
    const Panel want_fall = lt(p, prev);
    const Panel got_pct = pct_change(p, n);
    const Panel got_rise = rise(p, n);
    const Panel got_fall = fall(p, n);
    for (std::size_t j = 0; j < p.cols(); ++j) {
      EXPECT_TRUE(same_column(column(got_pct.data, j), column(want_pct.data, j)));
      EXPECT_TRUE(same_column(column(got_rise.data, j), column(want_rise.data, j)));
      EXPECT_TRUE(same_column(column(got_fall.data, j), column(want_fall.data, j)));
    }
    EXPECT_EQ(got_pct.dates, want_pct.dates);
    EXPECT_EQ(got_pct.symbols, want_pct.symbols);
  }
}

TEST(Indicators, KeepRowOrderOfUnsortedPanels) {
  const Panel p = make_panel({3, 1, 2}, {"A"}, {{1}, {3}, {5}});
  const Panel out = average(p, 2);
  EXPECT_EQ(out.dates, p.dates);
  EXPECT_TRUE(same_cells(out.data, {{1}, {2}, {4}}));
}

TEST(Indicators, EmptyPanels) {
  const Panel none = make_panel({}, {"A", "B"}, {});
  const Panel no_cols = make_panel({1, 2}, {}, {{}, {}});
  for (SeriesFn fn :
       {average, ema, rolling_std, rsi, rolling_max, rolling_min, pct_change, rise, fall}) {
    EXPECT_EQ(fn(none, 2).data.rows(), 0u);
    EXPECT_EQ(fn(no_cols, 2).data.cols(), 0u);
  }
}

// Column-at-a-time transcriptions of each operator's definition, written for clarity rather
// than speed, against which the row-wise kernels must agree to the last bit.
namespace reference {

using Col = std::vector<double>;

Col average(const Col& x, std::size_t n) {
  const double min_count = double(std::max<std::size_t>(n / 2, 1));
  Col out(x.size(), N);
  for (std::size_t t = 0; t < x.size(); ++t) {
    const std::size_t start = (n == 0 || t + 1 <= n) ? 0 : t + 1 - n;
    double sum = 0.0;
    double count = 0.0;
    for (std::size_t i = start; i <= t; ++i) {
      if (std::isnan(x[i])) continue;
      sum += x[i];
      count += 1.0;
    }
    if (count >= min_count) out[t] = sum / count;
  }
  return out;
}

Col rolling_std(const Col& x, std::size_t n) {
  Col out(x.size(), N);
  if (n == 0 || n > x.size()) return out;
  for (std::size_t t = n - 1; t < x.size(); ++t) {
    bool finite = true;
    double sum = 0.0;
    for (std::size_t i = t + 1 - n; i <= t; ++i) {
      finite = finite && std::isfinite(x[i]);
      sum += x[i];
    }
    if (!finite) continue;
    const double mean = sum / double(n);
    double sq = 0.0;
    for (std::size_t i = t + 1 - n; i <= t; ++i) sq += (x[i] - mean) * (x[i] - mean);
    out[t] = std::sqrt(sq / double(n));
  }
  return out;
}

Col ema(const Col& x, std::size_t n) {
  Col out(x.size(), N);
  if (n == 0) return out;
  const double alpha = 2.0 / (double(n) + 1.0);
  std::size_t s = 0;
  while (s < x.size() && !std::isfinite(x[s])) ++s;
  if (s == x.size() || s + n > x.size()) return out;
  double sum = 0.0;
  for (std::size_t i = s; i < s + n; ++i) sum += x[i];
  out[s + n - 1] = sum / double(n);
  for (std::size_t t = s + n; t < x.size(); ++t) {
    const double y = std::isfinite(x[t]) ? x[t] : out[t - 1];
    out[t] = out[t - 1] * (1.0 - alpha) + y * alpha;
  }
  return out;
}

Col rsi(const Col& x, std::size_t n) {
  Col out(x.size(), N);
  if (n == 0) return out;
  std::size_t s = 0;
  while (s < x.size() && !std::isfinite(x[s])) ++s;
  if (s == x.size() || s + n >= x.size()) return out;
  Col d(x.size(), 0.0);
  for (std::size_t i = s + 1; i < x.size(); ++i) {
    d[i] = x[i] - x[i - 1];
    if (!std::isfinite(d[i])) d[i] = 0.0;
  }
  double gain = 0.0;
  double loss = 0.0;
  for (std::size_t i = s + 1; i <= s + n; ++i) {
    if (d[i] > 0)
      gain += d[i];
    else
      loss += -d[i];
  }
  double ag = gain / double(n);
  double al = loss / double(n);
  auto value = [&] { return al == 0.0 ? 100.0 : 100.0 - 100.0 / (ag / al + 1.0); };
  out[s + n] = value();
  for (std::size_t i = s + n + 1; i < x.size(); ++i) {
    const double g = d[i] > 0 ? d[i] : 0.0;
    const double l = d[i] <= 0 ? -d[i] : 0.0;
    ag = (g + ag * double(n - 1)) / double(n);
    al = (l + al * double(n - 1)) / double(n);
    out[i] = value();
  }
  return out;
}

}  // namespace reference

TEST(Indicators, RowWiseKernelsMatchColumnDefinitionsBitForBit) {
  const Panel p = random_panel(61, 7, 42);
  const std::size_t lengths[] = {0, 1, 2, 3, 5, 14, 30, 60, 61, 62, 1000};
  for (std::size_t n : lengths) {
    SCOPED_TRACE(n);
    const Panel avg = average(p, n);
    const Panel sd = rolling_std(p, n);
    const Panel hi = rolling_max(p, n);
    const Panel lo = rolling_min(p, n);
    const Panel em = ema(p, n);
    const Panel rs = rsi(p, n);
    for (std::size_t j = 0; j < p.cols(); ++j) {
      SCOPED_TRACE(p.symbols[j]);
      const auto x = column(p.data, j);
      EXPECT_TRUE(same_column(column(avg.data, j), reference::average(x, n)));
      EXPECT_TRUE(same_column(column(sd.data, j), reference::rolling_std(x, n)));
      EXPECT_TRUE(same_column(column(hi.data, j), testing::rolling_extreme(x, n, true)));
      EXPECT_TRUE(same_column(column(lo.data, j), testing::rolling_extreme(x, n, false)));
      EXPECT_TRUE(same_column(column(em.data, j), reference::ema(x, n)));
      EXPECT_TRUE(same_column(column(rs.data, j), reference::rsi(x, n)));
    }
  }
}

}  // namespace
}  // namespace korva::ops
