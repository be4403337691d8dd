#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/ops/cross_section.hpp"
#include "series_test_util.hpp"
#include "test_util.hpp"

namespace korva::ops {
namespace {

using korva::testing::kInf;
using korva::testing::make_panel;
using korva::testing::same_column;
constexpr double N = kNaN;

std::vector<double> row_of(const Panel& p, std::size_t t) {
  return std::vector<double>(p.data.row(t), p.data.row(t) + p.cols());
}

Panel one_row(const std::vector<double>& values) {
  Symbols symbols;
  for (std::size_t j = 0; j < values.size(); ++j) symbols.push_back("S" + std::to_string(j));
  return make_panel({1}, symbols, {values});
}

TEST(RankCs, RanksTiesAndDirections) {
  struct Case {
    const char* name;
    bool pct, ascending;
    std::vector<double> row;
    std::vector<double> expected;
  } cases[] = {
      {"pct ascending", true, true, {3, 1, N, 2}, {1.0, 1.0 / 3.0, N, 2.0 / 3.0}},
      {"plain ascending", false, true, {3, 1, N, 2}, {3, 1, N, 2}},
      {"plain descending", false, false, {3, 1, N, 2}, {1, 3, N, 2}},
      {"pct descending", true, false, {3, 1, N, 2}, {1.0 / 3.0, 1.0, N, 2.0 / 3.0}},
      {"ties share the mean rank", false, true, {5, 5, 1}, {2.5, 2.5, 1}},
      {"ties with pct", true, true, {5, 5, 1}, {5.0 / 6.0, 5.0 / 6.0, 1.0 / 3.0}},
      {"three-way tie", false, false, {2, 7, 2, 2}, {3, 1, 3, 3}},
      {"single value", true, true, {N, 7}, {N, 1}},
      {"no values", true, true, {N, N}, {N, N}},
      {"infinities rank like values", false, true, {kInf, 1, kInf, -kInf}, {3.5, 2, 3.5, 1}},
      {"signed zeros tie", false, true, {0.0, -0.0}, {1.5, 1.5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel out = rank_cs(one_row(c.row), c.pct, c.ascending);
    EXPECT_TRUE(same_column(row_of(out, 0), c.expected));
  }
}

TEST(TopN, SelectsWithTiesToTheLowerColumn) {
  struct Case {
    const char* name;
    std::size_t n;
    bool largest;
    std::vector<double> row;
    std::vector<double> expected;
  } cases[] = {
      {"largest 2", 2, true, {4, 9, 4, N}, {1, 1, 0, 0}},
      {"smallest 2", 2, false, {4, 9, 4, N}, {1, 0, 1, 0}},
      {"fewer values than n", 3, true, {1, N}, {1, 0}},
      {"n = 0", 0, true, {1, 2}, {0, 0}},
      {"all tied", 2, true, {1, 1, 1, 1}, {1, 1, 0, 0}},
      {"tie at the cut", 2, false, {3, 3, 3, 1}, {1, 0, 0, 1}},
      {"infinity wins", 1, true, {1e300, kInf, 5}, {0, 1, 0}},
      {"no values", 2, true, {N, N}, {0, 0}},
      {"largest count takes every value", std::size_t(-1), false, {3, N, -kInf}, {1, 0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel out = top_n(one_row(c.row), c.n, c.largest);
    EXPECT_TRUE(same_column(row_of(out, 0), c.expected));
  }
}

// Wide rows with many ties, against a stable sort by value alone.
TEST(CrossSection, WideRowsFollowTheStableOrder) {
  std::mt19937_64 rng(5);
  // Few distinct values, so ties are common, spread over signs and magnitudes.
  const double values[] = {N, -kInf, -1e300, -2.5, -0.0, 0.0, 1e-300, 3, 3.5, 1e300, kInf};
  std::uniform_int_distribution<int> pick(0, std::size(values) - 1);
  for (std::size_t width : {1, 5, 20, 21, 64, 3000}) {
    SCOPED_TRACE(width);
    std::vector<double> row(width);
    for (double& x : row) x = values[pick(rng)];
    const Panel p = one_row(row);
    for (bool descending : {false, true}) {
      std::vector<std::size_t> order;
      for (std::size_t j = 0; j < width; ++j) {
        if (!std::isnan(row[j])) order.push_back(j);
      }
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return descending ? row[a] > row[b] : row[a] < row[b];
      });
      std::vector<double> ranks(width, N);
      for (std::size_t i = 0; i < order.size(); ++i) {
        std::size_t lo = i, hi = i;
        while (lo > 0 && row[order[lo - 1]] == row[order[i]]) --lo;
        while (hi + 1 < order.size() && row[order[hi + 1]] == row[order[i]]) ++hi;
        ranks[order[i]] = double(lo + 1 + hi + 1) / 2.0 / double(order.size());
      }
      EXPECT_TRUE(same_column(row_of(rank_cs(p, true, !descending), 0), ranks));
      for (std::size_t n : {std::size_t(0), std::size_t(1), width / 2, width, width + 1}) {
        std::vector<double> chosen(width, 0.0);
        for (std::size_t i = 0; i < std::min(n, order.size()); ++i) chosen[order[i]] = 1.0;
        EXPECT_TRUE(same_column(row_of(top_n(p, n, descending), 0), chosen));
      }
    }
  }
}

TEST(NormalizeRow, GrossWeightOfOne) {
  struct Case {
    const char* name;
    std::vector<double> row;
    std::vector<double> expected;
  } cases[] = {
      {"mixed signs", {2, -2, N, 4}, {0.25, -0.25, N, 0.5}},
      {"zeros unchanged", {0, 0}, {0, 0}},
      {"signed zeros unchanged", {-0.0, 0}, {-0.0, 0}},
      {"no values", {N, N}, {N, N}},
      {"infinity makes the gross infinite", {kInf, 1, N}, {N, 0, N}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel out = normalize_row(one_row(c.row));
    EXPECT_TRUE(same_column(row_of(out, 0), c.expected));
  }
}

TEST(CrossSection, RowsAreIndependentAndLabelsKept) {
  const Panel p = make_panel({5, 3}, {"A", "B", "C"}, {{1, 2, 3}, {N, 9, -1}});
  const Panel r = rank_cs(p, false, true);
  EXPECT_EQ(r.dates, p.dates);
  EXPECT_EQ(r.symbols, p.symbols);
  EXPECT_TRUE(korva::testing::same_cells(r.data, {{1, 2, 3}, {N, 2, 1}}));
  EXPECT_TRUE(korva::testing::same_cells(top_n(p, 1, true).data, {{0, 0, 1}, {0, 1, 0}}));
  EXPECT_TRUE(korva::testing::same_cells(normalize_row(p).data,
                                         {{1.0 / 6.0, 2.0 / 6.0, 3.0 / 6.0}, {N, 0.9, -0.1}}));
  const Panel empty = make_panel({}, {"A"}, {});
  EXPECT_EQ(rank_cs(empty, true, true).data.rows(), 0u);
  EXPECT_EQ(top_n(empty, 2, true).data.rows(), 0u);
  EXPECT_EQ(normalize_row(empty).data.rows(), 0u);
}

}  // namespace
}  // namespace korva::ops
