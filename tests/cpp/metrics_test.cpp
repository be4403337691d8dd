#include "core/metrics.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace korva {
namespace {

constexpr double N = kNaN;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kSqrt252 = std::sqrt(252.0);

// Equal, with NaN equal to NaN and infinities compared exactly.
void expect_same(double got, double want, double tol = 1e-12) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << got;
  } else if (std::isinf(want)) {
    EXPECT_EQ(got, want);
  } else {
    EXPECT_NEAR(got, want, tol);
  }
}

void expect_series(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    expect_same(got[i], want[i]);
  }
}

Trade closed_trade(double ret, std::int32_t exit, std::uint32_t period = 1) {
  return Trade{"A", 1, exit, ret, period, std::nullopt, std::nullopt};
}

Trade open_trade(double ret) {
  return Trade{"A", 1, std::nullopt, ret, 3, std::nullopt, {}};
}

TEST(MeanStd, DropsNaNKeepsInfinities) {
  struct Case {
    std::vector<double> xs;
    double mean, std;
  } cases[] = {
      {{1, N, 3}, 2.0, std::sqrt(2.0)},
      {{5}, 5.0, N},
      {{}, N, N},
      {{N, N}, N, N},
      {{2, 4, 4, 4, 5, 5, 7, 9}, 5.0, std::sqrt(32.0 / 7.0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xs.size());
    const MeanStd ms = mean_std(c.xs);
    expect_same(ms.mean, c.mean);
    expect_same(ms.std, c.std);
  }
  EXPECT_EQ(mean_std(std::vector<double>{kInf, 1.0}).mean, kInf);
}

TEST(Returns, DailyAndPaired) {
  expect_series(daily_returns(std::vector<double>{2, 3, 0, 1}), {N, 0.5, -1.0, kInf});
  const auto [a, b] =
      paired_returns(std::vector<double>{1, 2, N, 4}, std::vector<double>{1, 1.5, 3});
  expect_series(a, {1.0});
  expect_series(b, {0.5});
}

TEST(Metrics, FlatCurve) {
  const std::vector<std::int32_t> dates{20240102, 20240103, 20240104};
  const std::vector<double> eq{1, 1, 1};
  const Metrics m = compute_metrics(dates, eq, {}, std::vector<double>{0, 0, 0}, nullptr);
  expect_same(m.total_return, 0.0);
  expect_same(m.ann_volatility, 0.0);
  expect_same(m.sharpe, 0.0);
  expect_same(m.sortino, N);
  expect_same(m.max_drawdown, 0.0);
  expect_same(m.cagr, 0.0);
  expect_same(m.calmar, kInf);
  expect_same(m.recovery_factor, kInf);
  expect_same(m.max_drawdown_duration, 0.0);
  expect_same(m.time_in_market, 0.0);
  expect_same(m.avg_exposure, 0.0);
  EXPECT_FALSE(m.benchmark_return.has_value());
  EXPECT_FALSE(m.information_ratio.has_value());
}

TEST(Metrics, TwoPointsAndEmpty) {
  const std::vector<double> two{1.0, 1.1};
  expect_same(ann_volatility(two), N);
  expect_same(sharpe(two), (1.1 / 1.0 - 1.0) / 1e-6 * kSqrt252, 1e-3);
  expect_same(sharpe(std::vector<double>{1.0}), N);

  const Metrics m = compute_metrics({}, {}, {}, {}, nullptr);
  for (double x : {m.total_return, m.cagr, m.ann_volatility, m.sharpe, m.sortino, m.max_drawdown,
                   m.calmar, m.recovery_factor, m.time_in_market, m.avg_exposure}) {
    expect_same(x, N);
  }
  expect_same(m.num_trades, 0.0);
  expect_same(m.max_drawdown_duration, 0.0);
}

TEST(Metrics, Drawdown) {
  struct Case {
    std::vector<double> eq;
    std::vector<double> dd;
    double max_dd;
    double duration;
  } cases[] = {
      {{1.0, 1.1, 0.99, 1.2}, {0, 0, -0.1, 0}, -0.1, 1},
      {{1, 0.9, 0.95, 1.0, 0.8, 0.9, 0.95}, {0, -0.1, -0.05, 0, -0.2, -0.1, -0.05}, -0.2, 3},
      // A NaN point gives NaN, keeps the peak and breaks a run.
      {{1, N, 0.5, 2}, {0, N, -0.5, 0}, -0.5, 1},
      {{2, N, 1, N, 1}, {0, N, -0.5, N, -0.5}, -0.5, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.eq.size());
    expect_series(drawdown_series(c.eq), c.dd);
    expect_same(max_drawdown(c.eq), c.max_dd);
    std::vector<std::int32_t> dates(c.eq.size());
    for (std::size_t i = 0; i < dates.size(); ++i) dates[i] = 20240101 + std::int32_t(i);
    const Metrics m = compute_metrics(dates, c.eq, {}, {}, nullptr);
    expect_same(m.max_drawdown, c.max_dd);
    expect_same(m.max_drawdown_duration, c.duration);
  }
}

TEST(Metrics, Sortino) {
  // Returns 0.2 and -0.1: mean 0.05; downside values [0, -0.1], deviation sqrt(0.005).
  expect_same(sortino(std::vector<double>{1, 1.2, 1.08}), 0.05 / std::sqrt(0.005) * kSqrt252, 1e-9);
  // A NaN return counts as 0 in the downside [0, 0, -0.1] and is dropped from the mean.
  expect_same(sortino(std::vector<double>{1, N, 1, 0.9}), -0.1 / std::sqrt(0.01 / 3.0) * kSqrt252,
              1e-9);
  expect_same(sortino(std::vector<double>{1, 1.1, 1.2}), N);
}

TEST(Metrics, YearFracAndCagr) {
  expect_same(year_frac(20240101, 20250101), 366.0 * 86400.0 / 3.15576e7);
  expect_same(year_frac(20250101, 20240101), -366.0 * 86400.0 / 3.15576e7);
  expect_same(year_frac(20241301, 20250101), N);
  expect_same(year_frac(20240101, 20230230), N);

  struct Case {
    const char* name;
    std::vector<std::int32_t> dates;
    std::vector<double> eq;
    double cagr;
  } cases[] = {
      {"one year",
       {20230101, 20240101},
       {1.0, 1.1},
       std::pow(1.1, 1.0 / (365.0 * 86400.0 / 3.15576e7)) - 1.0},
      {"invalid last date", {20230101, 20231301}, {1.0, 1.1}, N},
      {"invalid first date, flat curve", {20230230, 20240101}, {1.0, 1.0}, N},
      {"single date", {20230101}, {1.0}, N},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Metrics m = compute_metrics(c.dates, c.eq, {}, {}, nullptr);
    expect_same(m.cagr, c.cagr);
    if (std::isnan(c.cagr)) {
      expect_same(m.calmar, N);
    }
  }
}

TEST(Metrics, CalmarAndRecovery) {
  const std::vector<std::int32_t> dates{20230101, 20230701, 20240101};
  const std::vector<double> eq{1.0, 0.8, 1.2};
  const Metrics m = compute_metrics(dates, eq, {}, {}, nullptr);
  const double cagr = std::pow(1.2, 1.0 / (365.0 * 86400.0 / 3.15576e7)) - 1.0;
  expect_same(m.max_drawdown, -0.2);
  expect_same(m.calmar, cagr / 0.2);
  expect_same(m.recovery_factor, 0.2 / 0.2);
}

TEST(Metrics, TradeStatistics) {
  // List order differs from exit order: by exit date the losses 5, 6, 7 are consecutive.
  const std::vector<Trade> trades{closed_trade(-0.1, 5, 2), closed_trade(0.2, 9, 4),
                                  closed_trade(-0.1, 6, 1), closed_trade(-0.1, 7, 3),
                                  open_trade(-0.5)};
  const Metrics m = compute_metrics({}, {}, trades, {}, nullptr);
  expect_same(m.num_trades, 4.0);
  expect_same(m.win_rate, 0.25);
  expect_same(m.profit_factor, 0.2 / 0.3);
  expect_same(m.expectancy, -0.1 / 4.0);
  expect_same(m.avg_holding_period, 2.5);
  expect_same(m.avg_win, 0.2);
  expect_same(m.avg_loss, -0.1);
  expect_same(m.payoff_ratio, 2.0);
  expect_same(m.best_trade, 0.2);
  expect_same(m.worst_trade, -0.1);
  expect_same(m.max_consecutive_losses, 3.0);
  EXPECT_EQ(max_consecutive_losses(trades), 3u);
  EXPECT_EQ(closed(trades).size(), 4u);
}

TEST(Metrics, TradeStatisticsEdgeCases) {
  struct Case {
    const char* name;
    std::vector<Trade> trades;
    double num, win_rate, profit_factor, avg_loss, payoff, best, worst, max_losses;
  } cases[] = {
      {"only an open trade", {open_trade(0.3)}, 0, N, N, N, N, N, N, 0},
      {"no losers", {closed_trade(0.1, 2), closed_trade(0.2, 3)}, 2, 1.0, kInf, N, N, 0.2, 0.1, 0},
      {"NaN returns", {closed_trade(N, 2), closed_trade(N, 3)}, 2, 0.0, kInf, N, N, -kInf, kInf, 0},
      {"ties keep list order",
       {closed_trade(-0.1, 3), closed_trade(0.1, 3), closed_trade(-0.1, 3)},
       3,
       1.0 / 3.0,
       0.5,
       -0.1,
       1.0,
       0.1,
       -0.1,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Metrics m = compute_metrics({}, {}, c.trades, {}, nullptr);
    expect_same(m.num_trades, c.num);
    expect_same(m.win_rate, c.win_rate);
    expect_same(m.profit_factor, c.profit_factor);
    expect_same(m.avg_loss, c.avg_loss);
    expect_same(m.payoff_ratio, c.payoff);
    expect_same(m.best_trade, c.best);
    expect_same(m.worst_trade, c.worst);
    expect_same(m.max_consecutive_losses, c.max_losses);
    if (c.num == 0) {
      expect_same(m.expectancy, N);
      expect_same(m.avg_holding_period, N);
    }
  }
}

TEST(Metrics, Exposure) {
  const Metrics m = compute_metrics({}, {}, {}, std::vector<double>{0, 0.5, 1.0, 0.5}, nullptr);
  expect_same(m.time_in_market, 0.75);
  expect_same(m.avg_exposure, 0.5);
}

TEST(Metrics, BenchmarkRelative) {
  // Strategy returns are twice the benchmark's: 0.2, -0.2, 0.2 against 0.1, -0.1, 0.1.
  const std::vector<std::int32_t> dates{20240102, 20240103, 20240104, 20240105};
  const std::vector<double> eq{1, 1.2, 0.96, 1.152};
  const std::vector<double> bench{100, 110, 99, 108.9};
  const Metrics m = compute_metrics(dates, eq, {}, {}, &bench);
  ASSERT_TRUE(m.beta.has_value());
  expect_same(*m.beta, 2.0, 1e-9);
  expect_same(*m.alpha, 0.0, 1e-9);
  const double te_sd = std::sqrt((2 * 0.2 / 3 * 0.2 / 3 + 0.4 / 3 * 0.4 / 3) / 2);
  expect_same(*m.tracking_error, te_sd * kSqrt252, 1e-9);
  expect_same(*m.information_ratio, (0.1 / 3) / te_sd * kSqrt252, 1e-9);
  expect_same(*m.benchmark_return, 0.089, 1e-12);
  expect_same(*m.excess_return, 0.152 - 0.089, 1e-12);
}

TEST(Metrics, BenchmarkEdgeCases) {
  const std::vector<std::int32_t> dates{20240102, 20240103, 20240104};
  const std::vector<double> eq{1, 1.1, 1.21};
  struct Case {
    const char* name;
    std::vector<double> bench;
    double bench_return, beta, tracking_error;
  } cases[] = {
      {"all NaN", {N, N, N}, N, N, N},
      {"NaN ends", {N, 2, N}, 0.0, N, N},
      {"first value zero", {0, 1, 2}, N, N, N},
      {"flat benchmark", {5, 5, 5}, 0.0, N, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Metrics m = compute_metrics(dates, eq, {}, {}, &c.bench);
    ASSERT_TRUE(m.benchmark_return.has_value());
    ASSERT_TRUE(m.alpha.has_value());
    ASSERT_TRUE(m.excess_return.has_value());
    ASSERT_TRUE(m.information_ratio.has_value());
    expect_same(*m.benchmark_return, c.bench_return);
    expect_same(*m.beta, c.beta);
    expect_same(*m.tracking_error, c.tracking_error, 1e-9);
    if (std::isnan(c.beta)) {
      expect_same(*m.alpha, N);
    }
  }
}

TEST(PeriodReturns, MonthlyAndYearly) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> dates;
    std::vector<double> eq;
    bool monthly;
    std::vector<PeriodReturn> want;
  } cases[] = {
      {"monthly",
       {20240130, 20240131, 20240201, 20240202},
       {1.0, 1.1, 1.21, 1.1},
       true,
       {{"2024-01", 0.1}, {"2024-02", 0.0}}},
      {"yearly",
       {20231229, 20240102, 20240103},
       {1.0, 1.1, 1.21},
       false,
       {{"2023", 0.0}, {"2024", 0.21}}},
      {"first period from the first point", {20240315}, {0.98}, true, {{"2024-03", 0.0}}},
      {"unsorted keys start new entries",
       {20240131, 20240201, 20240130},
       {1.0, 2.0, 1.0},
       true,
       {{"2024-01", 0.0}, {"2024-02", 1.0}, {"2024-01", -0.5}}},
      {"length mismatch", {20240101, 20240102}, {1.0}, true, {}},
      {"empty", {}, {}, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = period_returns(c.dates, c.eq, c.monthly);
    ASSERT_EQ(got.size(), c.want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k].period, c.want[k].period);
      EXPECT_NEAR(got[k].ret, c.want[k].ret, 1e-12);
    }
  }
}

TEST(Rolling, WindowsOfReturns) {
  const std::vector<double> eq{1, 1.1, 1.21, 1.1};
  // Index 2: returns 0.1, 0.1 (deviation ~0); index 3: 0.1 and 1.1 / 1.21 - 1.
  const double r3 = 1.1 / 1.21 - 1.0;
  const double mean = (0.1 + r3) / 2;
  const double sd = std::sqrt(((0.1 - mean) * (0.1 - mean) + (r3 - mean) * (r3 - mean)));
  const auto vol = rolling_volatility(eq, 2);
  ASSERT_EQ(vol.size(), 4u);
  expect_same(vol[0], N);
  expect_same(vol[1], N);
  expect_same(vol[2], 0.0, 1e-9);
  expect_same(vol[3], sd * kSqrt252, 1e-9);
  const auto sr = rolling_sharpe(eq, 2);
  expect_same(sr[1], N);
  expect_same(sr[3], mean / sd * kSqrt252, 1e-9);

  // n at most the window: everything NaN.
  for (double x : rolling_sharpe(eq, 4)) expect_same(x, N);
  for (double x : rolling_volatility(std::vector<double>(252, 1.0), 252)) expect_same(x, N);
  // A window of NaN returns.
  const auto nan_sr = rolling_sharpe(std::vector<double>{1, N, N, N}, 2);
  expect_same(nan_sr[2], N);
  expect_same(nan_sr[3], N);
  // 253 points: only the last index is defined, over returns 1..252.
  std::vector<double> long_eq(253, 1.0);
  for (std::size_t k = 1; k < long_eq.size(); ++k) long_eq[k] = long_eq[k - 1] * 1.001;
  const auto long_sr = rolling_sharpe(long_eq, 252);
  expect_same(long_sr[251], N);
  EXPECT_FALSE(std::isnan(long_sr[252]));
}

}  // namespace
}  // namespace korva
