// The backtest engine: a close-to-close simulation of one portfolio whose equity starts at
// 1.0. Each date's target weights are traded at that date's price, costs are charged as a
// fraction of equity on the same date, and the new holdings earn the next date's price
// change. Weights are fractions of current equity; the uninvested rest earns nothing.
//
// The engine never fails: missing weights hold the previous target, missing prices give
// zero returns, missing high/low rows are skipped by the excursions, and a missing traded
// value lifts the participation cap for that cell. Non-finite inputs propagate through the
// arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/config.hpp"
#include "core/panel.hpp"

namespace korva {

struct Trade {
  std::string symbol;
  // Date on which the target weight became non-zero.
  std::int32_t entry_date = 0;
  // Date on which the target weight returned to zero; none while still open on the last
  // date.
  std::optional<std::int32_t> exit_date;
  // Trade return as a fraction (0.05 = 5 %); the direction of the position does not enter
  // it, nor does the impact cost.
  double ret = 0.0;
  // Dates between entry and exit (or the last date for an open trade).
  std::uint32_t period = 0;
  // Maximum adverse and favourable excursion as fractions of the entry price, adverse
  // negative. Both present or both absent (no high/low, unusable entry price, or no date
  // with both high and low).
  std::optional<double> mae;
  std::optional<double> mfe;

  friend bool operator==(const Trade&, const Trade&) = default;
};

struct BacktestRun {
  // The aligned date axis: ascending, without repeats.
  Dates dates;
  // Equity at the close of each date, after that date's costs.
  std::vector<double> equity;
  // Grouped by symbol in the aligned symbol order, and within a symbol in date order.
  std::vector<Trade> trades;
  // Sum of the absolute target weights after all limits, per date.
  std::vector<double> exposure;
};

// `panel` brought onto the grid's dates and symbols (the last occurrence of a repeated
// label wins, absent cells NaN); none when `panel` is none.
std::optional<Matrix> conform_to(const Panel& grid, const Panel* panel);

// Simulates `weights` (target weights, aligned with `prices`) under `config`. `high` and
// `low` (both needed) give the trade excursions; `volume` enables the participation limit
// and the square-root impact cost. Any of the three may be null. A grid without dates
// gives an empty run.
BacktestRun run(const Panel& weights, const Panel& prices, const Panel* high, const Panel* low,
                const Panel* volume, const BacktestConfig& config);

// Cost, as a fraction of equity, of moving from `held` to `target` (m weights each):
// sold * tax + turnover * (fee + slippage), plus the square-root impact of every symbol
// whose traded value is positive when `traded_value` is given (impact on).
double trade_cost(std::span<const double> held, std::span<const double> target,
                  const double* traded_value, const BacktestConfig& config);

}  // namespace korva
