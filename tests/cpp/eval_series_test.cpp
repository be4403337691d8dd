// Evaluation rows of the time-series, technical-analysis, signal and cross-sectional
// variants: each node evaluates its fields in order and makes the right call.
#include <gtest/gtest.h>

#include <string>

#include "brindle/expr.hpp"
#include "core/eval.hpp"
#include "core/ops/arith.hpp"
#include "core/ops/cross_section.hpp"
#include "core/ops/indicators.hpp"
#include "core/ops/signals.hpp"
#include "core/ops/ta.hpp"
#include "series_test_util.hpp"
#include "test_util.hpp"

namespace korva {
namespace {

using korva::testing::random_panel;
using korva::testing::same_double;

bool same_panel(const Panel& a, const Panel& b) {
  if (a.dates != b.dates || a.symbols != b.symbols) return false;
  if (a.data.rows() != b.data.rows() || a.data.cols() != b.data.cols()) return false;
  for (std::size_t i = 0; i < a.data.size(); ++i) {
    if (!same_double(a.data.data()[i], b.data.data()[i])) return false;
  }
  return true;
}

Result<Panel> run(const std::string& json, const EvalContext& ctx) {
  auto e = brindle::read_expr(json);
  EXPECT_TRUE(e.has_value()) << (e.has_value() ? "" : e.error());
  if (!e) return eval_error("bad test tree");
  return eval(*e, ctx);
}

std::string data(const std::string& name) {
  return R"({"op":"Data","name":")" + name + "\"}";
}

class EvalSeriesTest : public ::testing::Test {
 protected:
  EvalSeriesTest() {
    close = random_panel(40, 5, 1);
    high = close.clone();
    low = close.clone();
    for (double& x : high.data.cells()) x += 1.5;
    for (double& x : low.data.cells()) x -= 1.0;
    volume = random_panel(40, 5, 2, 1000.0, false);
    signal = ops::gt(close, ops::average(close, 5));
    ctx.panels.emplace("close", close);
    ctx.panels.emplace("high", high);
    ctx.panels.emplace("low", low);
    ctx.panels.emplace("volume", volume);
    ctx.panels.emplace("sig", signal);
    ctx.panels.emplace("short", random_panel(39, 5, 3));
  }

  static std::string hlc(const std::string& op, std::size_t n, const std::string& extra = "") {
    return R"({"op":")" + op + R"(","high":)" + data("high") + R"(,"low":)" + data("low") +
           R"(,"close":)" + data("close") + R"(,"n":)" + std::to_string(n) + extra + "}";
  }
  static std::string hlcv(const std::string& op, std::size_t n) {
    return R"({"op":")" + op + R"(","high":)" + data("high") + R"(,"low":)" + data("low") +
           R"(,"close":)" + data("close") + R"(,"volume":)" + data("volume") + R"(,"n":)" +
           std::to_string(n) + "}";
  }
  static std::string of_n(const std::string& op, const std::string& of, std::size_t n) {
    return R"({"op":")" + op + R"(","of":)" + data(of) + R"(,"n":)" + std::to_string(n) + "}";
  }
  static std::string of(const std::string& op, const std::string& of,
                        const std::string& extra = "") {
    return R"({"op":")" + op + R"(","of":)" + data(of) + extra + "}";
  }

  Panel close, high, low, volume, signal;
  EvalContext ctx;
};

TEST_F(EvalSeriesTest, EachVariantMakesItsCall) {
  struct Case {
    std::string json;
    Panel expected;
  } cases[] = {
      {of_n("Average", "close", 5), ops::average(close, 5)},
      {of_n("Ema", "close", 4), ops::ema(close, 4)},
      {of_n("Std", "close", 6), ops::rolling_std(close, 6)},
      {of_n("Rsi", "close", 3), ops::rsi(close, 3)},
      {of_n("PctChange", "close", 2), ops::pct_change(close, 2)},
      {of_n("Rise", "close", 1), ops::rise(close, 1)},
      {of_n("Fall", "close", 1), ops::fall(close, 1)},
      {of_n("RollingMax", "close", 3), ops::rolling_max(close, 3)},
      {hlc("Atr", 3), *ops::atr(high, low, close, 3)},
      {hlc("Natr", 3), *ops::natr(high, low, close, 3)},
      {hlc("WillR", 4), *ops::willr(high, low, close, 4)},
      {hlc("Cci", 4), *ops::cci(high, low, close, 4)},
      {hlc("StochK", 4), *ops::stoch_k(high, low, close, 4)},
      {hlc("StochD", 4), *ops::stoch_d(high, low, close, 4, 3)},
      {hlc("StochD", 4, R"(,"d":2)"), *ops::stoch_d(high, low, close, 4, 2)},
      {hlc("Adx", 3), *ops::adx(high, low, close, 3)},
      {hlc("PlusDi", 3), *ops::di_panel(high, low, close, 3, true)},
      {hlc("MinusDi", 3), *ops::di_panel(high, low, close, 3, false)},
      {R"({"op":"AroonUp","high":)" + data("high") + R"(,"n":3})", ops::aroon_dir(high, 3, true)},
      {R"({"op":"AroonDown","low":)" + data("low") + R"(,"n":3})", ops::aroon_dir(low, 3, false)},
      {R"({"op":"Obv","close":)" + data("close") + R"(,"volume":)" + data("volume") + "}",
       *ops::obv(close, volume)},
      {hlcv("Mfi", 3), *ops::mfi(high, low, close, volume, 3)},
      {hlcv("Vwap", 3), *ops::vwap(high, low, close, volume, 3)},
      {of("Sustain", "sig", R"(,"nwindow":3)"), ops::sustain(signal, 3, std::nullopt)},
      {of("Sustain", "sig", R"(,"nwindow":3,"nsatisfy":2)"), ops::sustain(signal, 3, 2)},
      {of("Sustain", "sig", R"(,"nwindow":3,"nsatisfy":null)"), ops::sustain(signal, 3, 3)},
      {of("IsEntry", "sig"), ops::is_entry(signal)},
      {of("IsExit", "sig"), ops::is_exit(signal)},
      {of_n("IsLargest", "close", 2), ops::top_n(close, 2, true)},
      {of_n("IsSmallest", "close", 2), ops::top_n(close, 2, false)},
      {of("Rank", "close"), ops::rank_cs(close, true, true)},
      {of("Rank", "close", R"(,"pct":false,"ascending":false)"), ops::rank_cs(close, false, false)},
      {of("NormalizeRow", "close"), ops::normalize_row(close)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto out = run(c.json, ctx);
    ASSERT_TRUE(out.has_value()) << out.error().display();
    EXPECT_TRUE(same_panel(*out, c.expected));
  }
  // The two directional variants are told apart.
  EXPECT_FALSE(same_panel(*run(hlc("PlusDi", 3), ctx), *run(hlc("MinusDi", 3), ctx)));
  // The context is left as it was.
  EXPECT_TRUE(same_panel(ctx.panels.at("close"), close));
}

TEST_F(EvalSeriesTest, FieldsAreEvaluatedInOrderAndTheFirstFailureWins) {
  auto named = [](const std::string& h, const std::string& l, const std::string& c) {
    return R"({"op":"Atr","high":)" + data(h) + R"(,"low":)" + data(l) + R"(,"close":)" + data(c) +
           R"(,"n":2})";
  };
  struct Case {
    std::string json;
    std::string message;
  } cases[] = {
      {named("h?", "l?", "c?"), "unknown series 'h?'"},
      {named("high", "l?", "c?"), "unknown series 'l?'"},
      {named("high", "low", "c?"), "unknown series 'c?'"},
      {R"({"op":"Obv","close":)" + data("c?") + R"(,"volume":)" + data("v?") + "}",
       "unknown series 'c?'"},
      {R"({"op":"Mfi","high":)" + data("high") + R"(,"low":)" + data("low") + R"(,"close":)" +
           data("close") + R"(,"volume":)" + data("v?") + R"(,"n":2})",
       "unknown series 'v?'"},
      {R"({"op":"Average","of":{"op":"Const","value":2},"n":3})",
       "bare Const 2 not allowed at top level"},
      {R"({"op":"Rank","of":{"op":"Const","value":0.5}})",
       "bare Const 0.5 not allowed at top level"},
      // An error deep in the tree wins over the shape check of its ancestor.
      {R"({"op":"Atr","high":)" + data("short") + R"(,"low":)" + data("low") + R"(,"close":)" +
           of_n("Average", "nope", 2) + R"(,"n":2})",
       "unknown series 'nope'"},
      {R"({"op":"Atr","high":)" + data("short") + R"(,"low":)" + data("low") + R"(,"close":)" +
           data("close") + R"(,"n":2})",
       "atr: `high` is 39x5, smaller than `close` 40x5"},
      {R"({"op":"StochD","high":)" + data("high") + R"(,"low":)" + data("short") + R"(,"close":)" +
           data("close") + R"(,"n":2})",
       "stoch_d: `low` is 39x5, smaller than `close` 40x5"},
      {R"({"op":"Vwap","high":)" + data("high") + R"(,"low":)" + data("low") + R"(,"close":)" +
           data("close") + R"(,"volume":)" + data("short") + R"(,"n":2})",
       "vwap: `volume` is 39x5, smaller than `close` 40x5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto out = run(c.json, ctx);
    ASSERT_FALSE(out.has_value());
    ASSERT_TRUE(out.error().is_eval());
    EXPECT_EQ(out.error().message(), c.message);
  }
}

TEST_F(EvalSeriesTest, NestedIndicators) {
  // is_entry(close > sma(close, 5)) through the tree equals the direct composition.
  const std::string json = R"({"op":"IsEntry","of":{"op":"Gt","l":)" + data("close") + R"(,"r":)" +
                           of_n("Average", "close", 5) + "}}";
  auto out = run(json, ctx);
  ASSERT_TRUE(out.has_value());
  EXPECT_TRUE(same_panel(*out, ops::is_entry(signal)));
}

}  // namespace
}  // namespace korva
