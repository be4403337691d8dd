#include "core/ops/cross_section.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace korva::ops {

namespace {

struct Cell {
  std::size_t column;
  double value;
};

// The non-NaN cells of a row, in column order.
void collect(const double* row, std::size_t m, std::vector<Cell>& cells) {
  cells.clear();
  for (std::size_t j = 0; j < m; ++j) {
    if (row[j] == row[j]) cells.push_back({j, row[j]});
  }
}

// Orders by value (descending when `descending`), equal values by column. This is a strict
// total order on the cells of a row, so any sort with it yields exactly the order of a
// stable sort by value alone, without the stable sort's scratch buffer.
struct ByValueThenColumn {
  bool descending;
  bool operator()(const Cell& a, const Cell& b) const {
    if (a.value != b.value) return descending ? a.value > b.value : a.value < b.value;
    return a.column < b.column;
  }
};

}  // namespace

Panel rank_cs(const Panel& p, bool pct, bool ascending) {
  Panel out = p.like();
  const std::size_t m = p.cols();
  std::vector<Cell> cells;
  cells.reserve(m);
  for (std::size_t t = 0; t < p.rows(); ++t) {
    collect(p.data.row(t), m, cells);
    std::sort(cells.begin(), cells.end(), ByValueThenColumn{!ascending});
    const double divisor = pct ? static_cast<double>(cells.size()) : 1.0;
    double* o = out.data.row(t);
    for (std::size_t i = 0; i < cells.size();) {
      std::size_t j = i + 1;
      while (j < cells.size() && cells[j].value == cells[i].value) ++j;
      // The mean of the 1-based positions i + 1 to j.
      const double rank = static_cast<double>((i + 1) + j) / 2.0 / divisor;
      for (std::size_t g = i; g < j; ++g) o[cells[g].column] = rank;
      i = j;
    }
  }
  return out;
}

Panel top_n(const Panel& p, std::size_t n, bool largest) {
  Panel out = p.like(0.0);
  if (n == 0) return out;
  const std::size_t m = p.cols();
  std::vector<Cell> cells;
  cells.reserve(m);
  for (std::size_t t = 0; t < p.rows(); ++t) {
    collect(p.data.row(t), m, cells);
    auto chosen_end = cells.end();
    if (n < cells.size()) {
      // Only the set of the first n matters, not their order among themselves.
      chosen_end = cells.begin() + static_cast<std::ptrdiff_t>(n);
      std::nth_element(cells.begin(), chosen_end - 1, cells.end(), ByValueThenColumn{largest});
    }
    double* o = out.data.row(t);
    for (auto it = cells.begin(); it != chosen_end; ++it) o[it->column] = 1.0;
  }
  return out;
}

Panel normalize_row(const Panel& p) {
  Panel out = p.clone();
  const std::size_t m = p.cols();
  for (std::size_t t = 0; t < p.rows(); ++t) {
    double* r = out.data.row(t);
    double gross = 0.0;
    for (std::size_t j = 0; j < m; ++j) gross += r[j] == r[j] ? std::abs(r[j]) : 0.0;
    if (!(gross > 0.0)) continue;
    for (std::size_t j = 0; j < m; ++j) r[j] /= gross;
  }
  return out;
}

}  // namespace korva::ops
