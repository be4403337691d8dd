// Performance metrics of an equity curve, its dates, trades and exposure, and of the
// curve against a benchmark.
//
// Conventions: 252 periods per year (means annualised by 252, deviations by its square
// root); no risk-free rate; standard deviations are sample deviations (divisor count - 1);
// calendar years are 365.25 days. Undefined results are NaN; nothing reports an error.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/backtest.hpp"

namespace korva {

inline constexpr double kPeriodsPerYear = 252.0;

struct PeriodReturn {
  std::string period;
  double ret = 0.0;
  friend bool operator==(const PeriodReturn&, const PeriodReturn&) = default;
};

struct Metrics {
  double total_return = kNaN;
  double cagr = kNaN;
  double ann_volatility = kNaN;
  double sharpe = kNaN;
  double sortino = kNaN;
  double max_drawdown = kNaN;
  double calmar = kNaN;
  double win_rate = kNaN;
  double profit_factor = kNaN;
  double expectancy = kNaN;
  double avg_holding_period = kNaN;
  double num_trades = 0.0;
  double avg_win = kNaN;
  double avg_loss = kNaN;
  double payoff_ratio = kNaN;
  double best_trade = kNaN;
  double worst_trade = kNaN;
  double max_consecutive_losses = 0.0;
  double recovery_factor = kNaN;
  double max_drawdown_duration = 0.0;
  double time_in_market = kNaN;
  double avg_exposure = kNaN;
  // Present exactly when a benchmark curve was given.
  std::optional<double> benchmark_return;
  std::optional<double> alpha;
  std::optional<double> beta;
  std::optional<double> excess_return;
  std::optional<double> tracking_error;
  std::optional<double> information_ratio;
};

// n values: NaN, then c[k] / c[k-1] - 1 (plain division).
std::vector<double> daily_returns(std::span<const double> curve);

struct MeanStd {
  double mean;  // NaN when no value is left
  double std;   // sample deviation; NaN when fewer than 2 values are left
};
// Drops NaN values (infinities stay).
MeanStd mean_std(std::span<const double> xs);

// The mean over the larger of the deviation and 1e-6 (a NaN deviation is ignored), times
// the square root of 252: the Sharpe ratio of a sample of daily returns.
double annualised_ratio(const MeanStd& ms);

// The daily returns of both curves at every index below the shorter length where neither
// return is NaN, in index order.
std::pair<std::vector<double>, std::vector<double>> paired_returns(std::span<const double> a,
                                                                   std::span<const double> b);

double ann_volatility(std::span<const double> equity);
// Mean daily return over the larger of its deviation and 1e-6, annualised; a single return
// divides by 1e-6, no return at all gives NaN.
double sharpe(std::span<const double> equity);
double sortino(std::span<const double> equity);
// point / running peak - 1; a NaN point gives NaN and leaves the peak unchanged.
std::vector<double> drawdown_series(std::span<const double> equity);
// The smallest drawdown, starting from 0 and ignoring NaN.
double max_drawdown(std::span<const double> equity);
// Years (of 365.25 days) from d0 to d1; NaN when either is not a calendar date.
double year_frac(std::int32_t d0, std::int32_t d1);

double beta(std::span<const double> equity, std::span<const double> bench);
double alpha(std::span<const double> equity, std::span<const double> bench);
double tracking_error(std::span<const double> equity, std::span<const double> bench);
double information_ratio(std::span<const double> equity, std::span<const double> bench);

// The trades with an exit date, in list order; every trade statistic uses only these.
std::vector<const Trade*> closed(std::span<const Trade> trades);
double avg_win(std::span<const Trade> trades);
double avg_loss(std::span<const Trade> trades);
// Longest run of losing closed trades ordered by exit date (stable).
std::size_t max_consecutive_losses(std::span<const Trade> trades);

// Calendar period returns: monthly ("2024-03") or yearly ("2024"). The first period is
// measured from the first point; a key that comes back after another starts a new entry.
std::vector<PeriodReturn> period_returns(std::span<const std::int32_t> dates,
                                         std::span<const double> equity, bool monthly);

// n values, NaN below index `window`; value j uses the daily returns j-window+1 .. j.
std::vector<double> rolling_sharpe(std::span<const double> equity, std::size_t window);
std::vector<double> rolling_volatility(std::span<const double> equity, std::size_t window);

// Every report metric; the six benchmark metrics only when `bench` is given.
Metrics compute_metrics(std::span<const std::int32_t> dates, std::span<const double> equity,
                        std::span<const Trade> trades, std::span<const double> exposure,
                        const std::vector<double>* bench);

}  // namespace korva
