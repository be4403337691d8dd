// Stateful rotation: turns entry and exit signals into holdings (1.0 held, 0.0 not), at
// most `nstocks_limit` symbols at a time, preferring symbols already held, filling free
// slots by a ranking, and optionally forcing exits through price stops.
//
// The grid is that of align(entry, exit): the ascending union of both date lists and the
// entry panel's symbols that the exit panel also has. A signal cell counts exactly when it
// equals 1.0 (NaN counts as 0). The walk visits the dates in order and carries, per symbol,
// the holding, the reference close of the position and the peak close ratio.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "core/matrix.hpp"
#include "core/panel.hpp"

namespace korva::ops {

struct HoldUntilOpts {
  // Largest number of symbols held on one date; none means every symbol of the grid.
  std::optional<std::size_t> nstocks_limit;
  // Ranking score (higher preferred) and close prices; borrowed, not owned. Either may be
  // on any grid: both are projected onto the rotation's grid.
  const Panel* rank = nullptr;
  const Panel* close = nullptr;
  // Distances as fractions; only absolute values count. The defaults switch them off.
  double stop_loss = -std::numeric_limits<double>::infinity();
  double take_profit = std::numeric_limits<double>::infinity();
  double trail_stop = std::numeric_limits<double>::infinity();
  // Gain the peak ratio must reach before the trailing stop is armed.
  double trail_stop_activation = 0.0;

  // Whether any of stop loss, take profit or trailing stop is on.
  bool stops_on() const;
};

// Holdings on the grid of align(entry, exit). On the first date the entries take the slots
// (ties go to the later symbols) and same-day exits then drop out; on every later date the
// stops run first (when on and `close` is given), then symbols held yesterday keep their
// slots unless they exit, and new entries compete for the free slots by normalised rank.
// A grid without dates gives a panel without rows.
Panel hold_until(const Panel& entry, const Panel& exit, const HoldUntilOpts& opts);

// Each finite value mapped to (x - smallest) / (largest - smallest) over all finite cells;
// non-finite cells become 0.0, and so do all cells when the finite values are all equal.
// Results always lie in [0, 1].
Matrix normalize_ranking(const Matrix& rank);

// Indices 0 .. n-1 ordered by ascending value, equal values in ascending index order.
// Values must not be NaN.
std::vector<std::size_t> argsort_stable(std::span<const double> values);

// Price stops for date `day` (>= 1): updates each symbol's reference close and peak ratio
// from yesterday's holding in `held` and sets exit_today[s] = 1.0 when the close ratio
// breaks the stop loss or take profit, or falls below the armed trailing stop, so the stop
// acts exactly like an exit signal on that date. `held` and `close` are on one grid;
// `reference`, `peak` and `exit_today` have one entry per symbol. A NaN ratio triggers
// nothing.
void apply_price_stops(const Matrix& held, std::span<double> reference, std::span<double> peak,
                       std::span<double> exit_today, const Matrix& close, std::size_t day,
                       const HoldUntilOpts& opts);

}  // namespace korva::ops
