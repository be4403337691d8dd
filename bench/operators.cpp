// Times the time-series, technical-analysis, signal and cross-sectional operators on a
// 5040 x 3000 panel (20 years of trading days, 3000 symbols) next to one plain pass over the
// same matrix (summing every cell), and prints each operator's time as a ratio of that pass.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/ops/cross_section.hpp"
#include "core/ops/indicators.hpp"
#include "core/ops/signals.hpp"
#include "core/ops/ta.hpp"

namespace {

using namespace korva;

constexpr std::size_t kDates = 5040;
constexpr std::size_t kSymbols = 3000;

volatile double sink = 0.0;

double cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Best processor time of `reps` runs, in milliseconds. Processor time rather than wall time,
// so that other work on a shared machine does not inflate the figures; it includes the
// kernel's time for faulting in freshly allocated result matrices.
template <typename F>
double time_ms(int reps, F&& f) {
  double best = 1e300;
  for (int r = 0; r < reps; ++r) {
    const double start = cpu_ms();
    f();
    best = std::min(best, cpu_ms() - start);
  }
  return best;
}

// Consecutive integers stand in for dates: the operators look only at row order, and the
// ones built on alignment need them ascending.
Panel blank() {
  Dates dates(kDates);
  for (std::size_t i = 0; i < kDates; ++i) dates[i] = std::int32_t(20000101 + i);
  Symbols symbols(kSymbols);
  for (std::size_t j = 0; j < kSymbols; ++j) {
    char name[24];
    std::snprintf(name, sizeof name, "S%zu", j);
    symbols[j] = name;
  }
  return Panel{std::move(dates), std::move(symbols), Matrix(kDates, kSymbols)};
}

struct Market {
  Panel close, high, low, volume;
};

// Random-walk prices; every 10th symbol lists late, and about 0.1% of the cells are gaps.
Market make_market() {
  std::mt19937_64 rng(11);
  std::normal_distribution<double> step(0.0, 0.02);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Market m{blank(), blank(), blank(), blank()};
  std::vector<double> price(kSymbols);
  for (double& p : price) p = 20.0 + 80.0 * u(rng);
  for (std::size_t i = 0; i < kDates; ++i) {
    for (std::size_t j = 0; j < kSymbols; ++j) {
      price[j] *= 1.0 + step(rng);
      const bool listed = j % 10 != 0 || i >= (j % 97) * 30;
      const bool gap = u(rng) < 0.001;
      const double c = listed && !gap ? price[j] : kNaN;
      const double range = price[j] * 0.02 * u(rng);
      m.close.data(i, j) = c;
      m.high.data(i, j) = c + range;
      m.low.data(i, j) = c - range * u(rng);
      m.volume.data(i, j) = listed ? 1e5 * (1.0 + u(rng)) : kNaN;
    }
  }
  return m;
}

}  // namespace

int main() {
  const Market m = make_market();
  const Panel signal = ops::rise(m.close, 1);
  const Panel& c = m.close;
  const Panel& h = m.high;
  const Panel& l = m.low;
  const Panel& v = m.volume;

  const double base = time_ms(5, [&] {
    double s = 0.0;
    for (double x : c.data.cells()) s += x == x ? x : 0.0;
    sink = s;
  });
  std::printf("panel %zu x %zu; baseline (sum of every cell): %.1f ms\n", kDates, kSymbols, base);
  std::printf("%-22s %10s %8s\n", "operator", "ms", "ratio");

  const std::size_t n = 20;
  struct Entry {
    const char* name;
    std::function<Panel()> run;
  };
  const std::vector<Entry> entries = {
      {"average(20)", [&] { return ops::average(c, n); }},
      {"average(0)", [&] { return ops::average(c, 0); }},
      {"ema(20)", [&] { return ops::ema(c, n); }},
      {"rolling_std(20)", [&] { return ops::rolling_std(c, n); }},
      {"rsi(14)", [&] { return ops::rsi(c, 14); }},
      {"rolling_max(20)", [&] { return ops::rolling_max(c, n); }},
      {"rolling_max(250)", [&] { return ops::rolling_max(c, 250); }},
      {"rolling_min(20)", [&] { return ops::rolling_min(c, n); }},
      {"pct_change(1)", [&] { return ops::pct_change(c, 1); }},
      {"rise(1)", [&] { return ops::rise(c, 1); }},
      {"fall(1)", [&] { return ops::fall(c, 1); }},
      {"atr(14)", [&] { return *ops::atr(h, l, c, 14); }},
      {"natr(14)", [&] { return *ops::natr(h, l, c, 14); }},
      {"plus_di(14)", [&] { return *ops::di_panel(h, l, c, 14, true); }},
      {"adx(14)", [&] { return *ops::adx(h, l, c, 14); }},
      {"willr(14)", [&] { return *ops::willr(h, l, c, 14); }},
      {"stoch_k(14)", [&] { return *ops::stoch_k(h, l, c, 14); }},
      {"stoch_d(14, 3)", [&] { return *ops::stoch_d(h, l, c, 14, 3); }},
      {"cci(20)", [&] { return *ops::cci(h, l, c, n); }},
      {"mfi(14)", [&] { return *ops::mfi(h, l, c, v, 14); }},
      {"vwap(20)", [&] { return *ops::vwap(h, l, c, v, n); }},
      {"obv", [&] { return *ops::obv(c, v); }},
      {"aroon_up(25)", [&] { return ops::aroon_dir(h, 25, true); }},
      {"shift_false(1)", [&] { return ops::shift_false(signal, 1); }},
      {"is_entry", [&] { return ops::is_entry(signal); }},
      {"is_exit", [&] { return ops::is_exit(signal); }},
      {"sustain(20, 15)", [&] { return ops::sustain(signal, 20, 15); }},
      {"rank_cs", [&] { return ops::rank_cs(c, true, true); }},
      {"top_n(50)", [&] { return ops::top_n(c, 50, true); }},
      {"normalize_row", [&] { return ops::normalize_row(c); }},
  };
  for (const auto& e : entries) {
    const double ms = time_ms(3, [&] {
      const Panel out = e.run();
      sink = sink + out.data(kDates - 1, kSymbols - 1);
    });
    std::printf("%-22s %10.1f %8.1f\n", e.name, ms, ms / base);
  }
  return 0;
}
