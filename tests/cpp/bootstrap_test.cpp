#include "core/bootstrap.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/matrix.hpp"
#include "core/metrics.hpp"

namespace korva {
namespace {

constexpr double N = kNaN;
constexpr double kInf = std::numeric_limits<double>::infinity();

void expect_ci(const BootstrapCi& got, double p05, double p50, double p95, double tol = 1e-12) {
  for (auto [g, w] : {std::pair{got.p05, p05}, std::pair{got.p50, p50}, std::pair{got.p95, p95}}) {
    if (std::isnan(w)) {
      EXPECT_TRUE(std::isnan(g)) << g;
    } else if (std::isinf(w)) {
      EXPECT_EQ(g, w);
    } else {
      EXPECT_NEAR(g, w, tol);
    }
  }
}

std::vector<std::int32_t> january(std::size_t n) {
  std::vector<std::int32_t> d(n);
  for (std::size_t i = 0; i < n; ++i) d[i] = 20240101 + static_cast<std::int32_t>(i);
  return d;
}

TEST(SplitMix64, ReferenceSequenceFromSeedZero) {
  SplitMix64 rng(0);
  EXPECT_EQ(rng.next(), 0xE220A8397B1DCDAFull);
  EXPECT_EQ(rng.next(), 0x6E789E6AA1B965F4ull);
  EXPECT_EQ(rng.next(), 0x06C45D188009454Full);
}

TEST(Ci, NearestRankWithHalvesAwayFromZero) {
  std::vector<double> twenty;
  // 0 .. 19 in a scrambled order (7 is coprime with 20), between NaNs.
  for (int k = 0; k < 20; ++k) {
    twenty.push_back((k * 7) % 20);
    twenty.push_back(N);
  }
  struct Case {
    const char* name;
    std::vector<double> values;
    double p05, p50, p95;
  } cases[] = {
      {"twenty values and NaNs", twenty, 1, 10, 18},
      {"empty", {}, N, N, N},
      {"only NaN", {N, N}, N, N, N},
      {"single", {3.5}, 3.5, 3.5, 3.5},
      {"two values: 0.5 rounds up", {2, 1}, 1, 2, 2},
      {"infinities stay", {kInf, 1, -kInf}, -kInf, 1, kInf},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_ci(ci(c.values), c.p05, c.p50, c.p95);
  }
}

TEST(Bootstrap, NothingForShortCurvesOrNoSamples) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> dates;
    std::vector<double> equity;
    std::size_t samples;
  } cases[] = {
      {"two points", january(2), {1, 1.1}, 1000},
      {"no samples", january(5), {1, 1.1, 1.2, 1.1, 1.3}, 0},
      {"length mismatch", january(4), {1, 1.1, 1.2, 1.1, 1.3}, 10},
      {"empty", {}, {}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(bootstrap(c.dates, c.equity, c.samples, 0, 1).has_value());
  }
}

TEST(Bootstrap, AutomaticBlockLength) {
  struct Case {
    std::size_t points, block, want;
  } cases[] = {{101, 0, 10}, {100, 0, 9}, {3, 0, 1}, {4, 0, 1}, {101, 3, 3}, {5, 1000, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.points);
    std::vector<double> eq(c.points);
    for (std::size_t k = 0; k < c.points; ++k) eq[k] = 1.0 + 0.01 * double(k % 7);
    const auto s = bootstrap(january(c.points), eq, 3, c.block, 7);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->block_len, c.want);
    EXPECT_EQ(s->n_samples, 3u);
  }
}

// Builds the resampled path the way the bootstrap describes it, from a generator that
// carries over between blocks and samples.
std::vector<double> reference_path(const std::vector<double>& eq, std::size_t block,
                                   SplitMix64& rng) {
  const std::size_t n = eq.size();
  const std::size_t x = n - 1;
  std::vector<double> path{1.0};
  while (path.size() < n) {
    const std::size_t start = rng.next() % x;
    for (std::size_t i = 0; i < block && path.size() < n; ++i) {
      const std::size_t k = (start + i) % x;
      path.push_back(path.back() * (1.0 + (eq[k + 1] / eq[k] - 1.0)));
    }
  }
  return path;
}

TEST(Bootstrap, PathsFollowTheGeneratorAcrossBlocksAndSamples) {
  // Returns 1, -0.5, 0.5, -0.5, 0.2, -0.1: each path of 7 points takes three blocks of 2.
  const std::vector<double> eq{1, 2, 1, 1.5, 0.75, 0.9, 0.81};
  const auto dates = january(eq.size());
  const double years = 6.0 * 86400.0 / 3.15576e7;
  struct Case {
    std::size_t block;
    std::uint64_t seed;
  } cases[] = {{2, 42}, {2, 12679685}, {1000, 5}, {4, 99}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seed);
    SplitMix64 rng(c.seed);
    std::vector<double> dd, cagr, sr;
    for (int s = 0; s < 2; ++s) {
      const auto path = reference_path(eq, c.block, rng);
      dd.push_back(max_drawdown(path));
      cagr.push_back(std::pow(path.back() / path.front(), 1.0 / years) - 1.0);
      sr.push_back(sharpe(path));
    }
    const auto got = bootstrap(dates, eq, 2, c.block, c.seed);
    ASSERT_TRUE(got.has_value());
    // Two values: p05 is the smaller, p50 and p95 the larger.
    expect_ci(got->max_drawdown, std::min(dd[0], dd[1]), std::max(dd[0], dd[1]),
              std::max(dd[0], dd[1]));
    expect_ci(got->cagr, std::min(cagr[0], cagr[1]), std::max(cagr[0], cagr[1]),
              std::max(cagr[0], cagr[1]), 1e-9);
    expect_ci(got->sharpe, std::min(sr[0], sr[1]), std::max(sr[0], sr[1]), std::max(sr[0], sr[1]),
              1e-9);
  }
}

TEST(Bootstrap, ConstantReturnsGiveEqualPercentiles) {
  // Every resample of a constant 1 % daily return is the same curve.
  std::vector<double> eq{1.0};
  for (int k = 0; k < 30; ++k) eq.push_back(eq.back() * 1.01);
  const auto s = bootstrap(january(eq.size()), eq, 50, 0, 12679685);
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->block_len, 5u);
  const double years = 30.0 * 86400.0 / 3.15576e7;
  const double cagr = std::pow(std::pow(1.01, 30), 1.0 / years) - 1.0;
  expect_ci(s->cagr, cagr, cagr, cagr, 1e-6 * cagr);
  expect_ci(s->max_drawdown, 0, 0, 0);
  const double sr = 0.01 / 1e-6 * std::sqrt(252.0);
  expect_ci(s->sharpe, sr, sr, sr, 1e-6 * sr);
}

TEST(Bootstrap, SingleSampleAndDeterminism) {
  const std::vector<double> eq{1, 1.05, 0.98, 1.02, 1.1, 1.07, 1.12, 1.01, 0.99, 1.04};
  const auto dates = january(eq.size());
  const auto one = bootstrap(dates, eq, 1, 0, 3);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->sharpe.p05, one->sharpe.p95);
  EXPECT_EQ(one->cagr.p05, one->cagr.p50);
  EXPECT_EQ(one->max_drawdown.p50, one->max_drawdown.p95);

  const auto a = bootstrap(dates, eq, 200, 0, 12679685);
  const auto b = bootstrap(dates, eq, 200, 0, 12679685);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(*a, *b);
  EXPECT_LE(a->sharpe.p05, a->sharpe.p50);
  EXPECT_LE(a->sharpe.p50, a->sharpe.p95);
  EXPECT_LE(a->max_drawdown.p95, 0.0);
  const auto other = bootstrap(dates, eq, 200, 0, 1);
  EXPECT_NE(*a, *other);
}

TEST(Bootstrap, NaNPointsAndInvalidDates) {
  {
    SCOPED_TRACE("every return NaN");
    const auto s = bootstrap(january(3), std::vector<double>{1, N, N}, 10, 0, 1);
    ASSERT_TRUE(s.has_value());
    expect_ci(s->sharpe, N, N, N);
    expect_ci(s->cagr, N, N, N);
    expect_ci(s->max_drawdown, 0, 0, 0);
  }
  {
    SCOPED_TRACE("invalid last date");
    std::vector<std::int32_t> dates = january(4);
    dates.back() = 20240230;
    const auto s = bootstrap(dates, std::vector<double>{1, 1.1, 1.2, 1.3}, 10, 0, 1);
    ASSERT_TRUE(s.has_value());
    expect_ci(s->cagr, N, N, N);
    EXPECT_FALSE(std::isnan(s->sharpe.p50));
  }
}

TEST(BootstrapJson, Shape) {
  const BootstrapSummary s{100, 4, {0.1, 0.2, 0.3}, {N, 1.0, kInf}, {-0.2, -0.1, 0.0}};
  const json::Value v = to_json(s);
  const json::Object& o = v.as_object();
  ASSERT_EQ(o.size(), 5u);
  EXPECT_EQ(o.find("n_samples")->as_uint(), 100u);
  EXPECT_EQ(o.find("block_len")->as_uint(), 4u);
  const json::Object& cagr = o.find("cagr")->as_object();
  EXPECT_TRUE(cagr.find("p05")->is_null());
  EXPECT_EQ(cagr.find("p50")->as_double(), 1.0);
  EXPECT_TRUE(cagr.find("p95")->is_null());
  EXPECT_EQ(o.find("max_drawdown")->as_object().find("p95")->as_double(), 0.0);
  EXPECT_TRUE(o.find("max_drawdown")->as_object().find("p95")->is_double());
}

}  // namespace
}  // namespace korva
