#include "core/align.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace korva {

namespace {

// For each target label, the index of the last occurrence of that label in `source`, or
// -1 when `source` lacks it.
template <typename Label, typename Key>
std::vector<std::ptrdiff_t> index_of(const std::vector<Label>& source,
                                     const std::vector<Label>& target) {
  std::unordered_map<Key, std::ptrdiff_t> where;
  where.reserve(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) where[Key(source[i])] = std::ptrdiff_t(i);
  std::vector<std::ptrdiff_t> out(target.size(), -1);
  for (std::size_t i = 0; i < target.size(); ++i) {
    auto it = where.find(Key(target[i]));
    if (it != where.end()) out[i] = it->second;
  }
  return out;
}

}  // namespace

Matrix project_cells(const Panel& p, const Dates& dates, const Symbols& symbols) {
  const auto rows = index_of<std::int32_t, std::int32_t>(p.dates, dates);
  const auto cols = index_of<std::string, std::string_view>(p.symbols, symbols);
  const std::size_t m = symbols.size();
  // When the target symbols are exactly p's columns in order, rows are copied whole.
  bool same_columns = m == p.cols();
  for (std::size_t j = 0; same_columns && j < m; ++j) same_columns = cols[j] == std::ptrdiff_t(j);

  // Every cell is written exactly once: from p, or NaN where p lacks the date or symbol.
  std::vector<double> cells(dates.size() * m);
  for (std::size_t i = 0; i < dates.size(); ++i) {
    double* dst = cells.data() + i * m;
    if (rows[i] < 0) {
      std::fill(dst, dst + m, kNaN);
      continue;
    }
    const double* src = p.data.row(std::size_t(rows[i]));
    if (same_columns) {
      std::copy(src, src + m, dst);
      continue;
    }
    for (std::size_t j = 0; j < m; ++j) dst[j] = cols[j] >= 0 ? src[cols[j]] : kNaN;
  }
  return Matrix(dates.size(), m, std::move(cells));
}

Panel project(const Panel& p, const Dates& dates, const Symbols& symbols) {
  return Panel{dates, symbols, project_cells(p, dates, symbols)};
}

std::pair<Dates, Symbols> aligned_labels(const Panel& a, const Panel& b) {
  Dates dates;
  dates.reserve(a.dates.size() + b.dates.size());
  dates.insert(dates.end(), a.dates.begin(), a.dates.end());
  dates.insert(dates.end(), b.dates.begin(), b.dates.end());
  std::sort(dates.begin(), dates.end());
  dates.erase(std::unique(dates.begin(), dates.end()), dates.end());

  const std::unordered_set<std::string_view> in_b(b.symbols.begin(), b.symbols.end());
  Symbols symbols;
  for (const auto& s : a.symbols) {
    if (in_b.contains(s)) symbols.push_back(s);
  }
  return {std::move(dates), std::move(symbols)};
}

std::pair<Panel, Panel> align(const Panel& a, const Panel& b) {
  auto [dates, symbols] = aligned_labels(a, b);
  return {project(a, dates, symbols), project(b, dates, symbols)};
}

}  // namespace korva
