#include "core/ops/rotation.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <optional>

#include "core/align.hpp"
#include "core/ops/grid.hpp"

namespace korva::ops {

namespace {

// Stable ascending sort of `idx` by key[idx]: insertion sort for short lists, merge-based
// stable sort above.
void stable_sort_by(std::span<std::size_t> idx, const double* key) {
  if (idx.size() <= 20) {
    for (std::size_t i = 1; i < idx.size(); ++i) {
      const std::size_t v = idx[i];
      std::size_t j = i;
      while (j > 0 && key[v] < key[idx[j - 1]]) {
        idx[j] = idx[j - 1];
        --j;
      }
      idx[j] = v;
    }
    return;
  }
  std::stable_sort(idx.begin(), idx.end(),
                   [key](std::size_t l, std::size_t r) { return key[l] < key[r]; });
}

// Holds the last min(n, candidates) symbols of `cand` (already in ascending score order).
void hold_top(std::span<const std::size_t> cand, std::size_t n, double* held) {
  const std::size_t take = std::min(n, cand.size());
  for (std::size_t i = cand.size() - take; i < cand.size(); ++i) held[cand[i]] = 1.0;
}

}  // namespace

bool HoldUntilOpts::stops_on() const {
  constexpr double inf = std::numeric_limits<double>::infinity();
  return stop_loss > -inf || take_profit < inf || trail_stop < inf;
}

namespace {

// The affine map of normalize_ranking, fitted to the finite cells of one matrix.
struct RankScale {
  double lo = 0.0;
  double range = 0.0;
  bool halve = false;
  bool spread = false;  // some finite values differ

  explicit RankScale(const Matrix& rank) {
    double l = std::numeric_limits<double>::infinity();
    double h = -l;
    for (double v : rank.cells()) {
      if (std::isfinite(v)) {
        l = std::min(l, v);
        h = std::max(h, v);
      }
    }
    spread = h > l;
    if (!spread) return;
    lo = l;
    range = h - l;
    // A range beyond the largest double (e.g. -1e308 .. 1e308) would turn the top value
    // into inf / inf; halving both ends keeps every quotient finite and within [0, 1].
    halve = !std::isfinite(range);
    if (halve) range = h * 0.5 - l * 0.5;
  }

  double operator()(double v) const {
    if (!spread || !std::isfinite(v)) return 0.0;
    return halve ? (v * 0.5 - lo * 0.5) / range : (v - lo) / range;
  }
};

}  // namespace

Matrix normalize_ranking(const Matrix& rank) {
  const RankScale scale(rank);
  Matrix out(rank.rows(), rank.cols(), 0.0);
  const double* src = rank.data();
  double* dst = out.data();
  for (std::size_t i = 0; i < rank.size(); ++i) dst[i] = scale(src[i]);
  return out;
}

std::vector<std::size_t> argsort_stable(std::span<const double> values) {
  std::vector<std::size_t> idx(values.size());
  std::iota(idx.begin(), idx.end(), 0);
  stable_sort_by(idx, values.data());
  return idx;
}

void apply_price_stops(const Matrix& held, std::span<double> reference, std::span<double> peak,
                       std::span<double> exit_today, const Matrix& close, std::size_t day,
                       const HoldUntilOpts& opts) {
  const std::size_t m = held.cols();
  const double* prev = held.row(day - 1);
  const double* px = close.row(day);
  const double floor = 1.0 - std::abs(opts.stop_loss);
  const double cap = 1.0 + std::abs(opts.take_profit);
  const bool trailing = std::isfinite(opts.trail_stop);
  const double armed_at = 1.0 + std::abs(opts.trail_stop_activation);
  const double trail = std::abs(opts.trail_stop);
  for (std::size_t s = 0; s < m; ++s) {
    if (prev[s] == 1.0) {
      if (std::isnan(reference[s])) {
        reference[s] = px[s];
        peak[s] = 1.0;
      }
      const double ratio = px[s] / reference[s];
      const bool hard = ratio < floor || ratio > cap;
      bool trailed = false;
      if (trailing) {
        if (ratio > peak[s]) peak[s] = ratio;
        trailed = !hard && peak[s] >= armed_at && ratio < peak[s] - trail;
      }
      if (hard || trailed) exit_today[s] = 1.0;
    } else if (!std::isnan(reference[s])) {
      reference[s] = kNaN;
      peak[s] = 1.0;
    }
  }
}

Panel hold_until(const Panel& entry, const Panel& exit, const HoldUntilOpts& opts) {
  // The grid of align(entry, exit). When both panels share strictly ascending dates and
  // the same symbols without repeats, alignment would reproduce them unchanged, so they
  // are read in place.
  const bool in_place = entry.dates == exit.dates && entry.symbols == exit.symbols &&
                        std::adjacent_find(entry.dates.begin(), entry.dates.end(),
                                           std::greater_equal<>()) == entry.dates.end() &&
                        unique_symbols(entry.symbols);
  std::optional<std::pair<Panel, Panel>> aligned;
  if (!in_place) aligned = align(entry, exit);
  const Panel& e_panel = in_place ? entry : aligned->first;
  const Matrix& e = e_panel.data;
  const Matrix& x = in_place ? exit.data : aligned->second.data;
  const std::size_t t = e_panel.rows();
  const std::size_t m = e_panel.cols();
  const std::size_t n = opts.nstocks_limit.value_or(m);

  Panel out = e_panel.like(0.0);
  if (t == 0) return out;
  Matrix& h = out.data;

  std::optional<GridMatrix> rank;
  std::optional<RankScale> scale;
  if (opts.rank != nullptr) {
    rank.emplace(*opts.rank, out.dates, out.symbols);
    scale.emplace(rank->matrix());
  }
  const bool stops = opts.stops_on() && opts.close != nullptr;
  std::optional<GridMatrix> close;
  if (stops) close.emplace(*opts.close, out.dates, out.symbols);
  std::vector<double> reference(m, kNaN), peak(m, 1.0);

  std::vector<double> score(m), exits(m);
  std::vector<std::size_t> cand;
  cand.reserve(m);

  // First date: the entries alone take the slots (every entry scores 1.0, so ties go to
  // the later symbols); a same-day exit then drops the symbol, slot and all. Symbols
  // without an entry score lower, come first in the order and are dropped anyway, so only
  // the entries compete.
  {
    const double* e0 = e.row(0);
    for (std::size_t s = 0; s < m; ++s) {
      if (e0[s] == 1.0) cand.push_back(s);
    }
    hold_top(cand, n, h.row(0));
    const double* x0 = x.row(0);
    double* h0 = h.row(0);
    for (std::size_t s = 0; s < m; ++s) {
      if (x0[s] == 1.0) h0[s] = 0.0;
    }
  }

  for (std::size_t j = 1; j < t; ++j) {
    const double* xj = x.row(j);
    for (std::size_t s = 0; s < m; ++s) exits[s] = xj[s] == 1.0 ? 1.0 : 0.0;
    if (stops) apply_price_stops(h, reference, peak, exits, close->matrix(), j, opts);
    const double* prev = h.row(j - 1);
    const double* ej = e.row(j);
    const double* rj = rank ? rank->row(j) : nullptr;
    // Non-candidates score -1 and sort below every candidate (scores >= 0), and they are
    // never held, so ordering the candidates alone selects the same symbols; when they all
    // fit, the order does not matter.
    cand.clear();
    for (std::size_t s = 0; s < m; ++s) {
      const bool entered = ej[s] == 1.0;
      if (exits[s] == 1.0 || (!entered && prev[s] == 0.0)) continue;
      const double flag = entered ? 1.0 : 0.0;
      score[s] = 3.0 * prev[s] + flag * (rj != nullptr ? (*scale)(rj[s]) : 0.0);
      cand.push_back(s);
    }
    if (cand.size() > n) stable_sort_by(cand, score.data());
    hold_top(cand, n, h.row(j));
  }
  return out;
}

}  // namespace korva::ops
