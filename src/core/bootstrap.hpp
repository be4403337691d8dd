// Circular block bootstrap of the daily returns of an equity curve: percentiles of the
// Sharpe ratio, CAGR and maximum drawdown of resampled curves. The generator is a
// SplitMix64 with a caller-given seed and lives only for one call, so the same inputs
// always give the same intervals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "json/value.hpp"

namespace korva {

struct BootstrapCi {
  double p05;
  double p50;
  double p95;
  friend bool operator==(const BootstrapCi&, const BootstrapCi&) = default;
};

struct BootstrapSummary {
  std::size_t n_samples = 0;
  // Block length actually used (after the automatic rule).
  std::size_t block_len = 0;
  BootstrapCi sharpe;
  BootstrapCi cagr;
  BootstrapCi max_drawdown;
  friend bool operator==(const BootstrapSummary&, const BootstrapSummary&) = default;
};

// SplitMix64: each draw advances the state by the golden-ratio increment and mixes it.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

 private:
  std::uint64_t state_;
};

// None when dates and equity differ in length, the curve has fewer than 3 points or
// `samples` is 0. `block` 0 selects the integer square root of the number of returns (at
// least 1). Each resample spans the same calendar time as `dates`, so its CAGR uses the
// first and last date; an invalid calendar date there makes every CAGR NaN.
std::optional<BootstrapSummary> bootstrap(std::span<const std::int32_t> dates,
                                          std::span<const double> equity, std::size_t samples,
                                          std::size_t block, std::uint64_t seed);

// 5th, 50th and 95th percentile by nearest rank round(q * (k - 1)) over the non-NaN
// values (infinities stay); all NaN when no value is left.
BootstrapCi ci(std::span<const double> values);

json::Value to_json(const BootstrapCi& ci);
json::Value to_json(const BootstrapSummary& summary);

}  // namespace korva
