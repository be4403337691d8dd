#include "core/metrics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "core/calendar.hpp"

namespace korva {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMinDeviation = 1e-6;
const double kSqrtPeriods = std::sqrt(kPeriodsPerYear);

double plain_mean(std::span<const double> xs) {
  if (xs.empty()) return kNaN;
  double sum = 0.0;
  for (double x : xs) sum += x;
  return sum / static_cast<double>(xs.size());
}

std::vector<double> active_returns(std::span<const double> equity, std::span<const double> bench) {
  auto [s, b] = paired_returns(equity, bench);
  for (std::size_t k = 0; k < s.size(); ++k) s[k] -= b[k];
  return s;
}

std::string period_label(std::int32_t key, bool monthly) {
  char buf[32];
  if (monthly) {
    std::snprintf(buf, sizeof buf, "%d-%02d", key / 100, key % 100);
  } else {
    std::snprintf(buf, sizeof buf, "%d", key);
  }
  return buf;
}

std::vector<double> rolling(std::span<const double> equity, std::size_t window, bool ratio) {
  const std::size_t n = equity.size();
  std::vector<double> out(n, kNaN);
  if (n <= window) return out;
  const std::vector<double> r = daily_returns(equity);
  for (std::size_t j = window; j < n; ++j) {
    const MeanStd ms = mean_std(std::span<const double>(r).subspan(j + 1 - window, window));
    out[j] = ratio ? annualised_ratio(ms) : ms.std * kSqrtPeriods;
  }
  return out;
}

}  // namespace

double annualised_ratio(const MeanStd& ms) {
  return ms.mean / std::fmax(ms.std, kMinDeviation) * kSqrtPeriods;
}

std::vector<double> daily_returns(std::span<const double> curve) {
  std::vector<double> r(curve.size(), kNaN);
  for (std::size_t k = 1; k < curve.size(); ++k) r[k] = curve[k] / curve[k - 1] - 1.0;
  return r;
}

MeanStd mean_std(std::span<const double> xs) {
  double sum = 0.0;
  std::size_t count = 0;
  for (double x : xs) {
    if (std::isnan(x)) continue;
    sum += x;
    ++count;
  }
  if (count == 0) return {kNaN, kNaN};
  const double mean = sum / static_cast<double>(count);
  if (count < 2) return {mean, kNaN};
  double squares = 0.0;
  for (double x : xs) {
    if (std::isnan(x)) continue;
    squares += (x - mean) * (x - mean);
  }
  return {mean, std::sqrt(squares / static_cast<double>(count - 1))};
}

std::pair<std::vector<double>, std::vector<double>> paired_returns(std::span<const double> a,
                                                                   std::span<const double> b) {
  const std::vector<double> ra = daily_returns(a);
  const std::vector<double> rb = daily_returns(b);
  std::pair<std::vector<double>, std::vector<double>> out;
  const std::size_t len = std::min(ra.size(), rb.size());
  for (std::size_t k = 0; k < len; ++k) {
    if (std::isnan(ra[k]) || std::isnan(rb[k])) continue;
    out.first.push_back(ra[k]);
    out.second.push_back(rb[k]);
  }
  return out;
}

double ann_volatility(std::span<const double> equity) {
  return mean_std(daily_returns(equity)).std * kSqrtPeriods;
}

double sharpe(std::span<const double> equity) {
  return annualised_ratio(mean_std(daily_returns(equity)));
}

double sortino(std::span<const double> equity) {
  const std::vector<double> r = daily_returns(equity);
  const double mean = mean_std(r).mean;
  std::vector<double> downside;
  downside.reserve(r.size());
  for (std::size_t k = 1; k < r.size(); ++k) {
    downside.push_back(std::isnan(r[k]) ? 0.0 : std::min(r[k], 0.0));
  }
  const double dd = mean_std(downside).std;
  if (!(dd > 0.0)) return kNaN;
  return mean / dd * kSqrtPeriods;
}

std::vector<double> drawdown_series(std::span<const double> equity) {
  std::vector<double> out(equity.size());
  double peak = -kInf;
  for (std::size_t k = 0; k < equity.size(); ++k) {
    if (equity[k] > peak) peak = equity[k];
    out[k] = equity[k] / peak - 1.0;
  }
  return out;
}

double max_drawdown(std::span<const double> equity) {
  if (equity.empty()) return kNaN;
  // The drawdown series folded on the fly, without materialising it.
  double peak = -kInf;
  double worst = 0.0;
  for (double x : equity) {
    if (x > peak) peak = x;
    const double d = x / peak - 1.0;
    if (d < worst) worst = d;
  }
  return worst;
}

double year_frac(std::int32_t d0, std::int32_t d1) {
  const auto days = days_between(d0, d1);
  if (!days) return kNaN;
  return static_cast<double>(*days * 86400) / 3.15576e7;
}

double beta(std::span<const double> equity, std::span<const double> bench) {
  const auto [s, b] = paired_returns(equity, bench);
  const std::size_t m = s.size();
  if (m < 2) return kNaN;
  const double ms = plain_mean(s);
  const double mb = plain_mean(b);
  double cov = 0.0;
  double var = 0.0;
  for (std::size_t k = 0; k < m; ++k) {
    cov += (s[k] - ms) * (b[k] - mb);
    var += (b[k] - mb) * (b[k] - mb);
  }
  const double denom = static_cast<double>(m - 1);
  cov /= denom;
  var /= denom;
  if (var == 0.0) return kNaN;
  return cov / var;
}

double alpha(std::span<const double> equity, std::span<const double> bench) {
  const double bt = beta(equity, bench);
  if (std::isnan(bt)) return kNaN;
  const auto [s, b] = paired_returns(equity, bench);
  return (plain_mean(s) - bt * plain_mean(b)) * kPeriodsPerYear;
}

double tracking_error(std::span<const double> equity, std::span<const double> bench) {
  return mean_std(active_returns(equity, bench)).std * kSqrtPeriods;
}

double information_ratio(std::span<const double> equity, std::span<const double> bench) {
  return annualised_ratio(mean_std(active_returns(equity, bench)));
}

std::vector<const Trade*> closed(std::span<const Trade> trades) {
  std::vector<const Trade*> out;
  for (const Trade& t : trades) {
    if (t.exit_date) out.push_back(&t);
  }
  return out;
}

double avg_win(std::span<const Trade> trades) {
  double sum = 0.0;
  std::size_t count = 0;
  for (const Trade* t : closed(trades)) {
    if (t->ret > 0.0) {
      sum += t->ret;
      ++count;
    }
  }
  return count == 0 ? kNaN : sum / static_cast<double>(count);
}

double avg_loss(std::span<const Trade> trades) {
  double sum = 0.0;
  std::size_t count = 0;
  for (const Trade* t : closed(trades)) {
    if (t->ret < 0.0) {
      sum += t->ret;
      ++count;
    }
  }
  return count == 0 ? kNaN : sum / static_cast<double>(count);
}

std::size_t max_consecutive_losses(std::span<const Trade> trades) {
  std::vector<const Trade*> order = closed(trades);
  std::stable_sort(order.begin(), order.end(),
                   [](const Trade* a, const Trade* b) { return *a->exit_date < *b->exit_date; });
  std::size_t best = 0;
  std::size_t current = 0;
  for (const Trade* t : order) {
    current = t->ret < 0.0 ? current + 1 : 0;
    best = std::max(best, current);
  }
  return best;
}

std::vector<PeriodReturn> period_returns(std::span<const std::int32_t> dates,
                                         std::span<const double> equity, bool monthly) {
  std::vector<PeriodReturn> out;
  const std::size_t n = dates.size();
  if (n == 0 || equity.size() != n) return out;
  const std::int32_t divisor = monthly ? 100 : 10000;
  double base = equity[0];
  for (std::size_t k = 1; k < n; ++k) {
    const std::int32_t prev = dates[k - 1] / divisor;
    if (dates[k] / divisor == prev) continue;
    out.push_back({period_label(prev, monthly), equity[k - 1] / base - 1.0});
    base = equity[k - 1];
  }
  out.push_back({period_label(dates[n - 1] / divisor, monthly), equity[n - 1] / base - 1.0});
  return out;
}

std::vector<double> rolling_sharpe(std::span<const double> equity, std::size_t window) {
  return rolling(equity, window, true);
}

std::vector<double> rolling_volatility(std::span<const double> equity, std::size_t window) {
  return rolling(equity, window, false);
}

Metrics compute_metrics(std::span<const std::int32_t> dates, std::span<const double> equity,
                        std::span<const Trade> trades, std::span<const double> exposure,
                        const std::vector<double>* bench) {
  Metrics mt;
  const std::size_t n = equity.size();

  if (n > 0) mt.total_return = equity[n - 1] / equity[0] - 1.0;
  if (n >= 2 && dates.size() >= 2) {
    const double years = year_frac(dates.front(), dates.back());
    if (!std::isnan(years)) mt.cagr = std::pow(equity[n - 1] / equity[0], 1.0 / years) - 1.0;
  }
  mt.ann_volatility = ann_volatility(equity);
  mt.sharpe = sharpe(equity);
  mt.sortino = sortino(equity);
  mt.max_drawdown = max_drawdown(equity);
  if (n >= 2 && !std::isnan(mt.cagr)) {
    mt.calmar = mt.max_drawdown == 0.0 ? kInf : mt.cagr / std::fabs(mt.max_drawdown);
  }
  if (n > 0) {
    mt.recovery_factor =
        mt.max_drawdown == 0.0 ? kInf : mt.total_return / std::fabs(mt.max_drawdown);
  }
  {
    std::size_t run = 0;
    std::size_t longest = 0;
    for (double d : drawdown_series(equity)) {
      run = d < 0.0 ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    mt.max_drawdown_duration = static_cast<double>(longest);
  }

  // Trade statistics over the closed trades.
  const std::vector<const Trade*> done = closed(trades);
  const double count = static_cast<double>(done.size());
  mt.num_trades = count;
  if (!done.empty()) {
    std::size_t wins = 0;
    double gains = 0.0;
    double losses = 0.0;
    double sum = 0.0;
    double periods = 0.0;
    double best = -kInf;
    double worst = kInf;
    for (const Trade* t : done) {
      if (t->ret > 0.0) {
        ++wins;
        gains += t->ret;
      } else if (t->ret < 0.0) {
        losses += t->ret;
      }
      sum += t->ret;
      periods += static_cast<double>(t->period);
      best = std::fmax(best, t->ret);
      worst = std::fmin(worst, t->ret);
    }
    mt.win_rate = static_cast<double>(wins) / count;
    mt.profit_factor = losses == 0.0 ? kInf : gains / std::fabs(losses);
    mt.expectancy = sum / count;
    mt.avg_holding_period = periods / count;
    mt.best_trade = best;
    mt.worst_trade = worst;
  }
  mt.avg_win = avg_win(trades);
  mt.avg_loss = avg_loss(trades);
  mt.payoff_ratio = mt.avg_win / std::fabs(mt.avg_loss);
  mt.max_consecutive_losses = static_cast<double>(max_consecutive_losses(trades));

  if (!exposure.empty()) {
    std::size_t invested = 0;
    for (double e : exposure) invested += e > 0.0 ? 1 : 0;
    mt.time_in_market = static_cast<double>(invested) / static_cast<double>(exposure.size());
    mt.avg_exposure = plain_mean(exposure);
  }

  if (bench != nullptr) {
    double first = kNaN;
    double last = kNaN;
    for (double b : *bench) {
      if (std::isnan(b)) continue;
      if (std::isnan(first)) first = b;
      last = b;
    }
    const double bench_return = std::isnan(first) || first == 0.0 ? kNaN : last / first - 1.0;
    mt.benchmark_return = bench_return;
    mt.alpha = alpha(equity, *bench);
    mt.beta = beta(equity, *bench);
    mt.excess_return = mt.total_return - bench_return;
    mt.tracking_error = tracking_error(equity, *bench);
    mt.information_ratio = information_ratio(equity, *bench);
  }
  return mt;
}

}  // namespace korva
