// Cross-sectional neutralization: per-date least-squares residuals against factor panels,
// and the industry-group operators (demeaning, ranking and aggregation within industries).
//
// All of them work date by date across the symbols of one row. Results carry the signal's
// dates and symbols (groupby_category: one column per industry) and start as all NaN; a
// cell that no computation writes stays NaN.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/error.hpp"
#include "core/matrix.hpp"
#include "core/panel.hpp"

namespace korva::ops {

// Symbol to industry name.
using IndustryMap = std::unordered_map<std::string, std::string>;

// The industry of a symbol the map does not contain ("other" in Chinese, UTF-8). It groups,
// ranks, filters and names output columns like any real industry.
inline constexpr std::string_view kOtherIndustry = "\xE5\x85\xB6\xE4\xBB\x96";

// The dates x symbols matrix of `panel`'s values at those labels: NaN where the panel lacks
// the date or the symbol; for a repeated date or symbol of the panel the last one wins.
Matrix project_onto(const Panel& panel, const Dates& dates, const Symbols& symbols);

// Residuals of regressing `of`'s cross-section on the factors' cross-sections, date by
// date. Each factor is first brought onto `of`'s grid. On a date, the usable symbols are
// those whose signal and factor values are all finite; with u usable symbols and k factors
// the row is NaN when u <= k or when the normal matrix is singular. The design columns are
// the constant 1.0 (when `add_const`) and then the factors in order; with no column at all
// the residual is the usable value itself.
Panel neutralize(const Panel& of, std::span<const Panel> factors, bool add_const);

struct IndustryGroup {
  std::string name;
  std::vector<std::size_t> columns;
  friend bool operator==(const IndustryGroup&, const IndustryGroup&) = default;
};

// Groups the given column indices by the industry of their symbol: groups in order of the
// first appearance of their industry among `columns`, members in the given order.
std::vector<IndustryGroup> group_cols_by_industry(const Symbols& symbols,
                                                  const IndustryMap& industry,
                                                  std::span<const std::size_t> columns);

// Each finite value minus the mean of the finite values of its industry on that date. A
// row stays NaN with fewer than two finite values or when they all share one industry.
Panel neutralize_industry(const Panel& of, const IndustryMap& industry);

// Rank of each finite value within its industry on that date: (t + (e + 1) / 2) / c for a
// group of c members, t of them smaller and e equal (itself included), so ranks run from
// 1/c to 1.0 and ties share the mean position. With `categories`, only industries named in
// it are ranked (an empty list ranks nothing); other cells stay NaN.
Panel industry_rank(const Panel& of, const IndustryMap& industry,
                    const std::vector<std::string>* categories);

// One column per industry of `of`'s symbols (names in ascending byte order), each cell the
// aggregate of the members' finite values on that date, NaN when there are none. Fails with
// "bad groupby agg '{agg}'" for an unknown `agg`, but only when some cell has a value.
Result<Panel> groupby_category(const Panel& of, const IndustryMap& industry, std::string_view agg);

// "mean", "sum" or "std" (sample deviation, NaN for one value) of a non-empty list of
// finite values; any other name fails with "bad groupby agg '{agg}'".
Result<double> aggregate(std::string_view agg, std::span<const double> values);

}  // namespace korva::ops
