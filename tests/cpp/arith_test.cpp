#include "core/ops/arith.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "test_util.hpp"

namespace korva::ops {
namespace {

using korva::testing::make_panel;
using korva::testing::same_cells;
using korva::testing::same_double;
constexpr double N = kNaN;
constexpr double Inf = std::numeric_limits<double>::infinity();

// One cell through each two-panel operation: a = [x], b = [y] on the same grid.
TEST(Elementwise, CellRules) {
  using Fn = Panel (*)(const Panel&, const Panel&);
  struct Case {
    const char* name;
    Fn fn;
    double x, y, expected;
  } cases[] = {
      {"gt 2 NaN", gt, 2.0, N, 0.0},      {"lt NaN 2", lt, N, 2.0, 0.0},
      {"ge NaN NaN", ge, N, N, 0.0},      {"le 1 1", le, 1.0, 1.0, 1.0},
      {"gt 3 2", gt, 3.0, 2.0, 1.0},      {"ge inf inf", ge, Inf, Inf, 1.0},
      {"div 1 0", div, 1.0, 0.0, Inf},    {"div -1 0", div, -1.0, 0.0, -Inf},
      {"div 0 0", div, 0.0, 0.0, N},      {"add NaN 1", add, N, 1.0, N},
      {"sub inf inf", sub, Inf, Inf, N},  {"mul 2 3", mul, 2.0, 3.0, 6.0},
      {"and 1 2", and_, 1.0, 2.0, 0.0},   {"and 1 1", and_, 1.0, 1.0, 1.0},
      {"and NaN 1", and_, N, 1.0, 0.0},   {"or NaN 1", or_, N, 1.0, 1.0},
      {"or NaN NaN", or_, N, N, 0.0},     {"or 0.5 0", or_, 0.5, 0.0, 0.0},
      {"mask by 1", mask, 5.0, 1.0, 5.0}, {"mask by 0", mask, 5.0, 0.0, N},
      {"mask by NaN", mask, 5.0, N, N},   {"mask by 0.999", mask, 5.0, 0.999, N},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel a = make_panel({1}, {"A"}, {{c.x}});
    Panel b = make_panel({1}, {"A"}, {{c.y}});
    EXPECT_TRUE(same_double(c.fn(a, b).data(0, 0), c.expected));
  }
}

TEST(Elementwise, UnaryRules) {
  struct Case {
    double x, neg, not_, ceil;
  } cases[] = {
      {N, N, 1.0, N},         {1.0, -1.0, 0.0, 1.0}, {0.0, -0.0, 1.0, 0.0}, {0.5, -0.5, 1.0, 1.0},
      {-0.5, 0.5, 1.0, -0.0}, {Inf, -Inf, 1.0, Inf}, {2.0, -2.0, 1.0, 2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.x);
    Panel p = make_panel({1}, {"A"}, {{c.x}});
    EXPECT_TRUE(same_double(neg(p).data(0, 0), c.neg));
    EXPECT_TRUE(same_double(not_(p).data(0, 0), c.not_));
    EXPECT_TRUE(same_double(ceil(p).data(0, 0), c.ceil));
  }
}

TEST(Elementwise, ScalarSides) {
  Panel p = make_panel({1, 2}, {"A"}, {{3.0}, {0.0}});
  EXPECT_TRUE(same_cells(scalar_lhs(p, 10.0, BinaryFn::Sub).data, {{7.0}, {10.0}}));
  EXPECT_TRUE(same_cells(scalar_rhs(p, 10.0, BinaryFn::Sub).data, {{-7.0}, {-10.0}}));
  EXPECT_TRUE(same_cells(scalar_lhs(p, 1.0, BinaryFn::Div).data, {{1.0 / 3.0}, {Inf}}));
  EXPECT_TRUE(same_cells(scalar_rhs(p, 0.0, BinaryFn::Gt).data, {{1.0}, {0.0}}));
  EXPECT_TRUE(same_cells(scalar_mul(p, 2.0).data, {{6.0}, {0.0}}));
  EXPECT_EQ(scalar_rhs(p, 1.0, BinaryFn::Add).dates, p.dates);
}

TEST(Elementwise, TwoPanelsMeetOnTheAlignedGrid) {
  Panel a = make_panel({1, 2}, {"X", "Y"}, {{1, 2}, {3, 4}});
  Panel b = make_panel({2, 3}, {"Y", "X", "Z"}, {{10, 20, 30}, {40, 50, 60}});
  Panel sum = add(a, b);
  EXPECT_EQ(sum.dates, (Dates{1, 2, 3}));
  EXPECT_EQ(sum.symbols, (Symbols{"X", "Y"}));
  EXPECT_TRUE(same_cells(sum.data, {{N, N}, {23, 14}, {N, N}}));
  EXPECT_TRUE(same_cells(gt(a, b).data, {{0, 0}, {0, 0}, {0, 0}}));
  EXPECT_EQ(add(b, a).symbols, (Symbols{"Y", "X"}));
  EXPECT_TRUE(same_cells(ewise(b, a, BinaryFn::Sub).data, {{N, N}, {6, 17}, {N, N}}));
}

}  // namespace
}  // namespace korva::ops
