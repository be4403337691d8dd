#include "core/calendar.hpp"

namespace korva {

namespace {

bool is_leap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

// 0 = Monday .. 6 = Sunday.
int weekday(std::int64_t days_since_epoch) {
  // 1970-01-01 was a Thursday (3).
  std::int64_t w = (days_since_epoch + 3) % 7;
  return static_cast<int>(w < 0 ? w + 7 : w);
}

int iso_weeks_in_year(int y) {
  // A year has 53 ISO weeks when it starts on a Thursday, or on a Wednesday in a leap year.
  const int jan1 = weekday(days_from_civil({y, 1, 1}));
  return jan1 == 3 || (jan1 == 2 && is_leap(y)) ? 53 : 52;
}

}  // namespace

std::optional<CivilDate> to_civil(std::int32_t yyyymmdd) {
  if (yyyymmdd < 0) return std::nullopt;
  const int y = yyyymmdd / 10000;
  const int m = (yyyymmdd / 100) % 100;
  const int d = yyyymmdd % 100;
  if (m < 1 || m > 12 || d < 1 || d > days_in_month(y, m)) return std::nullopt;
  return CivilDate{y, m, d};
}

std::int64_t days_from_civil(const CivilDate& date) {
  // Howard Hinnant's days_from_civil.
  std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (date.month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + date.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::optional<std::int64_t> days_between(std::int32_t from, std::int32_t to) {
  auto a = to_civil(from);
  auto b = to_civil(to);
  if (!a || !b) return std::nullopt;
  return days_from_civil(*b) - days_from_civil(*a);
}

IsoWeek iso_week(const CivilDate& d) {
  const std::int64_t days = days_from_civil(d);
  const int ordinal = static_cast<int>(days - days_from_civil({d.year, 1, 1})) + 1;
  const int wd = weekday(days) + 1;  // 1 = Monday .. 7 = Sunday
  int week = (ordinal - wd + 10) / 7;
  int year = d.year;
  if (week < 1) {
    year -= 1;
    week = iso_weeks_in_year(year);
  } else if (week > iso_weeks_in_year(year)) {
    year += 1;
    week = 1;
  }
  return {year, week};
}

}  // namespace korva
