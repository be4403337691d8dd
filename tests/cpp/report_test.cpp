#include "core/report.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace korva {
namespace {

constexpr double N = kNaN;

void expect_series(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got[i])) << got[i];
    } else {
      EXPECT_NEAR(got[i], want[i], 1e-12);
    }
  }
}

std::vector<std::string> keys(const json::Value& v) {
  std::vector<std::string> out;
  for (const auto& [k, _] : v.as_object()) out.push_back(k);
  return out;
}

const json::Value& at(const json::Value& v, std::string_view key) {
  const json::Value* found = v.as_object().find(key);
  EXPECT_NE(found, nullptr) << key;
  static const json::Value kNull;
  return found ? *found : kNull;
}

BacktestRun sample_run() {
  BacktestRun r;
  r.dates = {20240130, 20240131, 20240201};
  r.equity = {1.0, 1.1, 0.99};
  r.exposure = {1.0, 1.0, 0.0};
  r.trades = {
      Trade{"A", 20240130, 20240201, 0.25, 2, -0.01, 0.3},
      Trade{"B", 20240131, std::nullopt, 0.1, 1, std::nullopt, std::nullopt},
  };
  return r;
}

const std::vector<std::string> kMetricKeys = {"avg_exposure",
                                              "avg_holding_period",
                                              "avg_loss",
                                              "avg_win",
                                              "best_trade",
                                              "cagr",
                                              "calmar",
                                              "expectancy",
                                              "max_consecutive_losses",
                                              "max_drawdown",
                                              "max_drawdown_duration",
                                              "num_trades",
                                              "payoff_ratio",
                                              "profit_factor",
                                              "recovery_factor",
                                              "sharpe",
                                              "sortino",
                                              "time_in_market",
                                              "total_return",
                                              "win_rate",
                                              "worst_trade",
                                              "ann_volatility"};

TEST(BenchmarkEquity, AsOfJoin) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> dates, bench_dates;
    std::vector<double> values, want;
  } cases[] = {
      {"starts a year before the run",
       {20240102, 20240103},
       {20230102, 20240102, 20240103},
       {50, 100, 110},
       {2.0, 2.2}},
      {"missing date takes the latest earlier value", {1, 2, 3}, {1, 3}, {10, 12}, {1, 1, 1.2}},
      {"NaN keeps the latest value", {1, 2, 3}, {1, 2, 3}, {10, N, 12}, {1, 1, 1.2}},
      {"base skips NaN and zero", {1, 2, 3}, {1, 2, 3}, {N, 0, 5}, {N, N, 1}},
      {"a later zero is a value", {1, 2}, {1, 2}, {5, 0}, {1, 0}},
      {"benchmark after the run", {1, 2}, {3}, {7}, {N, N}},
      {"empty benchmark", {1, 2}, {}, {}, {N, N}},
      {"all NaN", {1, 2}, {1, 2}, {N, N}, {N, N}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_series(benchmark_equity(c.dates, c.bench_dates, c.values), c.want);
  }
}

TEST(Report, BuildsSeriesAndMovesRun) {
  const Report r = build_report_with_benchmark(sample_run(), std::nullopt);
  EXPECT_EQ(r.dates, (Dates{20240130, 20240131, 20240201}));
  expect_series(r.equity, {1.0, 1.1, 0.99});
  expect_series(r.drawdown, {0, 0, -0.1});
  ASSERT_EQ(r.monthly_returns.size(), 2u);
  EXPECT_EQ(r.monthly_returns[0].period, "2024-01");
  EXPECT_NEAR(r.monthly_returns[0].ret, 0.1, 1e-12);
  EXPECT_EQ(r.monthly_returns[1].period, "2024-02");
  EXPECT_NEAR(r.monthly_returns[1].ret, -0.1, 1e-12);
  ASSERT_EQ(r.yearly_returns.size(), 1u);
  EXPECT_EQ(r.yearly_returns[0].period, "2024");
  EXPECT_NEAR(r.yearly_returns[0].ret, -0.01, 1e-12);
  expect_series(r.rolling_sharpe, {N, N, N});
  expect_series(r.rolling_volatility, {N, N, N});
  EXPECT_EQ(r.trades.size(), 2u);
  EXPECT_FALSE(r.benchmark.has_value());
  EXPECT_FALSE(r.bootstrap.has_value());
  EXPECT_EQ(r.metrics.num_trades, 1.0);
  EXPECT_NEAR(r.metrics.time_in_market, 2.0 / 3.0, 1e-12);
}

TEST(ReportJson, TopLevelShapeWithoutOptionalKeys) {
  const json::Value v = to_json(build_report_with_benchmark(sample_run(), std::nullopt));
  ASSERT_TRUE(v.is_object());
  EXPECT_EQ(keys(v), (std::vector<std::string>{"dates", "drawdown", "equity", "metrics",
                                               "monthly_returns", "rolling_sharpe",
                                               "rolling_volatility", "trades", "yearly_returns"}));
  const json::Value& dates = at(v, "dates");
  ASSERT_EQ(dates.as_array().size(), 3u);
  EXPECT_TRUE(dates.as_array()[0].is_uint());
  EXPECT_EQ(dates.as_array()[0].as_uint(), 20240130u);
  // Float series stay floats, even when integral.
  EXPECT_TRUE(at(v, "equity").as_array()[0].is_double());
  EXPECT_EQ(at(v, "equity").as_array()[0].as_double(), 1.0);
  EXPECT_TRUE(at(v, "rolling_sharpe").as_array()[0].is_null());

  const json::Value& monthly = at(v, "monthly_returns");
  ASSERT_EQ(monthly.as_array().size(), 2u);
  EXPECT_EQ(keys(monthly.as_array()[0]), (std::vector<std::string>{"period", "ret"}));
  EXPECT_EQ(at(monthly.as_array()[0], "period").as_string(), "2024-01");

  const json::Value& metrics = at(v, "metrics");
  std::vector<std::string> want = kMetricKeys;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(keys(metrics), want);
  EXPECT_TRUE(at(metrics, "num_trades").is_double());
  EXPECT_EQ(at(metrics, "num_trades").as_double(), 1.0);
  EXPECT_TRUE(at(metrics, "max_consecutive_losses").is_double());
  EXPECT_TRUE(at(metrics, "max_drawdown_duration").is_double());
  // No losing trade: profit_factor is infinite and so null.
  EXPECT_TRUE(at(metrics, "profit_factor").is_null());
  const std::string text = json::write(metrics);
  EXPECT_NE(text.find("\"num_trades\":1.0"), std::string::npos) << text;
}

TEST(ReportJson, Trades) {
  const json::Value v = to_json(build_report_with_benchmark(sample_run(), std::nullopt));
  const json::Array& trades = at(v, "trades").as_array();
  ASSERT_EQ(trades.size(), 2u);
  const std::vector<std::string> trade_keys{"entry_date", "exit_date", "mae",   "mfe",
                                            "period",     "ret",       "symbol"};
  EXPECT_EQ(keys(trades[0]), trade_keys);
  EXPECT_EQ(keys(trades[1]), trade_keys);
  EXPECT_EQ(at(trades[0], "symbol").as_string(), "A");
  EXPECT_EQ(at(trades[0], "entry_date").as_uint(), 20240130u);
  EXPECT_EQ(at(trades[0], "exit_date").as_uint(), 20240201u);
  EXPECT_TRUE(at(trades[0], "period").is_uint());
  EXPECT_EQ(at(trades[0], "period").as_uint(), 2u);
  EXPECT_EQ(at(trades[0], "ret").as_double(), 0.25);
  EXPECT_EQ(at(trades[0], "mae").as_double(), -0.01);
  EXPECT_EQ(at(trades[0], "mfe").as_double(), 0.3);
  EXPECT_TRUE(at(trades[1], "exit_date").is_null());
  EXPECT_TRUE(at(trades[1], "mae").is_null());
  EXPECT_TRUE(at(trades[1], "mfe").is_null());

  // A non-finite trade return is null.
  BacktestRun run = sample_run();
  run.trades[0].ret = N;
  run.trades[0].mae = -std::numeric_limits<double>::infinity();
  const json::Value w = to_json(build_report_with_benchmark(std::move(run), std::nullopt));
  EXPECT_TRUE(at(at(w, "trades").as_array()[0], "ret").is_null());
  EXPECT_TRUE(at(at(w, "trades").as_array()[0], "mae").is_null());
}

TEST(ReportJson, BenchmarkKeys) {
  struct Case {
    const char* name;
    std::vector<double> bench;
    bool metrics_null;
  } cases[] = {
      {"all NaN benchmark", {N, N, N}, true},
      {"usable benchmark", {1.0, 1.05, 1.0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const json::Value v = to_json(build_report_with_benchmark(sample_run(), c.bench));
    ASSERT_TRUE(v.as_object().contains("benchmark"));
    const json::Array& b = at(v, "benchmark").as_array();
    ASSERT_EQ(b.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(b[i].is_null(), c.metrics_null);
    const json::Value& metrics = at(v, "metrics");
    EXPECT_EQ(metrics.as_object().size(), 28u);
    for (const char* key : {"benchmark_return", "alpha", "beta", "excess_return", "tracking_error",
                            "information_ratio"}) {
      SCOPED_TRACE(key);
      ASSERT_TRUE(metrics.as_object().contains(key));
      if (c.metrics_null) {
        EXPECT_TRUE(at(metrics, key).is_null());
      }
    }
    if (!c.metrics_null) {
      EXPECT_NEAR(at(metrics, "benchmark_return").as_double(), 0.0, 1e-12);
    }
  }
}

TEST(ReportJson, SingleDateRun) {
  BacktestRun run;
  run.dates = {20240105};
  run.equity = {0.998};
  run.exposure = {0.5};
  const json::Value v = to_json(build_report_with_benchmark(std::move(run), std::nullopt));
  EXPECT_EQ(at(v, "equity").as_array().size(), 1u);
  for (const char* key : {"monthly_returns", "yearly_returns"}) {
    SCOPED_TRACE(key);
    const json::Array& rows = at(v, key).as_array();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(at(rows[0], "ret").as_double(), 0.0);
  }
  ASSERT_EQ(at(v, "rolling_sharpe").as_array().size(), 1u);
  EXPECT_TRUE(at(v, "rolling_sharpe").as_array()[0].is_null());
  // Metrics that need two points are null, the trade counts are 0.0.
  const json::Value& metrics = at(v, "metrics");
  EXPECT_TRUE(at(metrics, "cagr").is_null());
  EXPECT_TRUE(at(metrics, "sharpe").is_null());
  EXPECT_EQ(at(metrics, "num_trades").as_double(), 0.0);
  EXPECT_TRUE(at(metrics, "num_trades").is_double());
}

TEST(ReportJson, EmptyRunBuildsWithoutFailing) {
  const json::Value v = to_json(build_report_with_benchmark(BacktestRun{}, std::nullopt));
  EXPECT_TRUE(at(v, "dates").as_array().empty());
  EXPECT_TRUE(at(v, "monthly_returns").as_array().empty());
  const json::Value& metrics = at(v, "metrics");
  EXPECT_EQ(metrics.as_object().size(), 22u);
  EXPECT_TRUE(at(metrics, "total_return").is_null());
  EXPECT_TRUE(at(metrics, "max_drawdown").is_null());
  EXPECT_EQ(at(metrics, "max_drawdown_duration").as_double(), 0.0);
}

TEST(ReportJson, BootstrapKey) {
  Report r = build_report_with_benchmark(sample_run(), std::nullopt);
  r.bootstrap = BootstrapSummary{200, 7, {1, 2, 3}, {N, N, N}, {-0.3, -0.2, -0.1}};
  const json::Value v = to_json(r);
  const json::Value& b = at(v, "bootstrap");
  EXPECT_EQ(keys(b),
            (std::vector<std::string>{"block_len", "cagr", "max_drawdown", "n_samples", "sharpe"}));
  EXPECT_TRUE(at(b, "n_samples").is_uint());
  EXPECT_EQ(at(b, "n_samples").as_uint(), 200u);
  EXPECT_EQ(at(b, "block_len").as_uint(), 7u);
  EXPECT_EQ(keys(at(b, "sharpe")), (std::vector<std::string>{"p05", "p50", "p95"}));
  EXPECT_EQ(at(at(b, "sharpe"), "p95").as_double(), 3.0);
  EXPECT_TRUE(at(at(b, "cagr"), "p50").is_null());
  EXPECT_EQ(keys(v)[0], "bootstrap");
}

}  // namespace
}  // namespace korva

namespace korva {
namespace {

// Small deterministic generator for the randomised robustness test.
struct Lcg {
  std::uint64_t s;
  std::uint64_t next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return s >> 33;
  }
  // A value from a pool that includes the awkward ones.
  double value() {
    static const double pool[] = {0.0,
                                  1.0,
                                  -1.0,
                                  0.5,
                                  2.0,
                                  100.0,
                                  1e-300,
                                  N,
                                  N,
                                  -0.25,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  1e300};
    return pool[next() % std::size(pool)];
  }
};

Panel random_panel(Lcg& rng, const Dates& pool_dates, const Symbols& pool_symbols) {
  Panel p;
  for (std::int32_t d : pool_dates) {
    if (rng.next() % 3 != 0) p.dates.push_back(d);
  }
  for (const auto& s : pool_symbols) {
    if (rng.next() % 3 != 0) p.symbols.push_back(s);
  }
  p.data = Matrix(p.dates.size(), p.symbols.size());
  for (double& x : p.data.cells()) x = rng.value();
  return p;
}

TEST(ReportRobustness, AwkwardInputsKeepTheInvariants) {
  const Dates pool_dates{20240228, 20240229, 20240301, 20231301, 20240102, 20240229};
  const Symbols pool_symbols{"A", "B", "A", "C"};
  Lcg rng{12345};
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    const Panel w = random_panel(rng, pool_dates, pool_symbols);
    const Panel p = random_panel(rng, pool_dates, pool_symbols);
    const Panel h = random_panel(rng, pool_dates, pool_symbols);
    const Panel l = random_panel(rng, pool_dates, pool_symbols);
    const Panel v = random_panel(rng, pool_dates, pool_symbols);
    BacktestConfig cfg;
    cfg.fee_ratio = rng.value();
    cfg.tax_ratio = rng.value();
    cfg.position_limit = rng.value();
    cfg.initial_capital = rng.value();
    cfg.max_participation = rng.value();
    cfg.impact_coef = rng.value();
    cfg.delist_after = rng.next() % 3;
    cfg.delist_haircut = rng.value();
    BacktestRun r = run(w, p, &h, &l, &v, cfg);

    const std::size_t n = r.dates.size();
    EXPECT_TRUE(std::is_sorted(r.dates.begin(), r.dates.end()));
    EXPECT_EQ(std::adjacent_find(r.dates.begin(), r.dates.end()), r.dates.end());
    EXPECT_EQ(r.equity.size(), n);
    EXPECT_EQ(r.exposure.size(), n);
    for (const Trade& t : r.trades) {
      EXPECT_LT(t.period, std::max<std::size_t>(n, 1));
      EXPECT_EQ(t.mae.has_value(), t.mfe.has_value());
      if (t.exit_date) {
        EXPECT_LT(t.entry_date, *t.exit_date);
      }
    }
    const Dates dates = r.dates;
    const std::vector<double> equity = r.equity;
    Report report = build_report_with_benchmark(std::move(r), benchmark_equity(dates, p.dates, {}));
    report.bootstrap = bootstrap(dates, equity, 5, rng.next() % 4, 12679685);
    const json::Value j = to_json(report);
    EXPECT_EQ(at(j, "metrics").as_object().size(), 28u);
    EXPECT_EQ(at(j, "equity").as_array().size(), n);
    EXPECT_FALSE(json::write(j).empty());
  }
}

}  // namespace
}  // namespace korva
