#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "core/ops/arith.hpp"
#include "core/ops/signals.hpp"
#include "series_test_util.hpp"
#include "test_util.hpp"

namespace korva::ops {
namespace {

using korva::testing::column;
using korva::testing::column_panel;
using korva::testing::make_panel;
using korva::testing::same_cells;
using korva::testing::same_column;
constexpr double N = kNaN;

TEST(Signals, EdgesAndShiftFalse) {
  using Fn = std::function<Panel(const Panel&)>;
  const Fn entry = is_entry;
  const Fn exit = is_exit;
  auto lag = [](std::size_t k) { return Fn([k](const Panel& p) { return shift_false(p, k); }); };
  struct Case {
    const char* name;
    Fn fn;
    std::vector<double> input;
    std::vector<double> expected;
  } cases[] = {
      {"is_entry", entry, {1, 1, 0, 1, N, 0}, {1, 0, 0, 1, 0, 0}},
      {"is_exit", exit, {1, 1, 0, 1, N, 0}, {0, 0, 1, 0, 1, 0}},
      {"shift_false(1)", lag(1), {1, 1, 0, 1, N, 0}, {0, 1, 1, 0, 1, 0}},
      {"0.5 is not true", entry, {0.5, 1}, {0, 1}},
      {"2 is not true", entry, {2, 1, 1}, {0, 1, 0}},
      {"exit from 1 to 2", exit, {1, 2}, {0, 1}},
      {"never an exit on the first row", exit, {0, 0}, {0, 0}},
      {"shift_false(0) reads a condition", lag(0), {1, 2, N, 0}, {1, 0, 0, 0}},
      {"shift_false(2)", lag(2), {1, 1, 0, 1}, {0, 0, 1, 1}},
      {"shift_false(rows)", lag(3), {1, 1, 1}, {0, 0, 0}},
      {"shift_false beyond", lag(9), {1, 1, 1}, {0, 0, 0}},
      {"shift_false largest count", lag(std::size_t(-1)), {1, 1}, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel in = column_panel(c.input);
    const Panel out = c.fn(in);
    EXPECT_EQ(out.dates, in.dates);
    EXPECT_TRUE(same_column(column(out.data, 0), c.expected));
  }
}

TEST(Signals, Sustain) {
  const std::vector<double> runs{1, 1, 1, 0, 1, 1, 1};
  struct Case {
    const char* name;
    std::size_t nwindow;
    std::optional<std::size_t> nsatisfy;
    std::vector<double> input;
    std::vector<double> expected;
  } cases[] = {
      {"sustain(3)", 3, std::nullopt, runs, {0, 0, 1, 0, 0, 0, 1}},
      {"sustain(3, 2)", 3, 2, runs, {0, 0, 1, 1, 1, 1, 1}},
      {"window longer than the panel", 5, std::nullopt, {1, 1, 1}, {0, 0, 0}},
      {"nsatisfy above nwindow", 2, 3, {1, 1, 1}, {0, 0, 0}},
      {"sustain(0)", 0, std::nullopt, {0, N, 1}, {1, 1, 1}},
      {"sustain(0, 1)", 0, 1, {1, 1, 1}, {0, 0, 0}},
      {"sustain(2, 0) from row 1", 2, 0, {0, 0, 0}, {0, 1, 1}},
      {"NaN and 2 never count", 1, std::nullopt, {1, N, 2, 1}, {1, 0, 0, 1}},
      {"window slides", 2, 2, {1, 1, N, 1, 1, 0}, {0, 1, 0, 0, 1, 0}},
      {"largest window", std::size_t(-1), 0, {1, 1}, {0, 0}},
      {"largest nsatisfy", 1, std::size_t(-1), {1, 1}, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Panel out = sustain(column_panel(c.input), c.nwindow, c.nsatisfy);
    EXPECT_TRUE(same_column(column(out.data, 0), c.expected));
  }
}

TEST(Signals, ColumnsAreIndependent) {
  const Panel p = make_panel({1, 2, 3}, {"A", "B"}, {{1, 0}, {0, 1}, {1, 1}});
  EXPECT_TRUE(same_cells(is_entry(p).data, {{1, 0}, {0, 1}, {1, 0}}));
  EXPECT_TRUE(same_cells(is_exit(p).data, {{0, 0}, {1, 0}, {0, 0}}));
  EXPECT_TRUE(same_cells(sustain(p, 2, 1).data, {{0, 0}, {1, 1}, {1, 1}}));
}

// Edges are built from the two-panel `and`, so they come back in ascending date order and
// read a repeated symbol from its last column.
TEST(Signals, EdgesFollowAlignment) {
  const Panel unsorted = make_panel({3, 1, 2}, {"A"}, {{1}, {0}, {1}});
  // Lagged in row order: [0, 1, 0]; the rows of dates 1, 2, 3 are rows 1, 2, 0.
  const Panel entry = is_entry(unsorted);
  EXPECT_EQ(entry.dates, (Dates{1, 2, 3}));
  EXPECT_TRUE(same_cells(entry.data, {{0}, {1}, {1}}));
  EXPECT_TRUE(same_cells(is_exit(unsorted).data, {{1}, {0}, {0}}));
  // shift_false and sustain keep the row order.
  EXPECT_EQ(shift_false(unsorted, 1).dates, unsorted.dates);
  EXPECT_EQ(sustain(unsorted, 1, std::nullopt).dates, unsorted.dates);

  const Panel repeated = make_panel({1, 2}, {"X", "X"}, {{1, 0}, {1, 1}});
  const Panel r = is_entry(repeated);
  EXPECT_EQ(r.symbols, (Symbols{"X", "X"}));
  EXPECT_TRUE(same_cells(r.data, {{0, 0}, {1, 1}}));
}

TEST(Signals, DirectEdgesEqualTheComposition) {
  Panel p = korva::testing::random_panel(50, 5, 23);
  // A condition panel with true, false, missing and non-boolean cells.
  for (double& x : p.data.cells()) {
    if (!std::isnan(x))
      x = std::fmod(std::floor(x), 4.0) == 0.0 ? 2.0 : std::fmod(std::floor(x), 2.0);
  }
  const Panel prev = shift_false(p, 1);
  const Panel want_entry = and_(p, not_(prev));
  const Panel want_exit = and_(not_(p.clone()), prev);
  const Panel got_entry = is_entry(p);
  const Panel got_exit = is_exit(p);
  for (std::size_t j = 0; j < p.cols(); ++j) {
    EXPECT_TRUE(same_column(column(got_entry.data, j), column(want_entry.data, j)));
    EXPECT_TRUE(same_column(column(got_exit.data, j), column(want_exit.data, j)));
  }
  EXPECT_EQ(got_entry.dates, want_entry.dates);
  EXPECT_EQ(got_entry.symbols, want_entry.symbols);
  EXPECT_EQ(got_exit.dates, want_exit.dates);
  EXPECT_EQ(got_exit.symbols, want_exit.symbols);
}

TEST(Signals, EmptyPanels) {
  const Panel none = make_panel({}, {"A"}, {});
  EXPECT_EQ(is_entry(none).data.rows(), 0u);
  EXPECT_EQ(is_exit(none).data.rows(), 0u);
  EXPECT_EQ(sustain(none, 0, std::nullopt).data.rows(), 0u);
  EXPECT_EQ(shift_false(none, 0).data.rows(), 0u);
}

}  // namespace
}  // namespace korva::ops
