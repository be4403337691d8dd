#include "core/backtest.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <vector>

namespace korva {
namespace {

constexpr double N = kNaN;

// A panel from its labels and its rows.
Panel make(Dates dates, Symbols symbols, std::initializer_list<std::vector<double>> rows) {
  std::vector<double> cells;
  for (const auto& r : rows) cells.insert(cells.end(), r.begin(), r.end());
  const std::size_t n = dates.size();
  const std::size_t m = symbols.size();
  return {std::move(dates), std::move(symbols), Matrix(n, m, std::move(cells))};
}

BacktestRun simulate(const Panel& w, const Panel& p, const BacktestConfig& cfg = {},
                     const Panel* volume = nullptr, const Panel* high = nullptr,
                     const Panel* low = nullptr) {
  return run(w, p, high, low, volume, cfg);
}

void expect_near_all(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(got[i], want[i], 1e-12);
  }
}

TEST(Backtest, FirstDateCostThenDriftWithoutCost) {
  // 0.5 / 0.5 with fee 0.001, tax 0.001, slippage 0.0005: cost 0.0015 on the first date;
  // A gains 10 % and the targets do not change, so growth 1.05 and no further cost.
  const Panel w = make({20240102, 20240103}, {"A", "B"}, {{0.5, 0.5}, {0.5, 0.5}});
  const Panel p = make({20240102, 20240103}, {"A", "B"}, {{100, 50}, {110, 50}});
  BacktestConfig cfg;
  cfg.fee_ratio = 0.001;
  cfg.tax_ratio = 0.001;
  cfg.slippage_ratio = 0.0005;
  const BacktestRun r = simulate(w, p, cfg);
  EXPECT_EQ(r.dates, (Dates{20240102, 20240103}));
  expect_near_all(r.equity, {0.9985, 1.048425});
  expect_near_all(r.exposure, {1.0, 1.0});
  // Both trades are still open: no cost factor, last price over entry price.
  ASSERT_EQ(r.trades.size(), 2u);
  EXPECT_EQ(r.trades[0].symbol, "A");
  EXPECT_FALSE(r.trades[0].exit_date.has_value());
  EXPECT_NEAR(r.trades[0].ret, 0.1, 1e-12);
  EXPECT_EQ(r.trades[0].period, 1u);
  EXPECT_EQ(r.trades[1].symbol, "B");
  EXPECT_EQ(r.trades[1].ret, 0.0);
  EXPECT_FALSE(r.trades[0].mae.has_value());
}

TEST(Backtest, DriftedHoldingsAreRebalancedWhenTargetsChange) {
  // After the drift to about [0.5238, 0.4762] the new target [0.4, 0.4] costs the turnover
  // from the drifted holdings (0.2 in all), times the fee.
  const Panel w = make({1, 2, 3}, {"A", "B"}, {{0.5, 0.5}, {0.5, 0.5}, {0.4, 0.4}});
  const Panel p = make({1, 2, 3}, {"A", "B"}, {{100, 50}, {110, 50}, {110, 50}});
  BacktestConfig cfg;
  cfg.fee_ratio = 0.01;
  const BacktestRun r = simulate(w, p, cfg);
  const double e0 = 1.0 - 0.01;
  const double e1 = e0 * 1.05;
  const double held_a = 0.55 / 1.05;
  const double held_b = 0.5 / 1.05;
  const double turnover = (held_a - 0.4) + (held_b - 0.4);
  expect_near_all(r.equity, {e0, e1, e1 * (1.0 - turnover * 0.01)});
}

TEST(Backtest, GrossAboveOneIsScaledDownBelowOneKept) {
  struct Case {
    std::vector<double> weights;
    double exposure;
    double growth;  // A gains 10 %, B is flat
  } cases[] = {
      {{0.6, 0.6}, 1.0, 1.05},
      {{0.3, 0.2}, 0.5, 1.03},
      {{1.5, -0.5}, 1.0, 1.075},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.weights[0]);
    Panel w{{1, 2}, {"A", "B"}, Matrix(2, 2, 0.0)};
    for (std::size_t i = 0; i < 2; ++i) {
      w.data(i, 0) = c.weights[0];
      w.data(i, 1) = c.weights[1];
    }
    const Panel p = make({1, 2}, {"A", "B"}, {{10, 10}, {11, 10}});
    const BacktestRun r = simulate(w, p);
    expect_near_all(r.exposure, {c.exposure, c.exposure});
    expect_near_all(r.equity, {1.0, c.growth});
  }
}

TEST(Backtest, TradeCostTaxesSoldPartAndAddsImpact) {
  struct Case {
    const char* name;
    std::vector<double> held, target;
    std::vector<double> traded;  // empty: impact off
    BacktestConfig cfg;
    double cost;
  };
  BacktestConfig tax;
  tax.tax_ratio = 0.001;
  BacktestConfig all;
  all.fee_ratio = 0.001;
  all.tax_ratio = 0.002;
  all.slippage_ratio = 0.0005;
  BacktestConfig impact;
  impact.initial_capital = 1000000;
  impact.impact_coef = 0.1;
  const Case cases[] = {
      {"sale taxed", {0.5}, {0.0}, {}, tax, 0.0005},
      {"purchase untaxed", {0.0}, {0.5}, {}, tax, 0.0},
      {"short opening taxed", {0.0}, {-0.5}, {}, tax, 0.0005},
      // turnover 0.3 + 0.2, sold 0.3
      {"mixed", {0.5, 0.1}, {0.2, 0.3}, {}, all, 0.3 * 0.002 + 0.5 * 0.0015},
      {"impact fraction 0.05", {0.0}, {0.5}, {10000000}, impact, 0.5 * 0.1 * std::sqrt(0.05)},
      {"impact fraction capped at 1", {0.0}, {0.5}, {100000}, impact, 0.05},
      {"no impact without traded value", {0.0}, {0.5}, {0.0}, impact, 0.0},
      {"no impact for a NaN traded value", {0.0}, {0.5}, {N}, impact, 0.0},
      {"no impact without change", {0.5}, {0.5}, {100000}, impact, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double cost =
        trade_cost(c.held, c.target, c.traded.empty() ? nullptr : c.traded.data(), c.cfg);
    EXPECT_NEAR(cost, c.cost, 1e-15);
  }
  EXPECT_NEAR(0.5 * 0.1 * std::sqrt(0.05), 0.01118, 1e-5);
}

TEST(Backtest, SellingThroughTheEngineIsTaxed) {
  const Panel w = make({1, 2}, {"A"}, {{0.5}, {0.0}});
  const Panel p = make({1, 2}, {"A"}, {{10}, {10}});
  BacktestConfig cfg;
  cfg.tax_ratio = 0.001;
  expect_near_all(simulate(w, p, cfg).equity, {1.0, 0.9995});
}

TEST(Backtest, ImpactCostThroughTheEngine) {
  // Price 100 and volume 100000: traded value 10000000, fraction 0.05.
  const Panel w = make({1}, {"A"}, {{0.5}});
  const Panel p = make({1}, {"A"}, {{100}});
  const Panel v = make({1}, {"A"}, {{100000}});
  BacktestConfig cfg;
  cfg.initial_capital = 1000000;
  cfg.impact_coef = 0.1;
  expect_near_all(simulate(w, p, cfg, &v).equity, {1.0 - 0.5 * 0.1 * std::sqrt(0.05)});
  // Without a volume panel, or without capital, the impact cost is off.
  expect_near_all(simulate(w, p, cfg).equity, {1.0});
  cfg.initial_capital = 0.0;
  expect_near_all(simulate(w, p, cfg, &v).equity, {1.0});
}

TEST(Backtest, ParticipationCapClampsBothSides) {
  // Traded value 10000 * 100 = 1000000, cap 0.1: 0.5 -> 0.1 and -0.5 -> -0.1. B then gains
  // 10 %, which costs the short 1 %.
  const Panel w = make({1, 2}, {"A", "B"}, {{0.5, -0.5}, {0.5, -0.5}});
  const Panel p = make({1, 2}, {"A", "B"}, {{100, 100}, {100, 110}});
  const Panel v = make({1, 2}, {"A", "B"}, {{10000, 10000}, {10000, 10000 / 1.1}});
  BacktestConfig cfg;
  cfg.max_participation = 0.1;
  cfg.initial_capital = 1000000;
  const BacktestRun r = simulate(w, p, cfg, &v);
  expect_near_all(r.exposure, {0.2, 0.2});
  expect_near_all(r.equity, {1.0, 0.99});
  // Without capital the limit is off.
  cfg.initial_capital = 0.0;
  expect_near_all(simulate(w, p, cfg, &v).exposure, {1.0, 1.0});
}

TEST(Backtest, ParticipationCapEdgeCells) {
  struct Case {
    const char* name;
    double volume;
    double exposure;
    double max_participation = 0.1;
  } cases[] = {
      {"zero volume forces 0", 0.0, 0.0},
      {"NaN volume is uncapped", N, 0.5},
      {"negative volume leaves the clamp off", -100.0, 0.5},
      {"large volume", 1e9, 0.5},
      {"NaN max_participation leaves the limit off", 0.0, 0.5, N},
      {"negative max_participation leaves the limit off", 0.0, 0.5, -0.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel w = make({1}, {"A"}, {{0.5}});
    const Panel p = make({1}, {"A"}, {{10}});
    const Panel v = make({1}, {"A"}, {{c.volume}});
    BacktestConfig cfg;
    cfg.max_participation = c.max_participation;
    cfg.initial_capital = 1000000;
    const BacktestRun r = simulate(w, p, cfg, &v);
    expect_near_all(r.exposure, {c.exposure});
    EXPECT_EQ(r.trades.size(), c.exposure == 0.0 ? 0u : 1u);
  }
}

TEST(Backtest, PositionLimit) {
  struct Case {
    double limit;
    double exposure;
    double equity;
  } cases[] = {
      {0.2, 0.2, 1.02},  // 0.8 stays uninvested
      {0.0, 1.0, 1.1},
      {-1.0, 1.0, 1.1},
      {N, 1.0, 1.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    const Panel w = make({1, 2}, {"A"}, {{1.0}, {1.0}});
    const Panel p = make({1, 2}, {"A"}, {{10}, {11}});
    BacktestConfig cfg;
    cfg.position_limit = c.limit;
    const BacktestRun r = simulate(w, p, cfg);
    expect_near_all(r.exposure, {c.exposure, c.exposure});
    expect_near_all(r.equity, {1.0, c.equity});
  }
}

TEST(Backtest, MissingWeightsHoldTargetsWithoutRebalancing) {
  // The weight panel covers only the first date (and a NaN weight on the second): the
  // position is bought once and drifts; no later fee is charged.
  BacktestConfig cfg;
  cfg.fee_ratio = 0.001;
  const Panel p = make({1, 2, 3}, {"A"}, {{100}, {110}, {121}});
  const Panel short_w = make({1}, {"A"}, {{0.5}});
  const Panel nan_w = make({1, 2, 3}, {"A"}, {{0.5}, {N}, {N}});
  for (const Panel* w : {&short_w, &nan_w}) {
    const BacktestRun r = simulate(*w, p, cfg);
    EXPECT_EQ(r.dates, (Dates{1, 2, 3}));
    expect_near_all(r.equity, {0.9995, 0.9995 * 1.05, 0.9995 * 1.105});
    expect_near_all(r.exposure, {0.5, 0.5, 0.5});
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.trades[0].period, 2u);
  }
}

TEST(Backtest, PriceGapGivesZeroReturnOnBothSides) {
  const Panel w = make({1, 2, 3}, {"A"}, {{1.0}, {1.0}, {1.0}});
  const Panel p = make({1, 2, 3}, {"A"}, {{10}, {N}, {12}});
  expect_near_all(simulate(w, p).equity, {1.0, 1.0, 1.0});
  // A zero previous price also gives a zero return.
  const Panel z = make({1, 2, 3}, {"A"}, {{10}, {0}, {12}});
  expect_near_all(simulate(w, z).equity, {1.0, 0.0, 0.0});
}

TEST(Backtest, DelistingWritesDownAndClosesWithHaircut) {
  // A is delisted on the third missing price (index 4); the holding 0.5 (after the first
  // date's fee the drifted weight stays 0.5) loses half its value, the others are scaled
  // by 1 / (1 - L), and the book is rebalanced to the targets without A.
  const Panel w =
      make({1, 2, 3, 4, 5, 6, 7}, {"A", "B"},
           {{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}});
  const Panel p = make({1, 2, 3, 4, 5, 6, 7}, {"A", "B"},
                       {{100, 20}, {100, 20}, {N, 20}, {N, 20}, {N, 20}, {N, 20}, {N, 20}});
  BacktestConfig cfg;
  cfg.delist_after = 3;
  cfg.delist_haircut = 0.5;
  cfg.fee_ratio = 0.001;
  const BacktestRun r = simulate(w, p, cfg);
  const double e0 = 1.0 - 0.001;
  const double loss = 0.5 * 0.5;
  const double e4 = e0 * (1.0 - loss) * (1.0 - (0.5 / (1.0 - loss) - 0.5) * 0.001);
  expect_near_all(r.equity, {e0, e0, e0, e0, e4, e4, e4});
  expect_near_all(r.exposure, {1.0, 1.0, 1.0, 1.0, 0.5, 0.5, 0.5});
  ASSERT_EQ(r.trades.size(), 2u);
  const Trade& a = r.trades[0];
  EXPECT_EQ(a.symbol, "A");
  EXPECT_EQ(a.entry_date, 1);
  EXPECT_EQ(a.exit_date, 5);
  EXPECT_EQ(a.period, 4u);
  // Haircut ratio, exit factor 1.0, entry factor 1 - fee.
  EXPECT_NEAR(a.ret, 0.5 * 0.999 - 1.0, 1e-12);
  EXPECT_EQ(r.trades[1].symbol, "B");
  EXPECT_FALSE(r.trades[1].exit_date.has_value());
}

TEST(Backtest, DelistingOffOrInterruptedRuns) {
  // delist_after 0: the haircut has no effect and the target is held through the gap.
  const Panel w = make({1, 2, 3, 4, 5, 6}, {"A"}, {{1}, {1}, {1}, {1}, {1}, {1}});
  const Panel p = make({1, 2, 3, 4, 5, 6}, {"A"}, {{100}, {N}, {N}, {100}, {N}, {N}});
  BacktestConfig off;
  off.delist_haircut = 0.5;
  const BacktestRun r0 = simulate(w, p, off);
  expect_near_all(r0.equity, {1, 1, 1, 1, 1, 1});
  ASSERT_EQ(r0.trades.size(), 1u);

  // delist_after 2: events on the second NaN of each run; the price comes back in between
  // and the non-NaN weight re-opens the position.
  BacktestConfig on = off;
  on.delist_after = 2;
  const BacktestRun r = simulate(w, p, on);
  expect_near_all(r.equity, {1.0, 1.0, 0.5, 0.5, 0.5, 0.25});
  expect_near_all(r.exposure, {1, 1, 0, 1, 1, 0});
  ASSERT_EQ(r.trades.size(), 2u);
  EXPECT_EQ(r.trades[0].entry_date, 1);
  EXPECT_EQ(r.trades[0].exit_date, 3);
  EXPECT_NEAR(r.trades[0].ret, -0.5, 1e-12);
  EXPECT_EQ(r.trades[1].entry_date, 4);
  EXPECT_EQ(r.trades[1].exit_date, 6);
}

TEST(Backtest, DelistedTargetStaysZeroUntilNewWeight) {
  // After the event the NaN weights carry the delisted 0 forward, also past the dates on
  // which the symbol is delisted; only the new weight on date 6 re-opens the position.
  const Panel w = make({1, 2, 3, 4, 5, 6}, {"A"}, {{1}, {N}, {N}, {N}, {N}, {1}});
  const Panel p = make({1, 2, 3, 4, 5, 6}, {"A"}, {{10}, {N}, {N}, {10}, {10}, {10}});
  BacktestConfig cfg;
  cfg.delist_after = 2;
  const BacktestRun r = simulate(w, p, cfg);
  expect_near_all(r.exposure, {1, 1, 0, 0, 0, 1});
  ASSERT_EQ(r.trades.size(), 2u);
  EXPECT_EQ(r.trades[0].exit_date, 3);
  EXPECT_EQ(r.trades[1].entry_date, 6);
}

TEST(Backtest, TradeBoundaries) {
  struct Case {
    const char* name;
    std::vector<double> weights;
    std::size_t trades;
  } cases[] = {
      {"flip without passing zero", {0.5, -0.5, -0.5}, 1},
      {"flip through zero", {0.5, 0.0, -0.5}, 2},
      {"never invested", {0.0, 0.0, 0.0}, 0},
      {"closed and not reopened", {0.5, 0.0, 0.0}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel w{{1, 2, 3}, {"A"}, Matrix(3, 1, c.weights)};
    const Panel p = make({1, 2, 3}, {"A"}, {{10}, {11}, {12}});
    EXPECT_EQ(simulate(w, p).trades.size(), c.trades);
  }
}

TEST(Backtest, ClosedTradeReturnCarriesCostsAndIgnoresDirection) {
  // Short from 100 to 110 and closed: ret is computed like a long's.
  const Panel w = make({1, 2, 3}, {"A"}, {{-0.5}, {-0.5}, {0.0}});
  const Panel p = make({1, 2, 3}, {"A"}, {{100}, {105}, {110}});
  BacktestConfig cfg;
  cfg.fee_ratio = 0.001;
  cfg.tax_ratio = 0.001;
  cfg.slippage_ratio = 0.0005;
  const BacktestRun r = simulate(w, p, cfg);
  ASSERT_EQ(r.trades.size(), 1u);
  EXPECT_EQ(r.trades[0].entry_date, 1);
  EXPECT_EQ(r.trades[0].exit_date, 3);
  EXPECT_EQ(r.trades[0].period, 2u);
  EXPECT_NEAR(r.trades[0].ret, (1 - 0.0025) * 1.1 * (1 - 0.0015) - 1, 1e-12);
}

TEST(Backtest, NaNOrZeroEntryPriceGivesRatioOne) {
  struct Case {
    double entry_price;
  } cases[] = {{N}, {0.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry_price);
    const Panel w = make({1, 2, 3}, {"A"}, {{1.0}, {1.0}, {0.0}});
    const Panel p = make({1, 2, 3}, {"A"}, {{c.entry_price}, {10}, {20}});
    const Panel hi = make({1, 2, 3}, {"A"}, {{11}, {11}, {21}});
    const Panel lo = make({1, 2, 3}, {"A"}, {{9}, {9}, {19}});
    BacktestConfig cfg;
    cfg.fee_ratio = 0.01;
    cfg.tax_ratio = 0.02;
    const BacktestRun r = simulate(w, p, cfg, nullptr, &hi, &lo);
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_NEAR(r.trades[0].ret, 0.97 * 0.99 - 1.0, 1e-12);
    EXPECT_FALSE(r.trades[0].mae.has_value());
    EXPECT_FALSE(r.trades[0].mfe.has_value());
  }
}

TEST(Backtest, ExcursionsFollowDirectionAndSkipIncompleteRows) {
  // Entry at 100; the third date has no high, so its low of 90 is skipped.
  struct Case {
    double weight;
    double mae, mfe;
  } cases[] = {{1.0, -0.05, 0.08}, {-1.0, -0.08, 0.05}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.weight);
    const Panel w = make({1, 2, 3, 4, 5}, {"A"}, {{c.weight}, {c.weight}, {c.weight}, {0}, {0}});
    const Panel p = make({1, 2, 3, 4, 5}, {"A"}, {{100}, {100}, {100}, {100}, {100}});
    const Panel hi = make({1, 2, 3, 4, 5}, {"A"}, {{101}, {108}, {N}, {103}, {150}});
    const Panel lo = make({1, 2, 3, 4, 5}, {"A"}, {{99}, {95}, {90}, {98}, {50}});
    const BacktestRun r = simulate(w, p, {}, nullptr, &hi, &lo);
    ASSERT_EQ(r.trades.size(), 1u);
    ASSERT_TRUE(r.trades[0].mae.has_value());
    EXPECT_NEAR(*r.trades[0].mae, c.mae, 1e-12);
    EXPECT_NEAR(*r.trades[0].mfe, c.mfe, 1e-12);
    // Only one of high and low: no excursions.
    EXPECT_FALSE(simulate(w, p, {}, nullptr, &hi, nullptr).trades[0].mae.has_value());
  }
}

TEST(Backtest, OpenTradeOverAllMissingRowsHasNoExcursions) {
  const Panel w = make({1, 2}, {"A"}, {{1.0}, {1.0}});
  const Panel p = make({1, 2}, {"A"}, {{100}, {N}});
  const Panel hi = make({1, 2}, {"A"}, {{N}, {N}});
  const Panel lo = make({1, 2}, {"A"}, {{99}, {98}});
  const BacktestRun r = simulate(w, p, {}, nullptr, &hi, &lo);
  ASSERT_EQ(r.trades.size(), 1u);
  EXPECT_FALSE(r.trades[0].mae.has_value());
  // Last price NaN: the open trade's ret is 0.
  EXPECT_EQ(r.trades[0].ret, 0.0);
}

TEST(Backtest, TradesGroupedBySymbolInAlignedOrder) {
  // The weight panel's symbol order wins; C is dropped (no price).
  const Panel w = make({1, 2, 3, 4}, {"B", "C", "A"}, {{1, 1, 0}, {0, 1, 1}, {1, 1, 0}, {0, 1, 1}});
  const Panel p = make({1, 2, 3, 4}, {"A", "B"}, {{1, 1}, {1, 1}, {1, 1}, {1, 1}});
  const BacktestRun r = simulate(w, p);
  struct Want {
    const char* symbol;
    std::int32_t entry;
    std::optional<std::int32_t> exit;
  } want[] = {{"B", 1, 2}, {"B", 3, 4}, {"A", 2, 3}, {"A", 4, std::nullopt}};
  ASSERT_EQ(r.trades.size(), std::size(want));
  for (std::size_t k = 0; k < std::size(want); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(r.trades[k].symbol, want[k].symbol);
    EXPECT_EQ(r.trades[k].entry_date, want[k].entry);
    EXPECT_EQ(r.trades[k].exit_date, want[k].exit);
  }
}

TEST(Backtest, SingleDateAndDegenerateGrids) {
  BacktestConfig cfg;
  cfg.fee_ratio = 0.01;
  {
    SCOPED_TRACE("single date");
    const BacktestRun r =
        simulate(make({7}, {"A", "B"}, {{0.5, 0.0}}), make({7}, {"A", "B"}, {{10, 10}}), cfg);
    expect_near_all(r.equity, {0.995});
    ASSERT_EQ(r.trades.size(), 1u);
    EXPECT_EQ(r.trades[0].period, 0u);
    EXPECT_EQ(r.trades[0].ret, 0.0);
  }
  {
    SCOPED_TRACE("no common symbol");
    const BacktestRun r =
        simulate(make({1, 3}, {"X"}, {{1}, {1}}), make({2, 3}, {"Y"}, {{1}, {2}}), cfg);
    EXPECT_EQ(r.dates, (Dates{1, 2, 3}));
    expect_near_all(r.equity, {1, 1, 1});
    expect_near_all(r.exposure, {0, 0, 0});
    EXPECT_TRUE(r.trades.empty());
  }
  {
    SCOPED_TRACE("no dates");
    const BacktestRun r =
        simulate(Panel{{}, {"A"}, Matrix(0, 1)}, Panel{{}, {"A"}, Matrix(0, 1)}, cfg);
    EXPECT_TRUE(r.dates.empty());
    EXPECT_TRUE(r.equity.empty());
    EXPECT_TRUE(r.exposure.empty());
    EXPECT_TRUE(r.trades.empty());
  }
}

TEST(Backtest, UnsortedInputDatesAreAligned) {
  const Panel w = make({3, 1, 2}, {"A"}, {{1}, {1}, {1}});
  const Panel p = make({2, 3, 1}, {"A"}, {{11}, {12.1}, {10}});
  const BacktestRun r = simulate(w, p);
  EXPECT_EQ(r.dates, (Dates{1, 2, 3}));
  expect_near_all(r.equity, {1.0, 1.1, 1.21});
}

TEST(Backtest, AlignmentPairsCellsByLabel) {
  struct Case {
    const char* name;
    Panel w, p;
    double exposure, growth;
  } cases[] = {
      // Grid symbols [B, A]: B is held and flat, A is not held and gains 10 %.
      {"reordered symbols", make({1, 2}, {"B", "A"}, {{0.5, 0.0}, {0.5, 0.0}}),
       make({1, 2}, {"A", "B"}, {{10, 10}, {11, 10}}), 0.5, 1.0},
      // A repeated symbol: both grid columns hold the last X column of each panel.
      {"repeated symbol", make({1, 2}, {"X", "X"}, {{0.0, 0.5}, {0.0, 0.5}}),
       make({1, 2}, {"X", "X"}, {{10, 10}, {10, 11}}), 1.0, 1.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const BacktestRun r = simulate(c.w, c.p);
    expect_near_all(r.exposure, {c.exposure, c.exposure});
    expect_near_all(r.equity, {1.0, c.growth});
  }
}

TEST(Backtest, ConformTo) {
  const Panel grid = make({1, 2}, {"A", "B"}, {{0, 0}, {0, 0}});
  EXPECT_FALSE(conform_to(grid, nullptr).has_value());
  // Repeated date 2: the last row wins; C is ignored; A is missing on date 1.
  const Panel src = make({2, 1, 2}, {"B", "C", "A"}, {{1, 2, 3}, {4, 5, N}, {7, 8, 9}});
  const auto m = conform_to(grid, &src);
  ASSERT_TRUE(m.has_value());
  ASSERT_EQ(m->rows(), 2u);
  ASSERT_EQ(m->cols(), 2u);
  EXPECT_TRUE(std::isnan((*m)(0, 0)));
  EXPECT_EQ((*m)(0, 1), 4.0);
  EXPECT_EQ((*m)(1, 0), 9.0);
  EXPECT_EQ((*m)(1, 1), 7.0);
  // Same size, other order.
  const Panel swapped = make({1, 2}, {"B", "A"}, {{1, 2}, {3, 4}});
  const auto s = conform_to(grid, &swapped);
  EXPECT_EQ(s->cells(), (std::vector<double>{2, 1, 4, 3}));
}

}  // namespace
}  // namespace korva
