#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/ops/grid.hpp"
#include "core/ops/neutralize.hpp"
#include "core/ops/rotation.hpp"

namespace korva::ops {
namespace {

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t r = dates.size(), c = symbols.size();
  return Panel{std::move(dates), std::move(symbols), Matrix(r, c, std::move(cells))};
}

TEST(GridMatrix, BorrowsOnlyWhenProjectionWouldBeTheIdentity) {
  struct Case {
    const char* name;
    Dates dates;
    Symbols symbols;
    Dates grid_dates;
    Symbols grid_symbols;
    bool borrowed;
  } cases[] = {
      {"same labels", {1, 2}, {"A", "B"}, {1, 2}, {"A", "B"}, true},
      {"unsorted but unique", {2, 1}, {"B", "A"}, {2, 1}, {"B", "A"}, true},
      {"repeated date", {1, 1}, {"A", "B"}, {1, 1}, {"A", "B"}, false},
      {"repeated symbol", {1, 2}, {"A", "A"}, {1, 2}, {"A", "A"}, false},
      {"other symbol order", {1, 2}, {"A", "B"}, {1, 2}, {"B", "A"}, false},
      {"other dates", {1, 2}, {"A", "B"}, {1, 3}, {"A", "B"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel p = make(c.dates, c.symbols, {1, 2, 3, 4});
    GridMatrix g(p, c.grid_dates, c.grid_symbols);
    EXPECT_EQ(g.borrowed(), c.borrowed);
    // Same cells as the projection, NaN included.
    const Matrix want = project_onto(p, c.grid_dates, c.grid_symbols);
    ASSERT_EQ(g.matrix().size(), want.size());
    EXPECT_EQ(std::memcmp(g.matrix().data(), want.data(), want.size() * sizeof(double)), 0);
  }
}

TEST(GridMatrix, RepeatedDatesReadTheLastRowInNeutralize) {
  // Both rows of `of` carry date 1, so both read the factor's last row for date 1, which
  // is constant: with the intercept the system is singular on both rows.
  Panel of = make({1, 1}, {"A", "B", "C"}, {1, 2, 3, 2, 4, 7});
  std::vector<Panel> factors{make({1, 1}, {"A", "B", "C"}, {1, 2, 3, 9, 9, 9})};
  Panel got = neutralize(of, factors, true);
  for (double v : got.data.cells()) EXPECT_TRUE(std::isnan(v));
}

TEST(GridMatrix, UnsortedSignalsAreAlignedInRotation) {
  // Identical labels with descending dates: the grid is still the ascending union.
  Panel entry = make({2, 1}, {"A"}, {0, 1});
  Panel exit = make({2, 1}, {"A"}, {1, 0});
  Panel got = hold_until(entry, exit, {});
  EXPECT_EQ(got.dates, (Dates{1, 2}));
  EXPECT_EQ(got.data.cells(), (std::vector<double>{1, 0}));
  // A repeated symbol in both panels: alignment reads each panel's last column of that
  // name for both columns.
  Panel e2 = make({1}, {"A", "A"}, {1, 0});
  Panel x2 = make({1}, {"A", "A"}, {0, 0});
  EXPECT_EQ(hold_until(e2, x2, {}).data.cells(), (std::vector<double>{0, 0}));
}

}  // namespace
}  // namespace korva::ops
