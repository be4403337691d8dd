#include "core/strategy.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace korva {
namespace {

constexpr double N = kNaN;
constexpr const char* kWeights = R"({"op": "Data", "name": "w"})";

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t n = dates.size();
  const std::size_t m = symbols.size();
  return {std::move(dates), std::move(symbols), Matrix(n, m, std::move(cells))};
}

// Weights 0.5 / 0.5 on two symbols over four dates, prices, and a three-symbol benchmark
// that starts a year before the run.
EvalContext sample_context() {
  EvalContext ctx;
  const Dates dates{20240102, 20240103, 20240104, 20240105};
  ctx.panels.emplace("w", make(dates, {"A", "B"}, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.0, 0.0}));
  ctx.panels.emplace("close", make(dates, {"A", "B"}, {10, 20, 11, 20, 12, 21, 12, 22}));
  ctx.panels.emplace("bench", make({20230102, 20240102, 20240104}, {"X", "Y", "Z"},
                                   {50, 1, 1, 100, 2, 2, 110, 3, 3}));
  ctx.panels.emplace("empty_bench", make({20240102}, {}, {}));
  return ctx;
}

std::string message(const Result<Report>& r) {
  return r.has_value() ? std::string("(no error)") : r.error().display();
}

TEST(RunStrategy, EvaluatesTheTree) {
  const EvalContext ctx = sample_context();
  auto w = run_strategy(kWeights, ctx);
  ASSERT_TRUE(w.has_value()) << w.error().display();
  EXPECT_EQ(*w, ctx.panels.at("w"));
}

TEST(RunStrategy, ReaderErrorsBecomeEvalErrors) {
  const EvalContext ctx = sample_context();
  auto w = run_strategy("", ctx);
  ASSERT_FALSE(w.has_value());
  EXPECT_TRUE(w.error().is_eval());
  EXPECT_EQ(w.error().display(), "eval error: EOF while parsing a value at line 1 column 0");
}

TEST(RunBacktest, ErrorsInOrderOfPrecedence) {
  const EvalContext ctx = sample_context();
  BacktestConfig bad_bench;
  bad_bench.benchmark_key = "Bench";
  BacktestConfig empty_bench;
  empty_bench.benchmark_key = "empty_bench";
  struct Case {
    const char* name;
    std::string json;
    const char* price_key;
    BacktestConfig config;
    std::string want;
  } cases[] = {
      {"empty text", "", "close", {}, "eval error: EOF while parsing a value at line 1 column 0"},
      {"strategy error wins over a missing price",
       R"({"op": "Data", "name": "nope"})",
       "Close",
       {},
       "eval error: unknown series 'nope'"},
      {"price key is case-sensitive",
       kWeights,
       "Close",
       {},
       "eval error: unknown price series 'Close'"},
      {"missing price wins over a bad benchmark", kWeights, "px", bad_bench,
       "eval error: unknown price series 'px'"},
      {"unknown benchmark", kWeights, "close", bad_bench,
       "eval error: unknown benchmark series 'Bench'"},
      {"benchmark without symbols", kWeights, "close", empty_bench,
       "eval error: benchmark series 'empty_bench' has no symbols"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(message(run_backtest(c.json, ctx, c.price_key, c.config)), c.want);
  }
  // An empty context: the strategy's own lookup fails before the price lookup.
  EXPECT_EQ(message(run_backtest(kWeights, EvalContext{}, "close", {})),
            "eval error: unknown series 'w'");
}

TEST(RunBacktest, RunsWithoutOptionalPanels) {
  const EvalContext ctx = sample_context();
  auto r = run_backtest(kWeights, ctx, "close", {});
  ASSERT_TRUE(r.has_value()) << message(r);
  EXPECT_EQ(r->dates, (Dates{20240102, 20240103, 20240104, 20240105}));
  ASSERT_EQ(r->equity.size(), 4u);
  EXPECT_NEAR(r->equity[0], 1.0, 1e-12);
  EXPECT_NEAR(r->equity[1], 1.05, 1e-12);
  EXPECT_FALSE(r->benchmark.has_value());
  EXPECT_FALSE(r->bootstrap.has_value());
  EXPECT_FALSE(r->metrics.beta.has_value());
  ASSERT_EQ(r->trades.size(), 2u);
  EXPECT_EQ(r->trades[0].exit_date, 20240105);
  EXPECT_FALSE(r->trades[0].mae.has_value());
}

TEST(RunBacktest, BenchmarkUsesFirstColumnAsOf) {
  const EvalContext ctx = sample_context();
  BacktestConfig cfg;
  cfg.benchmark_key = "bench";
  auto r = run_backtest(kWeights, ctx, "close", cfg);
  ASSERT_TRUE(r.has_value()) << message(r);
  ASSERT_TRUE(r->benchmark.has_value());
  // Base 50 (a year before the run); 20240103 takes the value of 20240102.
  const std::vector<double> want{2.0, 2.0, 2.2, 2.2};
  ASSERT_EQ(r->benchmark->size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR((*r->benchmark)[i], want[i], 1e-12);
  ASSERT_TRUE(r->metrics.benchmark_return.has_value());
  EXPECT_NEAR(*r->metrics.benchmark_return, 0.1, 1e-12);
}

TEST(RunBacktest, BootstrapOnlyWhenSamplesAreAsked) {
  const EvalContext ctx = sample_context();
  BacktestConfig cfg;
  cfg.bootstrap_block = 2;
  auto none = run_backtest(kWeights, ctx, "close", cfg);
  ASSERT_TRUE(none.has_value()) << message(none);
  EXPECT_FALSE(none->bootstrap.has_value());

  cfg.bootstrap_samples = 50;
  auto a = run_backtest(kWeights, ctx, "close", cfg);
  auto b = run_backtest(kWeights, ctx, "close", cfg);
  ASSERT_TRUE(a.has_value()) << message(a);
  ASSERT_TRUE(a->bootstrap.has_value());
  EXPECT_EQ(*a->bootstrap, *b->bootstrap);
  EXPECT_EQ(a->bootstrap->n_samples, 50u);
  EXPECT_EQ(a->bootstrap->block_len, 2u);
  EXPECT_EQ(*a->bootstrap, *bootstrap(a->dates, a->equity, 50, 2, kBootstrapSeed));
  EXPECT_EQ(kBootstrapSeed, 0xC17A05u);
}

TEST(RunBacktest, OptionalPanelsByFixedNames) {
  EvalContext ctx = sample_context();
  const Dates dates{20240102, 20240103, 20240104, 20240105};
  ctx.panels.emplace("high", make(dates, {"A", "B"}, {11, 21, 12, 21, 13, 22, 13, 23}));
  ctx.panels.emplace("low", make(dates, {"A", "B"}, {9, 19, 10, 19, 11, 20, 11, 21}));
  // Volume 0 for B: with the participation limit on, B is never held.
  ctx.panels.emplace("volume", make(dates, {"A", "B"}, {1e9, 0, 1e9, 0, 1e9, 0, 1e9, 0}));
  BacktestConfig cfg;
  cfg.max_participation = 0.1;
  cfg.initial_capital = 1e6;
  auto r = run_backtest(kWeights, ctx, "close", cfg);
  ASSERT_TRUE(r.has_value()) << message(r);
  ASSERT_EQ(r->trades.size(), 1u);
  EXPECT_EQ(r->trades[0].symbol, "A");
  ASSERT_TRUE(r->trades[0].mae.has_value());
  EXPECT_NEAR(*r->trades[0].mae, -0.1, 1e-12);
  EXPECT_NEAR(*r->trades[0].mfe, 0.3, 1e-12);
  EXPECT_NEAR(r->metrics.avg_exposure, 0.5 * 3 / 4, 1e-12);
}

TEST(RunBacktestJson, ReportJson) {
  const EvalContext ctx = sample_context();
  BacktestConfig cfg;
  cfg.benchmark_key = "bench";
  cfg.bootstrap_samples = 10;
  auto v = run_backtest_json(kWeights, ctx, "close", cfg);
  ASSERT_TRUE(v.has_value()) << v.error().display();
  std::vector<std::string> keys;
  for (const auto& [k, _] : v->as_object()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"benchmark", "bootstrap", "dates", "drawdown", "equity",
                                            "metrics", "monthly_returns", "rolling_sharpe",
                                            "rolling_volatility", "trades", "yearly_returns"}));
  EXPECT_EQ(v->as_object().find("metrics")->as_object().size(), 28u);

  auto err = run_backtest_json(kWeights, ctx, "nope", {});
  ASSERT_FALSE(err.has_value());
  EXPECT_EQ(err.error().display(), "eval error: unknown price series 'nope'");
}

}  // namespace
}  // namespace korva
