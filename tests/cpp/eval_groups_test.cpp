#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/eval.hpp"
#include "expr_builders.hpp"

namespace korva {
namespace {

using brindle::Expr;
using brindle::Field;
using brindle::Op;
using testing::constant;
using testing::data;
using testing::list;
using testing::node;
using testing::ptr;

constexpr double nan = kNaN;
const std::monostate none;

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t r = dates.size(), c = symbols.size();
  return Panel{std::move(dates), std::move(symbols), Matrix(r, c, std::move(cells))};
}

EvalContext context() {
  EvalContext ctx;
  const Symbols s{"A", "B", "C", "D"};
  ctx.panels["sig"] = make({20240102, 20240103}, s, {1, 3, 10, 20, 4, 2, 6, 8});
  ctx.panels["fac"] = make({20240102, 20240103}, s, {0, 1, 2, 3, 1, 1, 1, 1});
  ctx.panels["entry"] =
      make({20240102, 20240103, 20240104}, s, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  ctx.panels["exit"] = make({20240102, 20240103, 20240104}, s, std::vector<double>(12, 0.0));
  ctx.panels["when"] = make({20240102, 20240103}, {"A", "B"}, {0, nan, 0.5, 0});
  ctx.panels["zeros"] = make({20240102, 20240103}, {"A"}, {0, nan});
  ctx.panels["bad_dates"] = make({20240102, 20241399}, {"A"}, {1, 2});
  ctx.industry = {{"A", "bank"}, {"B", "bank"}, {"C", "tech"}, {"D", "tech"}};
  return ctx;
}

std::string error_of(const Result<Panel>& r) {
  return r ? "<ok>" : r.error().display();
}

TEST(EvalNeutralize, EvaluatesFactorsInOrder) {
  const EvalContext ctx = context();
  struct Case {
    const char* name;
    Expr expr;
    std::string error;
  };
  std::vector<Case> cases;
  cases.push_back({"of fails first", node(Op::Neutralize, data("nope"), list(data("x1")), true),
                   "eval error: unknown series 'nope'"});
  cases.push_back(
      {"second factor fails, third not evaluated",
       node(Op::Neutralize, data("sig"), list(data("fac"), data("b2"), data("b3")), true),
       "eval error: unknown series 'b2'"});
  cases.push_back({"Const in the by list",
                   node(Op::Neutralize, data("sig"), list(constant(0.5)), true),
                   "eval error: bare Const 0.5 not allowed at top level"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(eval(c.expr, ctx)), c.error);
  }
}

TEST(EvalNeutralize, Residuals) {
  const EvalContext ctx = context();
  // Empty by list with a constant: demeaning. Date 1 mean 8.5, date 2 mean 5.
  auto demeaned = eval(node(Op::Neutralize, data("sig"), list(), true), ctx);
  ASSERT_TRUE(demeaned.has_value()) << error_of(demeaned);
  EXPECT_EQ(demeaned->data.cells(), (std::vector<double>{-7.5, -5.5, 1.5, 11.5, -1, -3, 1, 3}));
  // With the factor and a constant: date 2's factor is constant, so that row is singular.
  auto fitted = eval(node(Op::Neutralize, data("sig"), list(data("fac")), true), ctx);
  ASSERT_TRUE(fitted.has_value()) << error_of(fitted);
  EXPECT_EQ(fitted->symbols, ctx.panels.at("sig").symbols);
  // Signal [1, 3, 10, 20] on [0, 1, 2, 3]: slope 6.4, intercept -1.1.
  const double want[] = {2.1, -2.3, -1.7, 1.9};
  for (std::size_t s = 0; s < 4; ++s) {
    EXPECT_NEAR(fitted->data(0, s), want[s], 1e-9);
    EXPECT_TRUE(std::isnan(fitted->data(1, s)));
  }
}

TEST(EvalIndustry, CallsTheGroupOperators) {
  const EvalContext ctx = context();
  for (bool add_const : {true, false}) {
    SCOPED_TRACE(add_const);
    auto got = eval(node(Op::NeutralizeIndustry, data("sig"), add_const), ctx);
    ASSERT_TRUE(got.has_value()) << error_of(got);
    EXPECT_EQ(got->data.cells(), (std::vector<double>{-1, 1, -5, 5, 1, -1, -1, 1}));
  }
  auto ranked = eval(node(Op::IndustryRank, data("sig"), none), ctx);
  ASSERT_TRUE(ranked.has_value());
  EXPECT_EQ(ranked->data.cells(), (std::vector<double>{0.5, 1, 0.5, 1, 1, 0.5, 0.5, 1}));

  auto tech_only = eval(node(Op::IndustryRank, data("sig"), std::vector<std::string>{"tech"}), ctx);
  ASSERT_TRUE(tech_only.has_value());
  EXPECT_TRUE(std::isnan(tech_only->data(0, 0)));
  EXPECT_EQ(tech_only->data(0, 3), 1.0);

  auto sums = eval(node(Op::GroupbyCategory, data("sig"), std::string("sum")), ctx);
  ASSERT_TRUE(sums.has_value());
  EXPECT_EQ(sums->symbols, (Symbols{"bank", "tech"}));
  EXPECT_EQ(sums->data.cells(), (std::vector<double>{4, 30, 6, 14}));

  EXPECT_EQ(error_of(eval(node(Op::GroupbyCategory, data("sig"), std::string("median")), ctx)),
            "eval error: bad groupby agg 'median'");
  EXPECT_EQ(error_of(eval(node(Op::IndustryRank, data("gone"), none), ctx)),
            "eval error: unknown series 'gone'");
}

TEST(EvalRebalance, MessagesAndOrder) {
  const EvalContext ctx = context();
  struct Case {
    const char* name;
    Expr expr;
    std::string error;
  };
  std::vector<Case> cases;
  cases.push_back({"neither", node(Op::Rebalance, data("sig"), none, none),
                   "eval error: Rebalance needs freq or on"});
  cases.push_back({"both: on not evaluated",
                   node(Op::Rebalance, data("sig"), std::string("W"), data("missing")),
                   "eval error: Rebalance takes either freq or on, not both"});
  cases.push_back({"of evaluated first",
                   node(Op::Rebalance, data("gone"), std::string("W"), data("missing")),
                   "eval error: unknown series 'gone'"});
  cases.push_back({"neither, of fails", node(Op::Rebalance, data("gone"), none, none),
                   "eval error: unknown series 'gone'"});
  cases.push_back({"bad freq", node(Op::Rebalance, data("sig"), std::string("M"), none),
                   "eval error: bad freq 'M'"});
  cases.push_back({"lower case", node(Op::Rebalance, data("sig"), std::string("w"), none),
                   "eval error: bad freq 'w'"});
  cases.push_back({"on fails", node(Op::Rebalance, data("sig"), none, data("missing")),
                   "eval error: unknown series 'missing'"});
  cases.push_back({"invalid date", node(Op::Rebalance, data("bad_dates"), std::string("ME"), none),
                   "eval error: invalid calendar date 20241399"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(eval(c.expr, ctx)), c.error);
  }
}

TEST(EvalRebalance, FreqAndOn) {
  const EvalContext ctx = context();
  auto yearly = eval(node(Op::Rebalance, data("sig"), std::string("YE"), none), ctx);
  ASSERT_TRUE(yearly.has_value()) << error_of(yearly);
  EXPECT_EQ(yearly->dates, Dates{20240103});
  EXPECT_EQ(yearly->data.cells(), (std::vector<double>{4, 2, 6, 8}));

  // Row 2 of `when` holds 0.5: only that date is kept.
  auto on = eval(node(Op::Rebalance, data("sig"), none, data("when")), ctx);
  ASSERT_TRUE(on.has_value()) << error_of(on);
  EXPECT_EQ(on->dates, Dates{20240103});
  EXPECT_EQ(on->data.cells(), (std::vector<double>{4, 2, 6, 8}));

  auto never = eval(node(Op::Rebalance, data("sig"), none, data("zeros")), ctx);
  ASSERT_TRUE(never.has_value());
  EXPECT_EQ(never->rows(), 0u);
  EXPECT_EQ(never->symbols, ctx.panels.at("sig").symbols);
}

TEST(EvalRebalance, OnCountsFiniteNonZeroValues) {
  EvalContext ctx = context();
  ctx.panels["when2"] = make({20240102, 20240103, 20240104, 20240105}, {"A"},
                             {-1, std::numeric_limits<double>::infinity(), -0.0, 2});
  auto got = eval(node(Op::Rebalance, data("sig"), none, data("when2")), ctx);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->dates, (Dates{20240102, 20240105}));
  EXPECT_TRUE(std::isnan(got->data(1, 0)));  // sig lacks 20240105
}

Expr hold(const char* entry, const char* exit, Field limit, Field rank, Field stop_loss,
          Field take_profit, Field trail, Field activation) {
  return node(Op::HoldUntil, data(entry), data(exit), std::move(limit), std::move(rank),
              std::move(stop_loss), std::move(take_profit), std::move(trail),
              std::move(activation));
}

TEST(EvalHoldUntil, OptionsAndCloseRequirement) {
  EvalContext ctx = context();
  struct Case {
    const char* name;
    Expr expr;
    std::string error;
  };
  std::vector<Case> cases;
  cases.push_back({"stop without close", hold("entry", "exit", none, none, 0.1, none, none, none),
                   "eval error: HoldUntil stops require a 'close' panel"});
  cases.push_back({"take profit without close",
                   hold("entry", "exit", none, none, none, 0.1, none, none),
                   "eval error: HoldUntil stops require a 'close' panel"});
  cases.push_back({"trail stop without close",
                   hold("entry", "exit", none, none, none, none, 0.1, none),
                   "eval error: HoldUntil stops require a 'close' panel"});
  cases.push_back({"rank evaluated before the close check",
                   hold("entry", "exit", none, data("norank"), 0.1, none, none, none),
                   "eval error: unknown series 'norank'"});
  cases.push_back({"exit before rank",
                   hold("entry", "noexit", none, data("norank"), none, none, none, none),
                   "eval error: unknown series 'noexit'"});
  cases.push_back(
      {"no stop", hold("entry", "exit", std::uint64_t{1}, none, none, none, none, none), "<ok>"});
  cases.push_back(
      {"activation alone", hold("entry", "exit", none, none, none, none, none, 0.3), "<ok>"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(eval(c.expr, ctx)), c.error);
  }

  // A "Close" panel is not "close".
  ctx.panels["Close"] = make({20240102, 20240103, 20240104}, {"A"}, {100, 100, 80});
  EXPECT_EQ(error_of(eval(hold("entry", "exit", none, none, 0.1, none, none, none), ctx)),
            "eval error: HoldUntil stops require a 'close' panel");

  // With a close panel the stop acts: A is held on dates 1 and 2 and stopped out on 3.
  ctx.panels["close"] = make({20240102, 20240103, 20240104}, {"A"}, {100, 100, 80});
  auto stopped = eval(hold("entry", "exit", none, none, 0.1, none, none, none), ctx);
  ASSERT_TRUE(stopped.has_value()) << error_of(stopped);
  EXPECT_EQ(stopped->data.cells(), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  auto unstopped = eval(hold("entry", "exit", none, none, none, none, none, none), ctx);
  ASSERT_TRUE(unstopped.has_value());
  EXPECT_EQ(unstopped->data.cells(), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(EvalHoldUntil, RankPrefersHigherScores) {
  EvalContext ctx = context();
  ctx.panels["enter_all"] = make({1, 2}, {"A", "B", "C"}, {0, 0, 0, 1, 1, 1});
  ctx.panels["no_exit"] = make({1, 2}, {"A", "B", "C"}, {0, 0, 0, 0, 0, 0});
  ctx.panels["score"] = make({2}, {"C", "B", "A"}, {20, 30, 10});
  auto got = eval(
      hold("enter_all", "no_exit", std::uint64_t{1}, data("score"), none, none, none, none), ctx);
  ASSERT_TRUE(got.has_value()) << error_of(got);
  EXPECT_EQ(got->data.cells(), (std::vector<double>{0, 0, 0, 0, 1, 0}));
}

// The same rows reached from the JSON form, with the reader's defaults filled in.
TEST(EvalGroups, FromJsonTrees) {
  EvalContext ctx = context();
  ctx.panels["close"] = make({20240102, 20240103, 20240104}, {"A"}, {100, 100, 80});
  struct Case {
    const char* json;
    std::string error;
    std::vector<double> want;
  } cases[] = {
      // add_const defaults to true: demeaning.
      {R"({"op": "Neutralize", "of": {"op": "Data", "name": "sig"}, "by": []})",
       "<ok>",
       {-7.5, -5.5, 1.5, 11.5, -1, -3, 1, 3}},
      {R"({"op": "Neutralize", "of": {"op": "Data", "name": "sig"}, "by": [],
           "add_const": false})",
       "<ok>",
       {1, 3, 10, 20, 4, 2, 6, 8}},
      {R"({"op": "GroupbyCategory", "of": {"op": "Data", "name": "sig"}, "agg": "mean"})",
       "<ok>",
       {2, 15, 3, 7}},
      {R"({"op": "Rebalance", "of": {"op": "Data", "name": "sig"}, "freq": "QE"})",
       "<ok>",
       {4, 2, 6, 8}},
      {R"({"op": "Rebalance", "of": {"op": "Data", "name": "sig"}, "freq": null, "on": null})",
       "eval error: Rebalance needs freq or on",
       {}},
      {R"({"op": "HoldUntil", "entry": {"op": "Data", "name": "entry"},
           "exit": {"op": "Data", "name": "exit"}, "stop_loss": 0.1, "nstocks_limit": null})",
       "<ok>",
       {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {R"({"op": "HoldUntil", "entry": {"op": "Data", "name": "entry"},
           "exit": {"op": "Data", "name": "exit"}, "stop_loss": null})",
       "<ok>",
       {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
      {R"({"op": "IndustryRank", "of": {"op": "Data", "name": "sig"}, "categories": ["bank"]})",
       "<ok>",
       {0.5, 1, nan, nan, 1, 0.5, nan, nan}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto expr = brindle::read_expr(c.json);
    ASSERT_TRUE(expr.has_value()) << expr.error();
    auto got = eval(*expr, ctx);
    ASSERT_EQ(error_of(got), c.error);
    if (!got) continue;
    const std::vector<double>& cells = got->data.cells();
    ASSERT_EQ(cells.size(), c.want.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (std::isnan(c.want[i])) {
        EXPECT_TRUE(std::isnan(cells[i])) << i;
      } else {
        EXPECT_EQ(cells[i], c.want[i]) << i;
      }
    }
  }
}

}  // namespace
}  // namespace korva
