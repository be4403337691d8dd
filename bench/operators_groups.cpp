// Times the neutralization, industry-group, rebalancing and rotation operators on a
// 5040 x 3000 panel (20 years of trading days, 3000 symbols, 30 industries) next to one
// plain element-wise pass over the same matrix, and prints each operator's time as a ratio
// of that pass.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/calendar.hpp"
#include "core/ops/neutralize.hpp"
#include "core/ops/rebalance.hpp"
#include "core/ops/rotation.hpp"

namespace {

using namespace korva;

constexpr std::size_t kDates = 5040;
constexpr std::size_t kSymbols = 3000;
constexpr std::size_t kIndustries = 30;

volatile double sink = 0.0;

// Best wall time of `reps` runs, in milliseconds.
template <typename F>
double time_ms(int reps, F&& f) {
  double best = 1e300;
  for (int r = 0; r < reps; ++r) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto stop = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(stop - start).count());
  }
  return best;
}

Dates trading_days(std::size_t n) {
  Dates out;
  std::int64_t day = days_from_civil({2004, 1, 1});
  int y = 2004, m = 1, d = 1;
  auto days_in = [](int yy, int mm) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (yy % 4 == 0 && yy % 100 != 0) || yy % 400 == 0;
    return mm == 2 && leap ? 29 : kDays[mm - 1];
  };
  while (out.size() < n) {
    const std::int64_t wd = ((day + 3) % 7 + 7) % 7;  // 0 = Monday
    if (wd < 5) out.push_back(y * 10000 + m * 100 + d);
    ++day;
    if (++d > days_in(y, m)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  return out;
}

Panel random_panel(const Dates& dates, const Symbols& symbols, std::mt19937_64& rng,
                   double nan_share) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> unit;
  Panel p{dates, symbols, Matrix(dates.size(), symbols.size())};
  for (double& v : p.data.cells()) v = unit(rng) < nan_share ? kNaN : normal(rng);
  return p;
}

Panel flags(const Dates& dates, const Symbols& symbols, std::mt19937_64& rng, double share) {
  std::uniform_real_distribution<double> unit;
  Panel p{dates, symbols, Matrix(dates.size(), symbols.size())};
  for (double& v : p.data.cells()) v = unit(rng) < share ? 1.0 : 0.0;
  return p;
}

void report(const char* name, double ms, double base) {
  std::printf("%-34s %9.1f ms  %7.2fx\n", name, ms, ms / base);
}

}  // namespace

int main() {
  std::mt19937_64 rng(42);
  const Dates dates = trading_days(kDates);
  Symbols symbols;
  ops::IndustryMap industry;
  for (std::size_t s = 0; s < kSymbols; ++s) {
    symbols.push_back("S" + std::to_string(100000 + s));
    industry[symbols.back()] = "industry" + std::to_string(s % kIndustries);
  }
  const Panel signal = random_panel(dates, symbols, rng, 0.02);
  std::vector<Panel> factors;
  for (int f = 0; f < 3; ++f) factors.push_back(random_panel(dates, symbols, rng, 0.01));

  Panel close{dates, symbols, Matrix(kDates, kSymbols)};
  {
    std::normal_distribution<double> step(0.0, 0.02);
    for (std::size_t s = 0; s < kSymbols; ++s) close.data(0, s) = 100.0;
    for (std::size_t d = 1; d < kDates; ++d) {
      for (std::size_t s = 0; s < kSymbols; ++s) {
        close.data(d, s) = close.data(d - 1, s) * std::exp(step(rng));
      }
    }
  }
  const Panel entry = flags(dates, symbols, rng, 0.05);
  const Panel exit = flags(dates, symbols, rng, 0.05);
  Dates monthly;
  for (std::size_t d = 0; d < kDates; d += 21) monthly.push_back(dates[d]);

  // Baseline: one plain element-wise pass that builds a fresh matrix of the same shape.
  const int reps = 3;
  const double base = time_ms(reps, [&] {
    Panel out = signal.like();
    const double* in = signal.data.data();
    double* o = out.data.data();
    for (std::size_t i = 0; i < out.data.size(); ++i) o[i] = in[i] * 2.0;
    sink = sink + o[out.data.size() / 2];
  });
  std::printf("panel %zu x %zu, %zu industries\n", kDates, kSymbols, kIndustries);
  report("plain pass (baseline)", base, base);

  report("neutralize (3 factors + const)",
         time_ms(reps,
                 [&] {
                   Panel r = ops::neutralize(signal, factors, true);
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  report("neutralize (no factors, const)",
         time_ms(reps,
                 [&] {
                   Panel r = ops::neutralize(signal, {}, true);
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  report("neutralize_industry",
         time_ms(reps,
                 [&] {
                   Panel r = ops::neutralize_industry(signal, industry);
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  report("industry_rank",
         time_ms(reps,
                 [&] {
                   Panel r = ops::industry_rank(signal, industry, nullptr);
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  report("groupby_category mean",
         time_ms(reps,
                 [&] {
                   auto r = ops::groupby_category(signal, industry, "mean");
                   sink = sink + r->data(kDates - 1, 0);
                 }),
         base);
  report("groupby_category std",
         time_ms(reps,
                 [&] {
                   auto r = ops::groupby_category(signal, industry, "std");
                   sink = sink + r->data(kDates - 1, 0);
                 }),
         base);
  report("rebalance_freq W",
         time_ms(reps,
                 [&] {
                   auto r = ops::rebalance_freq(signal, ops::PeriodCode::Week);
                   sink = sink + double(r->rows());
                 }),
         base);
  report("rebalance_freq ME",
         time_ms(reps,
                 [&] {
                   auto r = ops::rebalance_freq(signal, ops::PeriodCode::Month);
                   sink = sink + double(r->rows());
                 }),
         base);
  report("rebalance_dates (monthly list)",
         time_ms(reps,
                 [&] {
                   Panel r = ops::rebalance_dates(signal, monthly);
                   sink = sink + double(r.rows());
                 }),
         base);
  report("hold_until (limit 50)",
         time_ms(reps,
                 [&] {
                   ops::HoldUntilOpts opts;
                   opts.nstocks_limit = 50;
                   Panel r = ops::hold_until(entry, exit, opts);
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  report("hold_until (limit 50, rank, stops)",
         time_ms(reps,
                 [&] {
                   ops::HoldUntilOpts opts;
                   opts.nstocks_limit = 50;
                   opts.rank = &signal;
                   opts.close = &close;
                   opts.stop_loss = 0.1;
                   opts.take_profit = 0.3;
                   opts.trail_stop = 0.1;
                   opts.trail_stop_activation = 0.05;
                   Panel r = ops::hold_until(entry, exit, opts);
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  report("hold_until (no limit)",
         time_ms(reps,
                 [&] {
                   Panel r = ops::hold_until(entry, exit, {});
                   sink = sink + r.data(kDates - 1, 0);
                 }),
         base);
  return 0;
}
