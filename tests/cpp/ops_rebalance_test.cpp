#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/ops/rebalance.hpp"

namespace korva::ops {
namespace {

constexpr double nan = kNaN;

Panel make(Dates dates, Symbols symbols, std::vector<double> cells) {
  const std::size_t r = dates.size(), c = symbols.size();
  return Panel{std::move(dates), std::move(symbols), Matrix(r, c, std::move(cells))};
}

// A one-symbol panel whose value on each row is the row index.
Panel indexed(Dates dates) {
  std::vector<double> cells(dates.size());
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = double(i);
  return make(std::move(dates), {"A"}, std::move(cells));
}

std::vector<double> column(const Panel& p) {
  std::vector<double> out;
  for (std::size_t r = 0; r < p.rows(); ++r) out.push_back(p.data(r, 0));
  return out;
}

TEST(PeriodCode, MapsExactNames) {
  struct Case {
    const char* text;
    std::optional<PeriodCode> want;
  } cases[] = {
      {"W", PeriodCode::Week},  {"ME", PeriodCode::Month}, {"QE", PeriodCode::Quarter},
      {"YE", PeriodCode::Year}, {"M", std::nullopt},       {"w", std::nullopt},
      {"me", std::nullopt},     {"", std::nullopt},        {"W ", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(period_code(c.text), c.want);
  }
  EXPECT_EQ(static_cast<int>(PeriodCode::Week), 0);
  EXPECT_EQ(static_cast<int>(PeriodCode::Year), 3);
}

TEST(PeriodKey, KeysByPeriod) {
  struct Case {
    std::int32_t date;
    PeriodCode code;
    std::optional<std::int64_t> want;
  } cases[] = {
      // Monday 30 December 2024 and Friday 3 January 2025 are in ISO week 1 of 2025.
      {20241230, PeriodCode::Week, 202501},
      {20250103, PeriodCode::Week, 202501},
      {20241229, PeriodCode::Week, 202452},  // Sunday
      // Sunday 3 January 2021 is still in week 53 of 2020.
      {20210103, PeriodCode::Week, 202053},
      {20210104, PeriodCode::Week, 202101},
      {20240101, PeriodCode::Week, 202401},  // a Monday
      {20240131, PeriodCode::Month, 202401},
      {20240229, PeriodCode::Month, 202402},
      {20240101, PeriodCode::Quarter, 20240},
      {20240331, PeriodCode::Quarter, 20240},
      {20240401, PeriodCode::Quarter, 20241},
      {20241231, PeriodCode::Quarter, 20243},
      {20241231, PeriodCode::Year, 2024},
      {20241399, PeriodCode::Month, std::nullopt},
      {20230229, PeriodCode::Year, std::nullopt},
      {20240431, PeriodCode::Week, std::nullopt},
      {20240100, PeriodCode::Quarter, std::nullopt},
      {-20240101, PeriodCode::Year, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    EXPECT_EQ(period_key(c.date, c.code), c.want);
  }
}

TEST(RebalanceFreq, KeepsTheLatestDateOfEachPeriod) {
  // Every calendar day from 2 January to 29 March 2024.
  Dates q1;
  for (int m = 1; m <= 3; ++m) {
    const int last = m == 1 ? 31 : m == 2 ? 29 : 29;
    for (int d = m == 1 ? 2 : 1; d <= last; ++d) q1.push_back(20240000 + m * 100 + d);
  }
  struct Case {
    const char* name;
    Dates dates;
    PeriodCode code;
    Dates want_dates;
    std::vector<double> want_values;  // the kept row indices
  } cases[] = {
      {"month ends", q1, PeriodCode::Month, {20240131, 20240229, 20240329}, {29, 58, 87}},
      {"quarter", q1, PeriodCode::Quarter, {20240329}, {87}},
      {"week across new year",
       {20241227, 20241230, 20250103, 20250106},
       PeriodCode::Week,
       {20241227, 20250103, 20250106},
       {0, 2, 3}},
      {"one date", {20240515}, PeriodCode::Quarter, {20240515}, {0}},
      {"no dates", {}, PeriodCode::Month, {}, {}},
      // Periods are grouped by key: March rows 0 and 2 collapse, as do January rows 1 and
      // 3; the kept rows are listed in row order.
      {"unsorted dates",
       {20240315, 20240105, 20240320, 20240110},
       PeriodCode::Month,
       {20240320, 20240110},
       {2, 3}},
      {"later row with earlier date", {20240320, 20240315}, PeriodCode::Year, {20240320}, {0}},
      {"equal dates keep the first", {20240105, 20240105}, PeriodCode::Week, {20240105}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = rebalance_freq(indexed(c.dates), c.code);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    EXPECT_EQ(got->dates, c.want_dates);
    EXPECT_EQ(got->symbols, Symbols{"A"});
    EXPECT_EQ(column(*got), c.want_values);
  }
}

TEST(RebalanceFreq, CopiesWholeRowsAndKeepsSymbols) {
  Panel p = make({20240102, 20240103}, {"A", "B", "C"}, {1, 2, 3, 4, nan, 6});
  auto got = rebalance_freq(p, PeriodCode::Week);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->symbols, p.symbols);
  EXPECT_EQ(got->dates, Dates{20240103});
  EXPECT_EQ(got->data(0, 0), 4);
  EXPECT_TRUE(std::isnan(got->data(0, 1)));
  EXPECT_EQ(got->data(0, 2), 6);

  Panel empty = make({}, {"A", "B"}, {});
  auto e = rebalance_freq(empty, PeriodCode::Year);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->rows(), 0u);
  EXPECT_EQ(e->symbols, empty.symbols);
}

TEST(RebalanceFreq, InvalidCalendarDateFails) {
  for (std::int32_t bad : {20241399, 20230229, 0}) {
    SCOPED_TRACE(bad);
    auto got = rebalance_freq(indexed({20240102, bad}), PeriodCode::Month);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().display(), "eval error: invalid calendar date " + std::to_string(bad));
  }
}

TEST(RebalanceDates, SelectsRequestedDates) {
  struct Case {
    const char* name;
    Dates panel_dates;
    Dates requested;
    std::vector<double> want;
  } cases[] = {
      {"subset", {1, 2, 3, 4}, {2, 4}, {1, 3}},
      {"missing date is NaN", {1, 2, 3}, {2, 9, 3}, {1, nan, 2}},
      {"order and repeats kept", {1, 2, 3}, {3, 1, 3}, {2, 0, 2}},
      {"repeated panel date: last row", {5, 6, 5}, {5}, {2}},
      {"no dates", {1, 2}, {}, {}},
      {"empty panel", {}, {1}, {nan}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Panel got = rebalance_dates(indexed(c.panel_dates), c.requested);
    EXPECT_EQ(got.dates, c.requested);
    EXPECT_EQ(got.symbols, Symbols{"A"});
    const std::vector<double> values = column(got);
    ASSERT_EQ(values.size(), c.want.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (std::isnan(c.want[i])) {
        EXPECT_TRUE(std::isnan(values[i]));
      } else {
        EXPECT_EQ(values[i], c.want[i]);
      }
    }
  }
}

}  // namespace
}  // namespace korva::ops
