#include "core/ops/rebalance.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace korva::ops {

std::optional<PeriodCode> period_code(std::string_view freq) {
  if (freq == "W") return PeriodCode::Week;
  if (freq == "ME") return PeriodCode::Month;
  if (freq == "QE") return PeriodCode::Quarter;
  if (freq == "YE") return PeriodCode::Year;
  return std::nullopt;
}

std::int64_t period_key(const CivilDate& date, PeriodCode code) {
  switch (code) {
    case PeriodCode::Week: {
      const IsoWeek w = iso_week(date);
      return std::int64_t{w.year} * 100 + w.week;
    }
    case PeriodCode::Month:
      return std::int64_t{date.year} * 100 + date.month;
    case PeriodCode::Quarter:
      return std::int64_t{date.year} * 10 + (date.month - 1) / 3;
    case PeriodCode::Year:
      return date.year;
  }
  return date.year;
}

std::optional<std::int64_t> period_key(std::int32_t date, PeriodCode code) {
  const std::optional<CivilDate> civil = to_civil(date);
  if (!civil) return std::nullopt;
  return period_key(*civil, code);
}

Result<Panel> rebalance_freq(const Panel& panel, PeriodCode code) {
  std::unordered_map<std::int64_t, std::size_t> kept;  // period key -> row
  for (std::size_t r = 0; r < panel.rows(); ++r) {
    const std::int32_t date = panel.dates[r];
    const std::optional<std::int64_t> key = period_key(date, code);
    if (!key) return eval_error("invalid calendar date " + std::to_string(date));
    auto [it, inserted] = kept.try_emplace(*key, r);
    if (!inserted && date > panel.dates[it->second]) it->second = r;
  }
  std::vector<std::size_t> rows;
  rows.reserve(kept.size());
  for (const auto& [key, r] : kept) rows.push_back(r);
  std::sort(rows.begin(), rows.end());

  const std::size_t m = panel.cols();
  Panel out{{}, panel.symbols, Matrix(rows.size(), m)};
  out.dates.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out.dates.push_back(panel.dates[rows[i]]);
    std::copy_n(panel.data.row(rows[i]), m, out.data.row(i));
  }
  return out;
}

Panel rebalance_dates(const Panel& panel, std::span<const std::int32_t> dates) {
  std::unordered_map<std::int32_t, std::size_t> row_of;
  row_of.reserve(panel.rows());
  for (std::size_t r = 0; r < panel.rows(); ++r) row_of[panel.dates[r]] = r;

  const std::size_t m = panel.cols();
  Panel out{Dates(dates.begin(), dates.end()), panel.symbols, Matrix(dates.size(), m)};
  for (std::size_t i = 0; i < dates.size(); ++i) {
    auto it = row_of.find(dates[i]);
    if (it != row_of.end()) std::copy_n(panel.data.row(it->second), m, out.data.row(i));
  }
  return out;
}

}  // namespace korva::ops
