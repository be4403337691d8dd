#include "core/bootstrap.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/matrix.hpp"
#include "core/metrics.hpp"

namespace korva {

namespace {

// Integer part of the square root, exact for every size.
std::size_t isqrt(std::size_t x) {
  auto r = static_cast<std::size_t>(std::sqrt(static_cast<double>(x)));
  while (r > 0 && r > x / r) --r;
  while ((r + 1) <= x / (r + 1)) ++r;
  return r;
}

}  // namespace

std::optional<BootstrapSummary> bootstrap(std::span<const std::int32_t> dates,
                                          std::span<const double> equity, std::size_t samples,
                                          std::size_t block, std::uint64_t seed) {
  const std::size_t n = equity.size();
  if (dates.size() != n || n < 3 || samples == 0) return std::nullopt;
  const std::size_t x = n - 1;
  std::vector<double> ret(x);
  for (std::size_t k = 0; k < x; ++k) ret[k] = equity[k + 1] / equity[k] - 1.0;
  const std::size_t len = block != 0 ? block : std::max<std::size_t>(1, isqrt(x));
  const double years = year_frac(dates.front(), dates.back());

  SplitMix64 rng(seed);
  // The sample count comes from user input unchecked; reserving up front only up to a
  // bound keeps an absurd count from failing the allocation before any work is done.
  constexpr std::size_t kReserveLimit = std::size_t{1} << 20;
  const std::size_t reserve = std::min(samples, kReserveLimit);
  std::vector<double> sharpes;
  std::vector<double> cagrs;
  std::vector<double> drawdowns;
  sharpes.reserve(reserve);
  cagrs.reserve(reserve);
  drawdowns.reserve(reserve);
  std::vector<double> path;
  path.reserve(n);
  std::vector<double> path_returns(x);
  for (std::size_t s = 0; s < samples; ++s) {
    path.assign(1, 1.0);
    while (path.size() < n) {
      const std::size_t start = static_cast<std::size_t>(rng.next() % x);
      for (std::size_t i = 0; i < len && path.size() < n; ++i) {
        path.push_back(path.back() * (1.0 + ret[(start + i) % x]));
      }
    }
    // sharpe() of the path, with the returns in a buffer reused across samples.
    for (std::size_t k = 0; k < x; ++k) path_returns[k] = path[k + 1] / path[k] - 1.0;
    sharpes.push_back(annualised_ratio(mean_std(path_returns)));
    cagrs.push_back(std::isnan(years) ? kNaN
                                      : std::pow(path.back() / path.front(), 1.0 / years) - 1.0);
    drawdowns.push_back(max_drawdown(path));
  }
  return BootstrapSummary{samples, len, ci(sharpes), ci(cagrs), ci(drawdowns)};
}

BootstrapCi ci(std::span<const double> values) {
  std::vector<double> kept;
  kept.reserve(values.size());
  for (double v : values) {
    if (!std::isnan(v)) kept.push_back(v);
  }
  if (kept.empty()) return {kNaN, kNaN, kNaN};
  std::stable_sort(kept.begin(), kept.end());
  const std::size_t last = kept.size() - 1;
  auto at = [&](double q) {
    const double pos = std::round(q * static_cast<double>(last));
    const std::size_t idx = pos > 0.0 ? static_cast<std::size_t>(pos) : 0;
    return kept[std::min(idx, last)];
  };
  return {at(0.05), at(0.5), at(0.95)};
}

json::Value to_json(const BootstrapCi& c) {
  json::Object o;
  o.insert("p05", json::Value(c.p05));
  o.insert("p50", json::Value(c.p50));
  o.insert("p95", json::Value(c.p95));
  return o;
}

json::Value to_json(const BootstrapSummary& s) {
  json::Object o;
  o.insert("n_samples", json::Value(static_cast<std::uint64_t>(s.n_samples)));
  o.insert("block_len", json::Value(static_cast<std::uint64_t>(s.block_len)));
  o.insert("sharpe", to_json(s.sharpe));
  o.insert("cagr", to_json(s.cagr));
  o.insert("max_drawdown", to_json(s.max_drawdown));
  return o;
}

}  // namespace korva
