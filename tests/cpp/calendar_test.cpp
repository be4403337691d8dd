#include "core/calendar.hpp"

#include <gtest/gtest.h>

namespace korva {
namespace {

TEST(ToCivil, ValidatesDates) {
  struct Case {
    std::int32_t date;
    bool valid;
  } cases[] = {
      {20240131, true},   {20240229, true},  {20230229, false}, {19000229, false}, {20000229, true},
      {20240431, false},  {20241301, false}, {20240001, false}, {20240100, false}, {20241231, true},
      {-20240101, false}, {0, false},        {101, true},  // 1 January of year 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    auto got = to_civil(c.date);
    ASSERT_EQ(got.has_value(), c.valid);
    if (!got) continue;
    EXPECT_EQ(got->year, c.date / 10000);
    EXPECT_EQ(got->month, c.date / 100 % 100);
    EXPECT_EQ(got->day, c.date % 100);
  }
}

TEST(DaysBetween, CountsCalendarDays) {
  struct Case {
    std::int32_t from, to;
    std::optional<std::int64_t> want;
  } cases[] = {
      {20240101, 20240101, 0},
      {20240101, 20250101, 366},
      {20230101, 20240101, 365},
      {20240301, 20240228, -2},
      {19700101, 20000101, 10957},
      {20240101, 20241399, std::nullopt},
      {20230229, 20240101, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    EXPECT_EQ(days_between(c.from, c.to), c.want);
  }
  EXPECT_EQ(days_from_civil({1970, 1, 1}), 0);
  EXPECT_EQ(days_from_civil({1969, 12, 31}), -1);
}

TEST(IsoWeek, AroundYearBoundaries) {
  struct Case {
    CivilDate date;
    int year, week;
  } cases[] = {
      {{2024, 12, 29}, 2024, 52},  // Sunday
      {{2024, 12, 30}, 2025, 1},   // Monday of week 1 of 2025
      {{2025, 1, 3}, 2025, 1},    {{2025, 1, 6}, 2025, 2},
      {{2020, 12, 31}, 2020, 53},  // 2020 has 53 weeks
      {{2021, 1, 3}, 2020, 53},   {{2021, 1, 4}, 2021, 1},
      {{2015, 12, 31}, 2015, 53},                           // a common year starting on Thursday
      {{2016, 1, 1}, 2015, 53},   {{2018, 1, 1}, 2018, 1},  // a Monday
      {{2019, 12, 30}, 2020, 1},  {{2024, 6, 15}, 2024, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date.year * 10000 + c.date.month * 100 + c.date.day);
    const IsoWeek w = iso_week(c.date);
    EXPECT_EQ(w.year, c.year);
    EXPECT_EQ(w.week, c.week);
  }
}

}  // namespace
}  // namespace korva
