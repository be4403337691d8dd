// Calendar rebalancing: thinning a panel to the dates on which the portfolio trades.
//
// rebalance_freq keeps, per calendar period (ISO week, month, quarter, year), the row with
// the latest date; rebalance_dates keeps an explicit list of dates. Rows in between are
// dropped; the backtest later reads their absence (NaN after alignment) as "keep the
// previous target".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/calendar.hpp"
#include "core/error.hpp"
#include "core/panel.hpp"

namespace korva::ops {

enum class PeriodCode : std::uint8_t { Week = 0, Month = 1, Quarter = 2, Year = 3 };

// "W", "ME", "QE", "YE" (exact, case-sensitive); none for any other text.
std::optional<PeriodCode> period_code(std::string_view freq);

// Key shared by all dates of one period and different between periods: ISO week-year * 100
// + ISO week, year * 100 + month, year * 10 + (month - 1) / 3, or the year.
std::int64_t period_key(const CivilDate& date, PeriodCode code);
// The key of a YYYYMMDD date; none when it is not a valid calendar date.
std::optional<std::int64_t> period_key(std::int32_t date, PeriodCode code);

// One row per period, the period's row with the latest date (the first of equal dates),
// rows in ascending order of their row index. Periods are grouped by key, not adjacency.
// Fails with "invalid calendar date {date}" for the first row whose date is not a valid
// calendar date.
Result<Panel> rebalance_freq(const Panel& panel, PeriodCode code);

// A panel whose dates are exactly `dates` (order and repeats kept): each row a copy of the
// panel's row of that date (the last one for a repeated date), or all NaN when it lacks it.
Panel rebalance_dates(const Panel& panel, std::span<const std::int32_t> dates);

}  // namespace korva::ops
