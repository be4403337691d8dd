#include "core/report.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

namespace korva {

namespace {

json::Value numbers(std::span<const double> xs) {
  json::Array a;
  a.reserve(xs.size());
  for (double x : xs) a.emplace_back(x);
  return a;
}

json::Value periods(std::span<const PeriodReturn> rows) {
  json::Array a;
  a.reserve(rows.size());
  for (const PeriodReturn& r : rows) {
    json::Object o;
    o.insert("period", json::Value(r.period));
    o.insert("ret", json::Value(r.ret));
    a.emplace_back(std::move(o));
  }
  return a;
}

json::Value optional_number(const std::optional<double>& x) {
  return x ? json::Value(*x) : json::Value();
}

}  // namespace

std::vector<double> benchmark_equity(std::span<const std::int32_t> dates,
                                     std::span<const std::int32_t> bench_dates,
                                     std::span<const double> bench_values) {
  std::vector<double> out(dates.size(), kNaN);
  const std::size_t count = std::min(bench_dates.size(), bench_values.size());
  double base = kNaN;
  double latest = kNaN;
  std::size_t cursor = 0;
  for (std::size_t i = 0; i < dates.size(); ++i) {
    for (; cursor < count && bench_dates[cursor] <= dates[i]; ++cursor) {
      const double v = bench_values[cursor];
      if (std::isnan(v)) continue;
      latest = v;
      if (std::isnan(base) && v != 0.0) base = v;
    }
    if (!std::isnan(latest) && !std::isnan(base)) out[i] = latest / base;
  }
  return out;
}

Report build_report_with_benchmark(BacktestRun run, std::optional<std::vector<double>> benchmark) {
  Report r;
  r.metrics = compute_metrics(run.dates, run.equity, run.trades, run.exposure,
                              benchmark ? &*benchmark : nullptr);
  r.drawdown = drawdown_series(run.equity);
  r.monthly_returns = period_returns(run.dates, run.equity, true);
  r.yearly_returns = period_returns(run.dates, run.equity, false);
  r.rolling_sharpe = rolling_sharpe(run.equity, kRollingWindow);
  r.rolling_volatility = rolling_volatility(run.equity, kRollingWindow);
  r.dates = std::move(run.dates);
  r.equity = std::move(run.equity);
  r.trades = std::move(run.trades);
  r.benchmark = std::move(benchmark);
  return r;
}

json::Value to_json(const Trade& t) {
  json::Object o;
  o.insert("symbol", json::Value(t.symbol));
  o.insert("entry_date", json::Value(t.entry_date));
  o.insert("exit_date", t.exit_date ? json::Value(*t.exit_date) : json::Value());
  o.insert("ret", json::Value(t.ret));
  o.insert("period", json::Value(static_cast<std::uint64_t>(t.period)));
  o.insert("mae", optional_number(t.mae));
  o.insert("mfe", optional_number(t.mfe));
  return o;
}

json::Value to_json(const Metrics& m) {
  json::Object o;
  o.insert("total_return", json::Value(m.total_return));
  o.insert("cagr", json::Value(m.cagr));
  o.insert("ann_volatility", json::Value(m.ann_volatility));
  o.insert("sharpe", json::Value(m.sharpe));
  o.insert("sortino", json::Value(m.sortino));
  o.insert("max_drawdown", json::Value(m.max_drawdown));
  o.insert("calmar", json::Value(m.calmar));
  o.insert("win_rate", json::Value(m.win_rate));
  o.insert("profit_factor", json::Value(m.profit_factor));
  o.insert("expectancy", json::Value(m.expectancy));
  o.insert("avg_holding_period", json::Value(m.avg_holding_period));
  o.insert("num_trades", json::Value(m.num_trades));
  o.insert("avg_win", json::Value(m.avg_win));
  o.insert("avg_loss", json::Value(m.avg_loss));
  o.insert("payoff_ratio", json::Value(m.payoff_ratio));
  o.insert("best_trade", json::Value(m.best_trade));
  o.insert("worst_trade", json::Value(m.worst_trade));
  o.insert("max_consecutive_losses", json::Value(m.max_consecutive_losses));
  o.insert("recovery_factor", json::Value(m.recovery_factor));
  o.insert("max_drawdown_duration", json::Value(m.max_drawdown_duration));
  o.insert("time_in_market", json::Value(m.time_in_market));
  o.insert("avg_exposure", json::Value(m.avg_exposure));
  const std::pair<const char*, const std::optional<double>*> bench[] = {
      {"benchmark_return", &m.benchmark_return},
      {"alpha", &m.alpha},
      {"beta", &m.beta},
      {"excess_return", &m.excess_return},
      {"tracking_error", &m.tracking_error},
      {"information_ratio", &m.information_ratio},
  };
  for (const auto& [key, value] : bench) {
    if (value->has_value()) o.insert(key, json::Value(**value));
  }
  return o;
}

json::Value to_json(const Report& r) {
  json::Object o;
  json::Array dates;
  dates.reserve(r.dates.size());
  for (std::int32_t d : r.dates) dates.emplace_back(d);
  o.insert("dates", std::move(dates));
  o.insert("equity", numbers(r.equity));
  o.insert("drawdown", numbers(r.drawdown));
  if (r.benchmark) o.insert("benchmark", numbers(*r.benchmark));
  o.insert("monthly_returns", periods(r.monthly_returns));
  o.insert("yearly_returns", periods(r.yearly_returns));
  o.insert("rolling_sharpe", numbers(r.rolling_sharpe));
  o.insert("rolling_volatility", numbers(r.rolling_volatility));
  if (r.bootstrap) o.insert("bootstrap", to_json(*r.bootstrap));
  json::Array trades;
  trades.reserve(r.trades.size());
  for (const Trade& t : r.trades) trades.push_back(to_json(t));
  o.insert("trades", std::move(trades));
  o.insert("metrics", to_json(r.metrics));
  return o;
}

}  // namespace korva
