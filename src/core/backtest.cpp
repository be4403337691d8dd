#include "core/backtest.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/align.hpp"
#include "core/ops/grid.hpp"

namespace korva {

namespace {

// Bits of the per-cell delisting flags.
constexpr std::uint8_t kDelisted = 1;     // inside a run of at least `delist_after` gaps
constexpr std::uint8_t kDelistEvent = 2;  // the date on which that run reaches its length

// Clamps `w` into [-bound, bound]. A bound that is NaN or negative (a NaN knob, negative
// volume or price data) has no ordered interval and leaves the weight unlimited.
inline double clamp_abs(double w, double bound) {
  if (!(bound >= 0.0)) return w;
  if (w < -bound) w = -bound;
  if (w > bound) w = bound;
  return w;
}

// One flag byte per cell, computed row by row with one run counter per symbol.
std::vector<std::uint8_t> delisting_flags(const Matrix& prices, std::size_t after) {
  const std::size_t n = prices.rows();
  const std::size_t m = prices.cols();
  std::vector<std::uint8_t> flags(n * m, 0);
  std::vector<std::size_t> gap(m, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const double* p = prices.row(i);
    std::uint8_t* f = flags.data() + i * m;
    for (std::size_t j = 0; j < m; ++j) {
      if (std::isnan(p[j])) {
        ++gap[j];
        if (gap[j] == after) f[j] |= kDelistEvent;
        if (gap[j] >= after) f[j] |= kDelisted;
      } else {
        gap[j] = 0;
      }
    }
  }
  return flags;
}

// State of one symbol's open trade while the trade walk passes over the dates.
struct OpenTrade {
  bool is_long = true;
  bool has_excursion = false;
  std::size_t entry = 0;
  double entry_price = kNaN;
  double mae = 0.0;
  double mfe = 0.0;
};

inline bool usable_entry(double price) {
  return !std::isnan(price) && price != 0.0;
}

}  // namespace

std::optional<Matrix> conform_to(const Panel& grid, const Panel* panel) {
  if (panel == nullptr) return std::nullopt;
  return project_cells(*panel, grid.dates, grid.symbols);
}

double trade_cost(std::span<const double> held, std::span<const double> target,
                  const double* traded_value, const BacktestConfig& config) {
  const std::size_t m = held.size();
  double turnover = 0.0;
  double sold = 0.0;
  for (std::size_t j = 0; j < m; ++j) {
    turnover += std::fabs(target[j] - held[j]);
    sold += std::fmax(0.0, held[j] - target[j]);
  }
  double cost = sold * config.tax_ratio + turnover * (config.fee_ratio + config.slippage_ratio);
  if (traded_value != nullptr) {
    for (std::size_t j = 0; j < m; ++j) {
      const double v = traded_value[j];
      const double d = target[j] - held[j];
      if (v > 0.0 && d != 0.0) {
        const double fraction = std::fmin(1.0, config.initial_capital * std::fabs(d) / v);
        cost += std::fabs(d) * config.impact_coef * std::sqrt(fraction);
      }
    }
  }
  return cost;
}

BacktestRun run(const Panel& weights, const Panel& prices, const Panel* high, const Panel* low,
                const Panel* volume, const BacktestConfig& config) {
  // Alignment by the rule of `align`, each cell written once. The aligned weight matrix is
  // ours and its rows are overwritten by the target rows; the price, high and low panels
  // are read in place when they already lie on the grid.
  auto grid = aligned_labels(weights, prices);
  Dates& dates = grid.first;
  const Symbols& symbols = grid.second;
  Matrix targets = project_cells(weights, dates, symbols);
  const ops::GridMatrix price_cells(prices, dates, symbols);
  const Matrix& px = price_cells.matrix();
  BacktestRun out;
  const std::size_t n = dates.size();
  const std::size_t m = symbols.size();
  if (n == 0) return out;

  std::optional<ops::GridMatrix> hi;
  std::optional<ops::GridMatrix> lo;
  if (high != nullptr && low != nullptr) {
    hi.emplace(*high, dates, symbols);
    lo.emplace(*low, dates, symbols);
  }

  // Traded value (volume times price), only when a feature needs it.
  const bool participation_on = config.max_participation > 0.0 && config.initial_capital > 0.0;
  const bool impact_on = config.impact_coef > 0.0 && config.initial_capital > 0.0;
  std::optional<Matrix> traded;
  if (volume != nullptr && (participation_on || impact_on)) {
    traded = project_cells(*volume, dates, symbols);
    double* v = traded->data();
    const double* p = px.data();
    for (std::size_t k = 0, cells = traded->size(); k < cells; ++k) v[k] *= p[k];
  }
  const bool cap_on = participation_on && traded.has_value();
  const bool cost_impact = impact_on && traded.has_value();

  const bool delist_on = config.delist_after > 0;
  std::vector<std::uint8_t> flags;
  if (delist_on) flags = delisting_flags(px, config.delist_after);
  auto flag = [&](std::size_t i, std::size_t j, std::uint8_t bit) {
    return delist_on && (flags[i * m + j] & bit) != 0;
  };

  // Targets: hold on NaN, delisted to 0, rebalance flags, gross normalisation, limits.
  std::vector<double> raw(m, 0.0);
  std::vector<std::uint8_t> rebalance(n, 0);
  out.exposure.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    double* row = targets.row(i);
    bool changed = i == 0;
    double gross = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
      double r = std::isnan(row[j]) ? raw[j] : row[j];
      if (flag(i, j, kDelisted)) r = 0.0;
      if (!(r == raw[j])) changed = true;
      raw[j] = r;
      gross += std::fabs(r);
    }
    rebalance[i] = changed;
    const double scale = std::fmax(1.0, gross);
    const double* tv = cap_on ? traded->row(i) : nullptr;
    double exposure = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
      double w = raw[j] / scale;
      if (config.position_limit > 0.0) w = clamp_abs(w, config.position_limit);
      if (tv != nullptr && !std::isnan(tv[j])) {
        w = clamp_abs(w, tv[j] * config.max_participation / config.initial_capital);
      }
      row[j] = w;
      exposure += std::fabs(w);
    }
    out.exposure[i] = exposure;
  }

  // Equity: first date from empty holdings, then drift, delisting write-down, rebalance.
  auto impact_row = [&](std::size_t i) { return cost_impact ? traded->row(i) : nullptr; };
  std::vector<double> held(m, 0.0);
  std::vector<double> growth(m, 0.0);
  out.equity.resize(n);
  double equity = 1.0 - trade_cost(held, targets.row_span(0), impact_row(0), config);
  std::copy_n(targets.row(0), m, held.data());
  out.equity[0] = equity;
  for (std::size_t i = 1; i < n; ++i) {
    const double* now = px.row(i);
    const double* before = px.row(i - 1);
    double sum = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
      const bool gap = std::isnan(now[j]) || std::isnan(before[j]) || before[j] == 0.0;
      const double r = gap ? 0.0 : now[j] / before[j] - 1.0;
      growth[j] = r;
      sum += r * held[j];
    }
    const double g = 1.0 + sum;
    for (std::size_t j = 0; j < m; ++j) {
      double h = (1.0 + growth[j]) * held[j];
      if (g != 0.0) h /= g;
      held[j] = h;
    }
    equity *= g;

    if (delist_on) {
      double loss = 0.0;
      for (std::size_t j = 0; j < m; ++j) {
        if (flag(i, j, kDelistEvent) && held[j] != 0.0) {
          loss += held[j] * config.delist_haircut;
          held[j] = 0.0;
        }
      }
      if (loss != 0.0) {
        const double keep = 1.0 - loss;
        equity *= keep;
        if (keep != 0.0) {
          for (double& h : held) h /= keep;
        }
      }
    }

    if (rebalance[i]) {
      const double c = trade_cost(held, targets.row_span(i), impact_row(i), config);
      equity *= 1.0 - c;
      std::copy_n(targets.row(i), m, held.data());
    }
    out.equity[i] = equity;
  }

  // Trades, derived from the target matrix. The walk goes date by date over all symbols
  // (contiguous rows); the trades are then grouped by symbol, keeping date order.
  const bool excursions = hi.has_value() && lo.has_value();
  const double entry_cost = 1.0 - config.fee_ratio - config.slippage_ratio;
  const double exit_cost = 1.0 - config.fee_ratio - config.tax_ratio - config.slippage_ratio;
  std::vector<OpenTrade> state(m);
  // Kept apart from `state` so that the common cell (no trade, zero target) touches one
  // byte; the last non-NaN price only matters for delisting exits.
  std::vector<std::uint8_t> open(m, 0);
  std::vector<double> last_price(delist_on ? m : 0, kNaN);
  std::vector<Trade> found;
  std::vector<std::size_t> owner;
  auto emit = [&](std::size_t j, std::optional<std::size_t> exit, std::size_t last, double ret) {
    const OpenTrade& s = state[j];
    Trade t;
    t.symbol = symbols[j];
    t.entry_date = dates[s.entry];
    if (exit) t.exit_date = dates[*exit];
    t.ret = ret;
    t.period = static_cast<std::uint32_t>(last - s.entry);
    if (s.has_excursion) {
      t.mae = s.mae;
      t.mfe = s.mfe;
    }
    found.push_back(std::move(t));
    owner.push_back(j);
  };
  for (std::size_t i = 0; i < n; ++i) {
    const double* w = targets.row(i);
    const double* p = px.row(i);
    const double* h_row = excursions ? hi->row(i) : nullptr;
    const double* l_row = excursions ? lo->row(i) : nullptr;
    for (std::size_t j = 0; j < m; ++j) {
      if (delist_on && !std::isnan(p[j])) last_price[j] = p[j];
      OpenTrade& s = state[j];
      if (!open[j]) {
        if (w[j] == 0.0) continue;
        open[j] = 1;
        s.entry = i;
        s.entry_price = p[j];
        s.is_long = w[j] > 0.0;
        s.has_excursion = false;
      }
      if (excursions && usable_entry(s.entry_price) && !std::isnan(h_row[j]) &&
          !std::isnan(l_row[j])) {
        const double up = h_row[j] / s.entry_price - 1.0;
        const double down = l_row[j] / s.entry_price - 1.0;
        const double adverse = s.is_long ? down : -up;
        const double favourable = s.is_long ? up : -down;
        if (!s.has_excursion) {
          s.mae = adverse;
          s.mfe = favourable;
          s.has_excursion = true;
        } else {
          s.mae = std::fmin(s.mae, adverse);
          s.mfe = std::fmax(s.mfe, favourable);
        }
      }
      if (w[j] != 0.0) continue;
      // Close: a delisting exit is valued at the written-down last price without exit costs.
      double numerator = p[j];
      double exit_factor = exit_cost;
      if (flag(i, j, kDelistEvent)) {
        numerator = (1.0 - config.delist_haircut) * last_price[j];
        exit_factor = 1.0;
      }
      const bool plain = std::isnan(numerator) || !usable_entry(s.entry_price);
      const double ratio = plain ? 1.0 : numerator / s.entry_price;
      emit(j, i, i, exit_factor * ratio * entry_cost - 1.0);
      open[j] = 0;
    }
  }
  const double* last = px.row(n - 1);
  for (std::size_t j = 0; j < m; ++j) {
    if (!open[j]) continue;
    const double entry = state[j].entry_price;
    const bool plain = std::isnan(last[j]) || !usable_entry(entry);
    emit(j, std::nullopt, n - 1, plain ? 0.0 : last[j] / entry - 1.0);
  }

  // Group by symbol (counting sort, stable within a symbol).
  std::vector<std::size_t> start(m + 1, 0);
  for (std::size_t j : owner) ++start[j + 1];
  for (std::size_t j = 0; j < m; ++j) start[j + 1] += start[j];
  out.trades.resize(found.size());
  for (std::size_t k = 0; k < found.size(); ++k) {
    out.trades[start[owner[k]]++] = std::move(found[k]);
  }

  out.dates = std::move(dates);
  return out;
}

}  // namespace korva
