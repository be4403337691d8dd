// Calendar dates written as YYYYMMDD integers (proleptic Gregorian calendar).
#pragma once

#include <cstdint>
#include <optional>

namespace korva {

struct CivilDate {
  int year;
  int month;  // 1..12
  int day;    // 1..31
};

struct IsoWeek {
  int year;  // ISO week-year
  int week;  // 1..53
};

// The date `yyyymmdd` denotes, or none when it is not a valid calendar date (month 13,
// 30 February, negative numbers, ...).
std::optional<CivilDate> to_civil(std::int32_t yyyymmdd);

// Days since 1970-01-01 (negative before).
std::int64_t days_from_civil(const CivilDate& d);

// Days from `from` to `to`, or none when either is not a valid calendar date.
std::optional<std::int64_t> days_between(std::int32_t from, std::int32_t to);

// ISO 8601 week-year and week number (weeks start on Monday; week 1 holds the first
// Thursday of the year).
IsoWeek iso_week(const CivilDate& d);

}  // namespace korva
