// The report: the single result of a backtest and the engine's external contract, built
// from a run and an optional benchmark curve, and its JSON form.
//
// JSON rules: every float field stays a JSON float even when integral ("num_trades" 3 is
// 3.0); a NaN or infinite float is null; dates and counts are integers; absent optional
// entries inside arrays ("exit_date", "mae", "mfe") are null, while absent optional
// fields of the report and the metrics ("benchmark", "bootstrap", the six benchmark
// metrics) are left out. Object keys come out in ascending byte order.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "core/backtest.hpp"
#include "core/bootstrap.hpp"
#include "core/metrics.hpp"
#include "json/value.hpp"

namespace korva {

// Window of the report's rolling Sharpe ratio and volatility.
inline constexpr std::size_t kRollingWindow = 252;

struct Report {
  Dates dates;
  std::vector<double> equity;
  std::vector<double> drawdown;
  std::optional<std::vector<double>> benchmark;
  std::vector<PeriodReturn> monthly_returns;
  std::vector<PeriodReturn> yearly_returns;
  std::vector<double> rolling_sharpe;
  std::vector<double> rolling_volatility;
  std::optional<BootstrapSummary> bootstrap;
  std::vector<Trade> trades;
  Metrics metrics;
};

// The benchmark curve on the run's dates (an as-of join, both date lists taken as
// ascending): the latest non-NaN benchmark value on or before each date, divided by the
// first non-NaN, non-zero value counted from the benchmark's first date; NaN before the
// first usable value.
std::vector<double> benchmark_equity(std::span<const std::int32_t> dates,
                                     std::span<const std::int32_t> bench_dates,
                                     std::span<const double> bench_values);

// Every metric, series and period return of the run; `bootstrap` stays absent.
Report build_report_with_benchmark(BacktestRun run, std::optional<std::vector<double>> benchmark);

json::Value to_json(const Report& report);
json::Value to_json(const Trade& trade);
json::Value to_json(const Metrics& metrics);

}  // namespace korva
