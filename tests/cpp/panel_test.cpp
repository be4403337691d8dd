#include "core/panel.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace korva {
namespace {

TEST(PanelCreate, AcceptsEmptyPanel) {
  auto p = Panel::create({}, {}, Matrix(0, 0));
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->rows(), 0u);
}

TEST(PanelCreate, ShapeMismatchCarriesDatesSymbolsAndCells) {
  struct Case {
    std::size_t rows, cols;
    std::size_t cells;
  } cases[] = {{3, 3, 9}, {2, 4, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rows);
    auto p = Panel::create({1, 2}, {"A", "B", "C"}, Matrix(c.rows, c.cols));
    ASSERT_FALSE(p.has_value());
    ASSERT_TRUE(p.error().is_shape_mismatch());
    EXPECT_EQ(p.error().shape_mismatch().dates, 2u);
    EXPECT_EQ(p.error().shape_mismatch().symbols, 3u);
    EXPECT_EQ(p.error().shape_mismatch().elements, c.cells);
  }
  auto p = Panel::create({1, 2, 3}, {"A", "B"}, Matrix(4, 2));
  EXPECT_EQ(p.error().display(), "shape mismatch: 3x2 != data len 8");
}

TEST(PanelShift, MovesRowsDownAndFillsNaN) {
  Panel p{{3, 1, 2}, {"A"}, Matrix(3, 1, std::vector<double>{1, 2, 3})};
  EXPECT_EQ(p.shift(0), p);
  Panel s = p.shift(2);
  EXPECT_EQ(s.dates, p.dates);
  EXPECT_TRUE(std::isnan(s.data(0, 0)));
  EXPECT_TRUE(std::isnan(s.data(1, 0)));
  EXPECT_EQ(s.data(2, 0), 1.0);
  Panel all = p.shift(3);
  for (double x : all.data.cells()) EXPECT_TRUE(std::isnan(x));
  Panel one{{1}, {"A"}, Matrix(1, 1, 5.0)};
  EXPECT_TRUE(std::isnan(one.shift(1).data(0, 0)));
}

}  // namespace
}  // namespace korva
