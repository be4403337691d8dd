// Times the backtest engine on a synthetic 5040 dates x 3000 symbols panel (twenty years
// of a broad universe) against one plain pass that sums every cell of the same weight and
// price matrices, measured in the same run.
#include "core/backtest.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using korva::Matrix;
using korva::Panel;

constexpr std::size_t kDates = 5040;
constexpr std::size_t kSymbols = 3000;

// Small deterministic generator so every run sees the same data.
struct Lcg {
  std::uint64_t s = 0x2545F4914F6CDD1Dull;
  double uniform() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) * (1.0 / 9007199254740992.0);
  }
};

Panel labelled(Matrix data) {
  Panel p;
  p.dates.resize(kDates);
  for (std::size_t i = 0; i < kDates; ++i) {
    // Calendar-valid dates: 12 months of 21 dates each per year.
    const auto year = static_cast<std::int32_t>(2000 + i / 252);
    const auto month = static_cast<std::int32_t>(1 + (i % 252) / 21);
    const auto day = static_cast<std::int32_t>(1 + i % 21);
    p.dates[i] = year * 10000 + month * 100 + day;
  }
  p.symbols.resize(kSymbols);
  for (std::size_t j = 0; j < kSymbols; ++j) {
    char name[24];
    std::snprintf(name, sizeof name, "S%zu", j);
    p.symbols[j] = name;
  }
  p.data = std::move(data);
  return p;
}

template <typename F>
double seconds(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(t1 - t0).count();
}

}  // namespace

int main() {
  Lcg rng;
  Matrix prices(kDates, kSymbols);
  Matrix high(kDates, kSymbols);
  Matrix low(kDates, kSymbols);
  Matrix volume(kDates, kSymbols);
  Matrix weights(kDates, kSymbols, korva::kNaN);
  for (std::size_t j = 0; j < kSymbols; ++j) prices(0, j) = 10.0 + 90.0 * rng.uniform();
  for (std::size_t i = 0; i < kDates; ++i) {
    for (std::size_t j = 0; j < kSymbols; ++j) {
      if (i > 0) prices(i, j) = prices(i - 1, j) * (1.0 + 0.02 * (rng.uniform() - 0.5));
      high(i, j) = prices(i, j) * (1.0 + 0.01 * rng.uniform());
      low(i, j) = prices(i, j) * (1.0 - 0.01 * rng.uniform());
      volume(i, j) = 1e5 + 1e6 * rng.uniform();
    }
    // Monthly rebalance into about 100 names; the other dates carry NaN (hold).
    if (i % 21 == 0) {
      for (std::size_t j = 0; j < kSymbols; ++j) {
        weights(i, j) = rng.uniform() < 1.0 / 30.0 ? 0.01 : 0.0;
      }
    }
  }
  // A few symbols stop trading for good, so delisting is exercised.
  for (std::size_t j = 0; j < kSymbols; j += 97) {
    for (std::size_t i = kDates / 2; i < kDates; ++i) prices(i, j) = korva::kNaN;
  }
  const Panel w = labelled(std::move(weights));
  const Panel p = labelled(std::move(prices));
  const Panel h = labelled(std::move(high));
  const Panel l = labelled(std::move(low));
  const Panel v = labelled(std::move(volume));

  double checksum = 0.0;
  const double plain = seconds([&] {
    for (const Panel* m : {&w, &p}) {
      const double* cells = m->data.data();
      double sum = 0.0;
      for (std::size_t k = 0, n = m->data.size(); k < n; ++k) sum += cells[k];
      checksum += sum;
    }
  });

  korva::BacktestConfig basic;
  basic.fee_ratio = 0.001;
  basic.tax_ratio = 0.001;
  basic.slippage_ratio = 0.0005;
  korva::BacktestConfig full = basic;
  full.position_limit = 0.05;
  full.initial_capital = 1e7;
  full.max_participation = 0.1;
  full.impact_coef = 0.1;
  full.delist_after = 5;
  full.delist_haircut = 0.3;

  korva::BacktestRun r1;
  const double t_basic = seconds([&] { r1 = korva::run(w, p, nullptr, nullptr, nullptr, basic); });
  korva::BacktestRun r2;
  const double t_full = seconds([&] { r2 = korva::run(w, p, &h, &l, &v, full); });

  std::printf("grid %zu dates x %zu symbols (checksum %.3g)\n", kDates, kSymbols, checksum);
  std::printf("plain pass (sum of weights and prices): %8.3f s\n", plain);
  std::printf("backtest, costs only:                   %8.3f s  (%.1fx plain pass)\n", t_basic,
              t_basic / plain);
  std::printf("backtest, every feature, high/low/volume: %6.3f s  (%.1fx plain pass)\n", t_full,
              t_full / plain);
  std::printf("final equity %.6f / %.6f, trades %zu / %zu\n", r1.equity.back(), r2.equity.back(),
              r1.trades.size(), r2.trades.size());
  return 0;
}
