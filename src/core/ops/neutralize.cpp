#include "core/ops/neutralize.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>
#include <optional>
#include <unordered_set>

#include "core/align.hpp"
#include "core/ops/grid.hpp"
#include "core/ops/linalg.hpp"

namespace korva::ops {

Matrix project_onto(const Panel& panel, const Dates& dates, const Symbols& symbols) {
  return project_cells(panel, dates, symbols);
}

namespace {

// Adds the usable symbols' products to the upper triangle of the k-by-k normal matrix `a`
// and to `b`: for each symbol in order, a[p][q] += x[p] * x[q] and b[p] += x[p] * y, where
// x is the symbol's design row (1.0 first when `add_const`, then the factor values). These
// are the sums of x'x and x'y over the design matrix's rows, in row order.
void accumulate_normal(std::span<const std::size_t> usable, const double* y,
                       std::span<const double* const> cols, bool add_const, std::size_t k,
                       double* a, double* b) {
  const std::size_t first = add_const ? 1 : 0;
  std::vector<double> x(k);
  if (add_const) x[0] = 1.0;
  for (std::size_t s : usable) {
    for (std::size_t f = 0; f + first < k; ++f) x[first + f] = cols[f][s];
    const double ys = y[s];
    for (std::size_t p = 0; p < k; ++p) {
      for (std::size_t q = p; q < k; ++q) a[p * k + q] += x[p] * x[q];
      b[p] += x[p] * ys;
    }
  }
}

// The same sums for a column count K known at compile time, in local accumulators that
// stay in registers. Each sum starts at 0.0 and adds the same products in the same order.
template <std::size_t K>
void accumulate_normal_fixed(std::span<const std::size_t> usable, const double* y,
                             std::span<const double* const> cols, bool add_const, double* a,
                             double* b) {
  double sa[K][K] = {};
  double sb[K] = {};
  double x[K] = {};
  const std::size_t first = add_const ? 1 : 0;
  if (add_const) x[0] = 1.0;
  for (std::size_t s : usable) {
    for (std::size_t f = 0; f + first < K; ++f) x[first + f] = cols[f][s];
    const double ys = y[s];
    for (std::size_t p = 0; p < K; ++p) {
      for (std::size_t q = p; q < K; ++q) sa[p][q] += x[p] * x[q];
      sb[p] += x[p] * ys;
    }
  }
  for (std::size_t p = 0; p < K; ++p) {
    for (std::size_t q = p; q < K; ++q) a[p * K + q] = sa[p][q];
    b[p] = sb[p];
  }
}

}  // namespace

Panel neutralize(const Panel& of, std::span<const Panel> factors, bool add_const) {
  const std::size_t t = of.rows();
  const std::size_t m = of.cols();
  const std::size_t nf = factors.size();
  const std::size_t k = nf + (add_const ? 1 : 0);
  Panel out = of.like();
  // A regression needs more usable symbols than factors; with no more symbols than factors
  // every row stays NaN. Returning here also keeps the k-by-k normal matrix no larger than
  // the factor panels themselves, however long the factor list.
  if (m <= nf) return out;

  // Aligning a factor with `of` and projecting the aligned panel back onto `of`'s grid
  // reads each cell from the factor's last row of that date and last column of that
  // symbol, which is exactly a direct projection onto `of`'s labels. A factor already on
  // that grid is read in place.
  std::deque<GridMatrix> fm;
  for (const Panel& f : factors) fm.emplace_back(f, of.dates, of.symbols);

  std::vector<unsigned char> ok(m);
  std::vector<std::size_t> usable;
  usable.reserve(m);
  std::vector<const double*> cols(nf);
  std::vector<double> a(k * k), b(k), coef(k);
  const std::size_t first = add_const ? 1 : 0;

  for (std::size_t d = 0; d < t; ++d) {
    const double* y = of.data.row(d);
    for (std::size_t s = 0; s < m; ++s) ok[s] = std::isfinite(y[s]);
    for (std::size_t f = 0; f < nf; ++f) {
      cols[f] = fm[f].row(d);
      const double* c = cols[f];
      for (std::size_t s = 0; s < m; ++s) ok[s] &= std::isfinite(c[s]);
    }
    usable.clear();
    for (std::size_t s = 0; s < m; ++s) {
      if (ok[s]) usable.push_back(s);
    }
    if (usable.size() <= nf) continue;
    double* res = out.data.row(d);
    if (k == 0) {
      for (std::size_t s : usable) res[s] = y[s];
      continue;
    }

    // Normal equations in one pass over the usable symbols; only the upper triangle is
    // accumulated, and x[p] * x[q] == x[q] * x[p], so mirroring it is exact.
    std::fill(a.begin(), a.end(), 0.0);
    std::fill(b.begin(), b.end(), 0.0);
    switch (k) {
      case 1:
        accumulate_normal_fixed<1>(usable, y, cols, add_const, a.data(), b.data());
        break;
      case 2:
        accumulate_normal_fixed<2>(usable, y, cols, add_const, a.data(), b.data());
        break;
      case 3:
        accumulate_normal_fixed<3>(usable, y, cols, add_const, a.data(), b.data());
        break;
      case 4:
        accumulate_normal_fixed<4>(usable, y, cols, add_const, a.data(), b.data());
        break;
      case 5:
        accumulate_normal_fixed<5>(usable, y, cols, add_const, a.data(), b.data());
        break;
      default:
        accumulate_normal(usable, y, cols, add_const, k, a.data(), b.data());
        break;
    }
    for (std::size_t p = 0; p < k; ++p) {
      for (std::size_t q = 0; q < p; ++q) a[p * k + q] = a[q * k + p];
    }
    if (!solve_normal(a, b, coef)) continue;

    for (std::size_t s : usable) {
      double fit = 0.0;
      if (add_const) fit += 1.0 * coef[0];
      for (std::size_t f = 0; f < nf; ++f) fit += cols[f][s] * coef[first + f];
      res[s] = y[s] - fit;
    }
  }
  return out;
}

namespace {

// Every column's industry as a dense id, ids numbered in order of first appearance over
// the columns; names[id] is the industry name.
struct IndustryIds {
  std::vector<std::string> names;
  std::vector<std::size_t> id;
};

IndustryIds industry_ids(const Symbols& symbols, const IndustryMap& industry) {
  IndustryIds out;
  out.id.reserve(symbols.size());
  std::unordered_map<std::string_view, std::size_t> seen;
  for (const std::string& s : symbols) {
    auto it = industry.find(s);
    const std::string_view name = it == industry.end() ? kOtherIndustry : it->second;
    auto [pos, inserted] = seen.try_emplace(name, out.names.size());
    if (inserted) out.names.emplace_back(name);
    out.id.push_back(pos->second);
  }
  return out;
}

enum class Agg { Mean, Sum, Std };

std::optional<Agg> parse_agg(std::string_view agg) {
  if (agg == "mean") return Agg::Mean;
  if (agg == "sum") return Agg::Sum;
  if (agg == "std") return Agg::Std;
  return std::nullopt;
}

double aggregate_values(Agg agg, std::span<const double> v) {
  double sum = 0.0;
  for (double x : v) sum += x;
  const double n = static_cast<double>(v.size());
  switch (agg) {
    case Agg::Sum:
      return sum;
    case Agg::Mean:
      return sum / n;
    case Agg::Std: {
      if (v.size() < 2) return kNaN;
      const double mean = sum / n;
      double ss = 0.0;
      for (double x : v) ss += (x - mean) * (x - mean);
      return std::sqrt(ss / (n - 1.0));
    }
  }
  return kNaN;
}

std::unexpected<EngineError> bad_agg(std::string_view agg) {
  return eval_error("bad groupby agg '" + std::string(agg) + "'");
}

}  // namespace

std::vector<IndustryGroup> group_cols_by_industry(const Symbols& symbols,
                                                  const IndustryMap& industry,
                                                  std::span<const std::size_t> columns) {
  std::vector<IndustryGroup> groups;
  std::unordered_map<std::string_view, std::size_t> where;
  for (std::size_t c : columns) {
    auto it = industry.find(symbols[c]);
    const std::string_view name = it == industry.end() ? kOtherIndustry : it->second;
    auto [pos, inserted] = where.try_emplace(name, groups.size());
    if (inserted) groups.push_back({std::string(name), {}});
    groups[pos->second].columns.push_back(c);
  }
  return groups;
}

Panel neutralize_industry(const Panel& of, const IndustryMap& industry) {
  const std::size_t m = of.cols();
  const IndustryIds ids = industry_ids(of.symbols, industry);
  const std::size_t g = ids.names.size();
  std::vector<double> sum(g), mean(g);
  std::vector<std::size_t> count(g);
  Panel out = of.like();
  for (std::size_t d = 0; d < of.rows(); ++d) {
    const double* row = of.data.row(d);
    std::fill(sum.begin(), sum.end(), 0.0);
    std::fill(count.begin(), count.end(), 0);
    std::size_t usable = 0, groups = 0;
    for (std::size_t s = 0; s < m; ++s) {
      if (!std::isfinite(row[s])) continue;
      const std::size_t i = ids.id[s];
      sum[i] += row[s];
      if (count[i]++ == 0) ++groups;
      ++usable;
    }
    if (usable < 2 || groups < 2) continue;
    for (std::size_t i = 0; i < g; ++i) {
      if (count[i] > 0) mean[i] = sum[i] / static_cast<double>(count[i]);
    }
    double* res = out.data.row(d);
    for (std::size_t s = 0; s < m; ++s) {
      if (std::isfinite(row[s])) res[s] = row[s] - mean[ids.id[s]];
    }
  }
  return out;
}

Panel industry_rank(const Panel& of, const IndustryMap& industry,
                    const std::vector<std::string>* categories) {
  const std::size_t m = of.cols();
  const IndustryIds ids = industry_ids(of.symbols, industry);
  const std::size_t g = ids.names.size();
  std::vector<unsigned char> ranked(g, 1);
  if (categories != nullptr) {
    const std::unordered_set<std::string_view> wanted(categories->begin(), categories->end());
    for (std::size_t i = 0; i < g; ++i) ranked[i] = wanted.contains(ids.names[i]);
  }
  // Per date, the ranked finite cells are bucketed by industry (a counting sort), then each
  // bucket is sorted by value and ranked by runs of equal values. Ties share one rank, so
  // their order within a run does not matter.
  struct Cell {
    double value;
    std::size_t col;
  };
  std::vector<std::size_t> start(g + 1), fill(g);
  std::vector<Cell> cells(m);
  Panel out = of.like();
  for (std::size_t d = 0; d < of.rows(); ++d) {
    const double* row = of.data.row(d);
    std::fill(start.begin(), start.end(), 0);
    for (std::size_t s = 0; s < m; ++s) {
      if (std::isfinite(row[s]) && ranked[ids.id[s]]) ++start[ids.id[s] + 1];
    }
    for (std::size_t i = 0; i < g; ++i) start[i + 1] += start[i];
    std::copy(start.begin(), start.begin() + g, fill.begin());
    for (std::size_t s = 0; s < m; ++s) {
      if (std::isfinite(row[s]) && ranked[ids.id[s]]) cells[fill[ids.id[s]]++] = {row[s], s};
    }
    double* res = out.data.row(d);
    for (std::size_t i = 0; i < g; ++i) {
      const auto first = cells.begin() + std::ptrdiff_t(start[i]);
      const auto last = cells.begin() + std::ptrdiff_t(start[i + 1]);
      std::sort(first, last, [](const Cell& l, const Cell& r) { return l.value < r.value; });
      const double c = static_cast<double>(last - first);
      for (auto it = first; it != last;) {
        auto run = it;
        while (run != last && run->value == it->value) ++run;
        const double t = static_cast<double>(it - first);
        const double e = static_cast<double>(run - it);
        const double rank = (t + (e + 1.0) / 2.0) / c;
        for (; it != run; ++it) res[it->col] = rank;
      }
    }
  }
  return out;
}

Result<double> aggregate(std::string_view agg, std::span<const double> values) {
  const std::optional<Agg> kind = parse_agg(agg);
  if (!kind) return bad_agg(agg);
  return aggregate_values(*kind, values);
}

Result<Panel> groupby_category(const Panel& of, const IndustryMap& industry, std::string_view agg) {
  const std::size_t m = of.cols();
  const IndustryIds ids = industry_ids(of.symbols, industry);
  const std::size_t g = ids.names.size();

  // Output columns in ascending byte order of the names.
  std::vector<std::size_t> by_name(g);
  std::iota(by_name.begin(), by_name.end(), 0);
  std::sort(by_name.begin(), by_name.end(),
            [&](std::size_t l, std::size_t r) { return ids.names[l] < ids.names[r]; });
  std::vector<std::size_t> out_col(g);
  Symbols names;
  names.reserve(g);
  for (std::size_t c = 0; c < g; ++c) {
    out_col[by_name[c]] = c;
    names.push_back(ids.names[by_name[c]]);
  }
  // Members of each output column, in symbol order.
  std::vector<std::vector<std::size_t>> members(g);
  for (std::size_t s = 0; s < m; ++s) members[out_col[ids.id[s]]].push_back(s);

  const std::optional<Agg> kind = parse_agg(agg);
  Matrix cells(of.rows(), g);
  std::vector<double> values;
  values.reserve(m);
  for (std::size_t d = 0; d < of.rows(); ++d) {
    const double* row = of.data.row(d);
    double* res = cells.row(d);
    for (std::size_t c = 0; c < g; ++c) {
      values.clear();
      for (std::size_t s : members[c]) {
        if (std::isfinite(row[s])) values.push_back(row[s]);
      }
      if (values.empty()) continue;
      if (!kind) return bad_agg(agg);
      res[c] = aggregate_values(*kind, values);
    }
  }
  return Panel::create(of.dates, std::move(names), std::move(cells));
}

}  // namespace korva::ops
