#include "core/ops/cross_section.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
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

namespace {

// A non-NaN value as an unsigned key with the same order: larger values get larger keys and
// equal values (0.0 and -0.0 included) equal keys. `descending` reverses the order.
std::uint64_t order_key(double v, bool descending) {
  if (v == 0.0) v = 0.0;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  const std::uint64_t key = bits >> 63 ? ~bits : bits | (std::uint64_t(1) << 63);
  return descending ? ~key : key;
}

struct Keyed {
  std::uint64_t key;
  std::size_t column;
};

// Stable least-significant-digit radix sort by key, 11 bits per pass. Being stable, it keeps
// equal keys in column order, which is the order of a stable sort by value. A pass whose
// digit is the same for every key is skipped.
void radix_sort(std::vector<Keyed>& items, std::vector<Keyed>& scratch) {
  constexpr unsigned kBits = 11;
  constexpr unsigned kPasses = 6;  // 6 * 11 >= 64
  constexpr std::size_t kBuckets = std::size_t(1) << kBits;
  std::array<std::array<std::uint32_t, kBuckets>, kPasses> counts{};
  for (const Keyed& it : items) {
    for (unsigned p = 0; p < kPasses; ++p) ++counts[p][(it.key >> (p * kBits)) & (kBuckets - 1)];
  }
  scratch.resize(items.size());
  for (unsigned p = 0; p < kPasses; ++p) {
    auto& c = counts[p];
    const unsigned shift = p * kBits;
    if (items.empty() || c[(items[0].key >> shift) & (kBuckets - 1)] == items.size()) continue;
    std::uint32_t sum = 0;
    for (auto& n : c) {
      const std::uint32_t here = n;
      n = sum;
      sum += here;
    }
    for (const Keyed& it : items) scratch[c[(it.key >> shift) & (kBuckets - 1)]++] = it;
    items.swap(scratch);
  }
}

}  // namespace

Panel rank_cs(const Panel& p, bool pct, bool ascending) {
  Panel out = p.like();
  const std::size_t m = p.cols();
  std::vector<Keyed> items;
  std::vector<Keyed> scratch;
  items.reserve(m);
  scratch.reserve(m);
  for (std::size_t t = 0; t < p.rows(); ++t) {
    const double* row = p.data.row(t);
    items.clear();
    for (std::size_t j = 0; j < m; ++j) {
      if (row[j] == row[j]) items.push_back({order_key(row[j], !ascending), j});
    }
    radix_sort(items, scratch);
    const double divisor = pct ? static_cast<double>(items.size()) : 1.0;
    double* o = out.data.row(t);
    for (std::size_t i = 0; i < items.size();) {
      std::size_t j = i + 1;
      while (j < items.size() && items[j].key == items[i].key) ++j;
      // The mean of the 1-based positions i + 1 to j.
      const double rank = static_cast<double>((i + 1) + j) / 2.0 / divisor;
      for (std::size_t g = i; g < j; ++g) o[items[g].column] = rank;
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
