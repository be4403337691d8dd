#include "core/align.hpp"

#include <gtest/gtest.h>

#include "test_util.hpp"

namespace korva {
namespace {

using testing::make_panel;
using testing::same_cells;
constexpr double N = kNaN;

TEST(Align, DatesAreTheAscendingUnionAndMissingCellsNaN) {
  Panel a = make_panel({1, 2, 3}, {"X"}, {{10}, {20}, {30}});
  Panel b = make_panel({2, 3, 4}, {"X"}, {{200}, {300}, {400}});
  auto [a2, b2] = align(a, b);
  EXPECT_EQ(a2.dates, (Dates{1, 2, 3, 4}));
  EXPECT_EQ(b2.dates, a2.dates);
  EXPECT_TRUE(same_cells(a2.data, {{10}, {20}, {30}, {N}}));
  EXPECT_TRUE(same_cells(b2.data, {{N}, {200}, {300}, {400}}));
}

TEST(Align, SymbolsFollowTheFirstPanelRestrictedToTheSecond) {
  struct Case {
    Symbols a, b, expected;
  } cases[] = {
      {{"X", "Y", "Z"}, {"Z", "X"}, {"X", "Z"}},
      {{"Z", "X"}, {"X", "Y", "Z"}, {"Z", "X"}},
      {{"X", "Y"}, {"Q"}, {}},
      {{"X", "X"}, {"X"}, {"X", "X"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a.size());
    Panel a{{1}, c.a, Matrix(1, c.a.size(), 1.0)};
    Panel b{{1}, c.b, Matrix(1, c.b.size(), 2.0)};
    auto [a2, b2] = align(a, b);
    EXPECT_EQ(a2.symbols, c.expected);
    EXPECT_EQ(b2.symbols, c.expected);
    EXPECT_EQ(a2.data.cols(), c.expected.size());
    EXPECT_EQ(a2.dates, (Dates{1}));
  }
}

TEST(Align, ReordersUnsortedDatesAndLastRepeatWins) {
  Panel a = make_panel({3, 1, 2}, {"X"}, {{3}, {1}, {2}});
  auto [a2, b2] = align(a, a);
  EXPECT_EQ(a2.dates, (Dates{1, 2, 3}));
  EXPECT_TRUE(same_cells(a2.data, {{1}, {2}, {3}}));

  Panel rep = make_panel({5, 6, 5}, {"X"}, {{1}, {2}, {3}});
  auto [r2, unused] = align(rep, rep);
  EXPECT_EQ(r2.dates, (Dates{5, 6}));
  EXPECT_TRUE(same_cells(r2.data, {{3}, {2}}));
}

TEST(Align, RepeatedSymbolTakesTheLastColumn) {
  Panel a = make_panel({1}, {"X", "X"}, {{1, 2}});
  Panel b = make_panel({1}, {"X"}, {{9}});
  auto [a2, b2] = align(a, b);
  EXPECT_TRUE(same_cells(a2.data, {{2, 2}}));
  EXPECT_TRUE(same_cells(b2.data, {{9, 9}}));
}

TEST(Align, EmptySideBecomesNaNOverTheOtherDates) {
  Panel empty{{}, {"X"}, Matrix(0, 1)};
  Panel full = make_panel({1, 2}, {"X"}, {{1}, {2}});
  auto [e2, f2] = align(empty, full);
  EXPECT_EQ(e2.dates, (Dates{1, 2}));
  EXPECT_TRUE(same_cells(e2.data, {{N}, {N}}));
  EXPECT_TRUE(same_cells(f2.data, {{1}, {2}}));

  Panel no_symbols{{}, {}, Matrix(0, 0)};
  auto [n2, g2] = align(no_symbols, full);
  EXPECT_EQ(n2.dates, (Dates{1, 2}));
  EXPECT_EQ(n2.data.cols(), 0u);
  EXPECT_EQ(g2.data.cols(), 0u);
}

TEST(Project, FillsTargetLabelsFromThePanel) {
  Panel p = make_panel({1, 2}, {"A", "B"}, {{1, 2}, {3, 4}});
  Panel q = project(p, {2, 7}, {"B", "C", "A"});
  EXPECT_TRUE(same_cells(q.data, {{4, N, 3}, {N, N, N}}));
  EXPECT_EQ(q.symbols, (Symbols{"B", "C", "A"}));
}

}  // namespace
}  // namespace korva
