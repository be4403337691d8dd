#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/align.hpp"
#include "core/ops/rotation.hpp"

namespace korva::ops {
namespace {

constexpr double nan = kNaN;
constexpr double inf = std::numeric_limits<double>::infinity();

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t r = dates.size(), c = symbols.size();
  return Panel{std::move(dates), std::move(symbols), Matrix(r, c, std::move(cells))};
}

// Dates 1..t; cells row-major (dates x symbols).
Panel grid(std::size_t t, Symbols symbols, std::vector<double> cells) {
  Dates dates;
  for (std::size_t d = 1; d <= t; ++d) dates.push_back(std::int32_t(d));
  return make(std::move(dates), std::move(symbols), std::move(cells));
}

TEST(NormalizeRanking, MapsFiniteRangeToUnitInterval) {
  struct Case {
    const char* name;
    std::vector<double> cells;
    std::vector<double> want;
  } cases[] = {
      {"range", {10, 30, 20, nan, inf, -inf}, {0, 1, 0.5, 0, 0, 0}},
      {"all equal", {5, 5, nan, 5}, {0, 0, 0, 0}},
      {"no finite value", {nan, inf}, {0, 0}},
      {"range beyond the largest double", {-1e308, 1e308, 0}, {0, 1, 0.5}},
      {"empty", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Matrix got = normalize_ranking(Matrix(1, c.cells.size(), c.cells));
    EXPECT_EQ(got.rows(), 1u);
    EXPECT_EQ(got.cells(), c.want);
  }
}

TEST(ArgsortStable, AscendingWithTiesInIndexOrder) {
  struct Case {
    const char* name;
    std::vector<double> values;
    std::vector<std::size_t> want;
  } cases[] = {
      {"short", {3, 1, 2, 1}, {1, 3, 2, 0}},
      {"empty", {}, {}},
      {"signed zeros tie", {0.0, -0.0, -1}, {2, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(argsort_stable(c.values), c.want);
  }
  // Longer than the insertion-sort cut-off: values i % 3 for 25 indices.
  std::vector<double> v(25);
  std::vector<std::size_t> want;
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = double(i % 3);
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t i = r; i < v.size(); i += 3) want.push_back(i);
  }
  EXPECT_EQ(argsort_stable(v), want);
}

struct RotationCase {
  const char* name;
  std::size_t dates;
  Symbols symbols;
  std::vector<double> entry, exit;
  std::optional<std::size_t> limit;
  std::vector<double> rank;  // empty: no rank panel
  std::vector<double> want;
};

TEST(HoldUntil, SelectsAndHolds) {
  const Symbols ab{"A", "B"};
  const Symbols abc{"A", "B", "C"};
  const Symbols a{"A"};
  RotationCase cases[] = {
      {"first-date ties go to the later symbol", 1, ab, {1, 1}, {0, 0}, 1, {}, {0, 1}},
      // The later symbol takes the slot, then its same-day exit drops it.
      {"first-date exit keeps its slot", 1, ab, {1, 1}, {0, 1}, 1, {}, {0, 0}},
      {"held without repeated entry", 3, a, {1, 0, 0}, {0, 0, 1}, std::nullopt, {}, {1, 1, 0}},
      {"entry and exit on one date", 3, a, {0, 1, 0}, {0, 1, 0}, std::nullopt, {}, {0, 0, 0}},
      {"limit zero", 2, ab, {1, 1, 1, 1}, {0, 0, 0, 0}, 0, {}, {0, 0, 0, 0}},
      {"limit above symbol count", 1, ab, {1, 1}, {0, 0}, 10, {}, {1, 1}},
      {"only exact 1.0 enters", 1, abc, {0.5, nan, 2}, {0, 0, 0}, std::nullopt, {}, {0, 0, 0}},
      {"only exact 1.0 exits",
       2,
       ab,
       {1, 1, 0, 0},
       {0, 0, 0.5, nan},
       std::nullopt,
       {},
       {1, 1, 1, 1}},
      {"rank picks the new entry",
       2,
       abc,
       {0, 0, 0, 1, 1, 1},
       {0, 0, 0, 0, 0, 0},
       1,
       {0, 0, 0, 10, 30, 20},
       {0, 0, 0, 0, 1, 0}},
      {"rank ignored on the first date", 1, abc, {1, 1, 1}, {0, 0, 0}, 1, {30, 10, 20}, {0, 0, 1}},
      {"later ties go to the later symbol", 2, ab, {0, 0, 1, 1}, {0, 0, 0, 0}, 1, {}, {0, 0, 0, 1}},
      {"held outranks best new entry",
       2,
       ab,
       {1, 0, 0, 1},
       {0, 0, 0, 0},
       1,
       {0, 0, 0, 100},
       {1, 0, 1, 0}},
      {"exit frees the slot the same day", 2, ab, {1, 0, 0, 1}, {0, 0, 1, 0}, 1, {}, {1, 0, 0, 1}},
      {"missing rank is the lowest",
       2,
       abc,
       {0, 0, 0, 1, 1, 1},
       {0, 0, 0, 0, 0, 0},
       2,
       {0, 0, 0, 5, nan, 1},
       {0, 0, 0, 1, 0, 1}},
      // Ranks are normalised over the whole panel, not per date.
      {"all equal ranks tie", 2, ab, {0, 0, 1, 1}, {0, 0, 0, 0}, 1, {7, 7, 7, 7}, {0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel entry = grid(c.dates, c.symbols, c.entry);
    Panel exit = grid(c.dates, c.symbols, c.exit);
    Panel rank;
    HoldUntilOpts opts;
    opts.nstocks_limit = c.limit;
    if (!c.rank.empty()) {
      rank = grid(c.dates, c.symbols, c.rank);
      opts.rank = &rank;
    }
    Panel got = hold_until(entry, exit, opts);
    EXPECT_EQ(got.dates, entry.dates);
    EXPECT_EQ(got.symbols, c.symbols);
    EXPECT_EQ(got.data.cells(), c.want);
  }
}

struct StopCase {
  const char* name;
  std::vector<double> entry, exit, close;
  double stop_loss = -inf, take_profit = inf, trail_stop = inf, activation = 0.0;
  std::vector<double> want;
};

TEST(HoldUntil, PriceStops) {
  StopCase cases[] = {
      // The reference is the close of the date after the first held date (100, not 50).
      {"stop loss fires",
       {1, 0, 0, 0, 0},
       {0, 0, 0, 0, 0},
       {50, 100, 95, 89, 100},
       0.1,
       inf,
       inf,
       0.0,
       {1, 1, 1, 0, 0}},
      {"stop loss holds above the floor",
       {1, 0, 0, 0},
       {0, 0, 0, 0},
       {50, 100, 95, 91},
       0.1,
       inf,
       inf,
       0.0,
       {1, 1, 1, 1}},
      {"stop loss sign does not matter",
       {1, 0, 0},
       {0, 0, 0},
       {50, 100, 89},
       -0.1,
       inf,
       inf,
       0.0,
       {1, 1, 0}},
      {"take profit fires",
       {1, 0, 0, 0},
       {0, 0, 0, 0},
       {50, 100, 119, 121},
       -inf,
       0.2,
       inf,
       0.0,
       {1, 1, 1, 0}},
      {"trailing stop after activation",
       {1, 0, 0, 0},
       {0, 0, 0, 0},
       {100, 100, 125, 114},
       -inf,
       inf,
       0.1,
       0.2,
       {1, 1, 1, 0}},
      {"trailing stop not armed",
       {1, 0, 0, 0, 0},
       {0, 0, 0, 0, 0},
       {100, 100, 115, 100, 100},
       -inf,
       inf,
       0.1,
       0.2,
       {1, 1, 1, 1, 1}},
      // 1.85 is above 2.0 * (1 - 0.1) but below 2.0 - 0.1.
      {"trailing distance is subtracted",
       {1, 0, 0, 0},
       {0, 0, 0, 0},
       {100, 100, 200, 185},
       -inf,
       inf,
       0.1,
       0.0,
       {1, 1, 1, 0}},
      {"missing close postpones the reference",
       {1, 0, 0, 0},
       {0, 0, 0, 0},
       {100, nan, 100, 89},
       0.1,
       inf,
       inf,
       0.0,
       {1, 1, 1, 0}},
      {"missing close triggers nothing",
       {1, 0, 0},
       {0, 0, 0},
       {100, 100, nan},
       0.1,
       0.1,
       0.01,
       0.0,
       {1, 1, 1}},
      // Exit by signal on date 2, re-entry on date 3: the new reference is the close of date
      // 4 (50), so 44 breaks the stop; the old reference (20) would not.
      {"re-entry takes a new reference",
       {1, 0, 0, 1, 0, 0},
       {0, 0, 1, 0, 0, 0},
       {10, 20, 30, 40, 50, 44},
       0.1,
       inf,
       inf,
       0.0,
       {1, 1, 0, 1, 1, 0}},
      // The peak is tracked only with a trailing stop: activation alone arms nothing.
      {"activation alone runs no stop",
       {1, 0, 0, 0},
       {0, 0, 0, 0},
       {100, 100, 200, 20},
       -inf,
       inf,
       inf,
       0.0,
       {1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t t = c.entry.size();
    Panel entry = grid(t, {"A"}, c.entry);
    Panel exit = grid(t, {"A"}, c.exit);
    Panel close = grid(t, {"A"}, c.close);
    HoldUntilOpts opts;
    opts.close = &close;
    opts.stop_loss = c.stop_loss;
    opts.take_profit = c.take_profit;
    opts.trail_stop = c.trail_stop;
    opts.trail_stop_activation = c.activation;
    EXPECT_EQ(hold_until(entry, exit, opts).data.cells(), c.want);
  }
}

TEST(HoldUntil, StopFreesTheSlotForANewEntry) {
  // A is held from date 1; its stop fires on date 4, the day B enters, and B takes the slot.
  Panel entry = grid(4, {"A", "B"}, {1, 0, 0, 0, 0, 0, 0, 1});
  Panel exit = grid(4, {"A", "B"}, {0, 0, 0, 0, 0, 0, 0, 0});
  // The close panel has its own grid: dates in reverse and an extra symbol.
  Panel close = make({4, 3, 2, 1}, {"Z", "B", "A"}, {0, 1, 80, 0, 1, 100, 0, 1, 100, 0, 1, 50});
  HoldUntilOpts opts;
  opts.nstocks_limit = 1;
  opts.close = &close;
  opts.stop_loss = 0.1;
  EXPECT_EQ(hold_until(entry, exit, opts).data.cells(),
            (std::vector<double>{1, 0, 1, 0, 1, 0, 0, 1}));
  // Without the close panel the stops cannot run and A stays held.
  opts.close = nullptr;
  EXPECT_EQ(hold_until(entry, exit, opts).data.cells(),
            (std::vector<double>{1, 0, 1, 0, 1, 0, 1, 0}));
}

TEST(HoldUntil, WorksOnTheAlignedGrid) {
  Panel entry = make({2, 1}, {"A", "B", "C"}, {1, 1, 1, 0, 0, 0});
  Panel exit = make({3}, {"C", "A"}, {1, 0});
  Panel got = hold_until(entry, exit, {});
  EXPECT_EQ(got.dates, (Dates{1, 2, 3}));
  EXPECT_EQ(got.symbols, (Symbols{"A", "C"}));
  // Date 3 has no entry (NaN) but A stays held; C exits.
  EXPECT_EQ(got.data.cells(), (std::vector<double>{0, 0, 1, 1, 1, 0}));
}

TEST(HoldUntil, GridWithoutDatesGivesAnEmptyPanel) {
  Panel entry = make({}, {"A", "B"}, {});
  Panel exit = make({}, {"B"}, {});
  Panel got = hold_until(entry, exit, {});
  EXPECT_EQ(got.rows(), 0u);
  EXPECT_EQ(got.symbols, Symbols{"B"});
  EXPECT_EQ(got.data.rows(), 0u);
  EXPECT_EQ(got.data.cols(), 1u);
}

TEST(ApplyPriceStops, TracksReferenceAndPeak) {
  // Two symbols: A held yesterday (untracked), B not held but still tracked.
  Matrix held(2, 2, std::vector<double>{1, 0, 0, 0});
  std::vector<double> exit(2, 0.0);
  Matrix close(2, 2, std::vector<double>{1, 1, 40, 7});
  std::vector<double> reference{nan, 12}, peak{1.0, 1.3};
  HoldUntilOpts opts;
  opts.trail_stop = 0.1;
  apply_price_stops(held, reference, peak, exit, close, 1, opts);
  EXPECT_EQ(reference[0], 40);
  EXPECT_EQ(peak[0], 1.0);
  EXPECT_TRUE(std::isnan(reference[1]));
  EXPECT_EQ(peak[1], 1.0);
  EXPECT_EQ(exit, (std::vector<double>{0, 0}));
}

// The rotation walk written out step by step, independently of the library code: every
// symbol is scored (-1 for non-candidates), all of them are ordered by a stable sort and
// the last n are held before the -1 scores are dropped.
std::vector<double> plain_hold_until(const Panel& entry, const Panel& exit,
                                     const HoldUntilOpts& o) {
  auto [ea, xa] = align(entry, exit);
  const std::size_t t = ea.rows(), m = ea.cols();
  auto flag = [](double v) { return v == 1.0 ? 1.0 : 0.0; };
  std::vector<double> r(t * m, 0.0), close;
  if (o.rank != nullptr) {
    const Panel rp = project(*o.rank, ea.dates, ea.symbols);
    double lo = inf, hi = -inf;
    for (double v : rp.data.cells()) {
      if (std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
    }
    for (std::size_t i = 0; i < r.size(); ++i) {
      const double v = rp.data.cells()[i];
      r[i] = std::isfinite(v) && hi > lo ? (v - lo) / (hi - lo) : 0.0;
    }
  }
  if (o.close != nullptr) close = project(*o.close, ea.dates, ea.symbols).data.cells();
  const std::size_t n = o.nstocks_limit.value_or(m);
  std::vector<double> h(t * m, 0.0);
  if (t == 0) return h;
  auto hold_last_n = [&](std::size_t j, const std::vector<double>& score) {
    std::vector<std::size_t> order(m);
    for (std::size_t i = 0; i < m; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return score[a] < score[b]; });
    for (std::size_t i = m - std::min(n, m); i < m; ++i) h[j * m + order[i]] = 1.0;
  };
  std::vector<double> score(m);
  for (std::size_t s = 0; s < m; ++s) score[s] = flag(ea.data(0, s));
  hold_last_n(0, score);
  for (std::size_t s = 0; s < m; ++s) {
    if (flag(xa.data(0, s)) == 1.0 || flag(ea.data(0, s)) == 0.0) h[s] = 0.0;
  }
  std::vector<double> ref(m, kNaN), peak(m, 1.0);
  const bool stops = o.stop_loss > -inf || o.take_profit < inf || o.trail_stop < inf;
  for (std::size_t j = 1; j < t; ++j) {
    std::vector<double> x(m);
    for (std::size_t s = 0; s < m; ++s) x[s] = flag(xa.data(j, s));
    if (stops) {
      for (std::size_t s = 0; s < m; ++s) {
        const bool held = h[(j - 1) * m + s] == 1.0;
        const double c = close[j * m + s];
        if (std::isnan(ref[s]) && held) ref[s] = c, peak[s] = 1.0;
        if (held) {
          const double ratio = c / ref[s];
          const bool hard =
              ratio < 1 - std::abs(o.stop_loss) || ratio > 1 + std::abs(o.take_profit);
          bool trailing = false;
          if (std::isfinite(o.trail_stop)) {
            if (!std::isnan(ratio)) peak[s] = std::max(peak[s], ratio);
            trailing = !hard && peak[s] >= 1 + std::abs(o.trail_stop_activation) &&
                       ratio < peak[s] - std::abs(o.trail_stop);
          }
          if (hard || trailing) x[s] = 1.0;
        } else if (!std::isnan(ref[s])) {
          ref[s] = kNaN, peak[s] = 1.0;
        }
      }
    }
    for (std::size_t s = 0; s < m; ++s) {
      const double prev = h[(j - 1) * m + s], e = flag(ea.data(j, s));
      score[s] = 3 * prev + e * r[j * m + s];
      if (x[s] == 1.0 || (e == 0.0 && prev == 0.0)) score[s] = -1;
    }
    hold_last_n(j, score);
    for (std::size_t s = 0; s < m; ++s) {
      if (score[s] == -1) h[j * m + s] = 0.0;
    }
  }
  return h;
}

TEST(HoldUntil, MatchesThePlainWalkOnRandomInputs) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> unit;
  auto pick = [&](std::initializer_list<double> values) {
    return *(values.begin() + std::size_t(unit(rng) * double(values.size())) % values.size());
  };
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const std::size_t t = 1 + std::size_t(unit(rng) * 30);
    const std::size_t m = 1 + std::size_t(unit(rng) * 28);  // past the insertion-sort cut-off
    Symbols syms;
    for (std::size_t s = 0; s < m; ++s) syms.push_back("S" + std::to_string(s));
    auto signal = [&](double p) {
      std::vector<double> cells(t * m);
      for (double& v : cells) v = unit(rng) < p ? pick({1.0, 1.0, 1.0, 0.5, kNaN}) : 0.0;
      return grid(t, syms, std::move(cells));
    };
    Panel entry = signal(0.4), exit = signal(0.1);
    // Small integer ranks tie often; some cells are missing.
    std::vector<double> rank_cells(t * m), close_cells(t * m);
    for (double& v : rank_cells) v = unit(rng) < 0.1 ? kNaN : double(int(unit(rng) * 5));
    for (std::size_t s = 0; s < m; ++s) {
      double px = 100;
      for (std::size_t d = 0; d < t; ++d) {
        px *= 1 + (unit(rng) - 0.5) * 0.2;
        close_cells[d * m + s] = unit(rng) < 0.05 ? kNaN : px;
      }
    }
    Panel rank = grid(t, syms, rank_cells), close = grid(t, syms, close_cells);
    HoldUntilOpts opts;
    const double limit = unit(rng);
    if (limit < 0.8) opts.nstocks_limit = std::size_t(limit * 10);
    if (unit(rng) < 0.7) opts.rank = &rank;
    if (unit(rng) < 0.7) {
      opts.close = &close;
      opts.stop_loss = pick({-inf, 0.05, -0.1});
      opts.take_profit = pick({inf, 0.08, 0.2});
      opts.trail_stop = pick({inf, 0.03, 0.1});
      opts.trail_stop_activation = pick({0.0, 0.05, -0.1});
    }
    EXPECT_EQ(hold_until(entry, exit, opts).data.cells(), plain_hold_until(entry, exit, opts));
  }
}

}  // namespace
}  // namespace korva::ops
