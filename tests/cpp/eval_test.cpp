#include "core/eval.hpp"

#include <gtest/gtest.h>

#include "expr_builders.hpp"
#include "test_util.hpp"

namespace korva {
namespace {

using brindle::Expr;
using brindle::ExprPtr;
using brindle::Op;
using testing::constant;
using testing::data;
using testing::make_panel;
using testing::node;
using testing::ptr;
using testing::same_cells;
constexpr double N = kNaN;

class EvalTest : public ::testing::Test {
 protected:
  EvalTest() {
    ctx.panels.emplace("close", make_panel({1, 2, 3}, {"A", "B"}, {{1, 2}, {3, 0}, {N, -4}}));
    ctx.panels.emplace("x", make_panel({2, 3, 4}, {"B"}, {{10}, {20}, {30}}));
  }
  std::string error_of(const Expr& e) {
    auto r = eval(e, ctx);
    return r ? "<ok>" : r.error().display();
  }
  EvalContext ctx;
};

TEST_F(EvalTest, DataLeafIsAnIndependentCopy) {
  auto r = eval(node(Op::Add, data("close"), data("close")), ctx);
  ASSERT_TRUE(r);
  EXPECT_TRUE(same_cells(r->data, {{2, 4}, {6, 0}, {N, -8}}));
  EXPECT_TRUE(same_cells(ctx.panels.at("close").data, {{1, 2}, {3, 0}, {N, -4}}));
}

TEST_F(EvalTest, Errors) {
  struct Case {
    const char* name;
    ExprPtr expr;
    std::string message;
  };
  Case cases[] = {
      {"unknown series is case-sensitive", data("Close"), "eval error: unknown series 'Close'"},
      {"bare const at top", constant(2.0), "eval error: bare Const 2 not allowed at top level"},
      {"const under neg", ptr(node(Op::Neg, constant(0.5))),
       "eval error: bare Const 0.5 not allowed at top level"},
      {"const in and", ptr(node(Op::And, data("close"), constant(-3.25))),
       "eval error: bare Const -3.25 not allowed at top level"},
      {"const in mask", ptr(node(Op::Mask, data("close"), constant(1e21))),
       "eval error: bare Const 1000000000000000000000 not allowed at top level"},
      {"both const", ptr(node(Op::Gt, constant(1), constant(2))),
       "eval error: both operands of a binary op are Const"},
      {"both const wins over unknown", ptr(node(Op::Add, constant(1), constant(2))),
       "eval error: both operands of a binary op are Const"},
      {"left error first", ptr(node(Op::Add, data("nope"), data("other"))),
       "eval error: unknown series 'nope'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(*c.expr), c.message);
  }
}

TEST_F(EvalTest, ConstOperandsBecomeScalarsOnTheirSide) {
  auto lhs = eval(node(Op::Sub, constant(1), data("close")), ctx);
  auto rhs = eval(node(Op::Sub, data("close"), constant(1)), ctx);
  auto gt = eval(node(Op::Gt, data("close"), constant(0)), ctx);
  auto div = eval(node(Op::Div, data("close"), constant(0)), ctx);
  ASSERT_TRUE(lhs && rhs && gt && div);
  EXPECT_TRUE(same_cells(lhs->data, {{0, -1}, {-2, 1}, {N, 5}}));
  EXPECT_TRUE(same_cells(rhs->data, {{0, 1}, {2, -1}, {N, -5}}));
  EXPECT_TRUE(same_cells(gt->data, {{1, 1}, {1, 0}, {0, 0}}));
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_TRUE(same_cells(div->data, {{inf, inf}, {inf, N}, {N, -inf}}));
}

TEST_F(EvalTest, TwoPanelOperandsAlign) {
  auto r = eval(node(Op::Mul, data("close"), data("x")), ctx);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->dates, (Dates{1, 2, 3, 4}));
  EXPECT_EQ(r->symbols, (Symbols{"B"}));
  EXPECT_TRUE(same_cells(r->data, {{N}, {0}, {-80}, {N}}));
}

TEST_F(EvalTest, LogicAndUnaryRows) {
  auto cond = node(Op::Gt, data("close"), constant(1));
  auto r = eval(node(Op::Not, ptr(std::move(cond))), ctx);
  ASSERT_TRUE(r);
  EXPECT_TRUE(same_cells(r->data, {{1, 0}, {0, 1}, {1, 1}}));
  auto c = eval(node(Op::Ceil, ptr(node(Op::Neg, data("close")))), ctx);
  ASSERT_TRUE(c);
  EXPECT_TRUE(same_cells(c->data, {{-1, -2}, {-3, -0.0}, {N, 4}}));
}

TEST_F(EvalTest, ShiftRow) {
  auto zero = eval(node(Op::Shift, data("close"), std::uint64_t{0}), ctx);
  auto big = eval(node(Op::Shift, data("close"), std::uint64_t{3}), ctx);
  ASSERT_TRUE(zero && big);
  EXPECT_EQ(zero->dates, (Dates{1, 2, 3}));
  EXPECT_TRUE(same_cells(zero->data, {{1, 2}, {3, 0}, {N, -4}}));
  EXPECT_EQ(big->dates, (Dates{1, 2, 3}));
  EXPECT_TRUE(same_cells(big->data, {{N, N}, {N, N}, {N, N}}));
}

TEST(RenderConst, ShortestPositional) {
  struct Case {
    double v;
    const char* text;
  } cases[] = {{2.0, "2"},   {0.5, "0.5"},       {-3.25, "-3.25"}, {1e21, "1000000000000000000000"},
               {0.1, "0.1"}, {1e-7, "0.0000001"}};
  for (const auto& c : cases) EXPECT_EQ(render_const(c.v), c.text);
}

}  // namespace
}  // namespace korva
