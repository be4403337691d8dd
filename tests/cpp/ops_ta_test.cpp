#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "core/ops/ta.hpp"
#include "series_test_util.hpp"
#include "test_util.hpp"

namespace korva::ops {
namespace {

using korva::testing::column;
using korva::testing::column_panel;
using korva::testing::kInf;
using korva::testing::make_panel;
using korva::testing::random_panel;
using korva::testing::same_column;
constexpr double N = kNaN;
using Col = std::vector<double>;
constexpr std::size_t kHuge = std::size_t(-1);

// One-column high, low, close and volume panels.
struct Bars {
  Col high, low, close, volume;
  Panel h() const { return column_panel(high); }
  Panel l() const { return column_panel(low); }
  Panel c() const { return column_panel(close); }
  Panel v() const { return column_panel(volume.empty() ? Col(close.size(), 1.0) : volume); }
};

// Every price equal to the typical price tp.
Bars flat_bars(const Col& tp, const Col& volume = {}) {
  return {tp, tp, tp, volume};
}

using Indicator = std::function<Result<Panel>(const Bars&)>;

struct Case {
  const char* name;
  Indicator fn;
  Bars bars;
  Col expected;
};

void run_cases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Result<Panel> out = c.fn(c.bars);
    ASSERT_TRUE(out.has_value()) << out.error().display();
    EXPECT_EQ(out->dates, c.bars.c().dates);
    EXPECT_TRUE(same_column(column(out->data, 0), c.expected));
  }
}

Indicator atr_n(std::size_t n) {
  return [n](const Bars& b) { return atr(b.h(), b.l(), b.c(), n); };
}
Indicator natr_n(std::size_t n) {
  return [n](const Bars& b) { return natr(b.h(), b.l(), b.c(), n); };
}
Indicator di_n(std::size_t n, bool plus) {
  return [n, plus](const Bars& b) { return di_panel(b.h(), b.l(), b.c(), n, plus); };
}
Indicator adx_n(std::size_t n) {
  return [n](const Bars& b) { return adx(b.h(), b.l(), b.c(), n); };
}
Indicator willr_n(std::size_t n) {
  return [n](const Bars& b) { return willr(b.h(), b.l(), b.c(), n); };
}
Indicator stoch_k_n(std::size_t n) {
  return [n](const Bars& b) { return stoch_k(b.h(), b.l(), b.c(), n); };
}
Indicator stoch_d_n(std::size_t n, std::size_t d) {
  return [n, d](const Bars& b) { return stoch_d(b.h(), b.l(), b.c(), n, d); };
}
Indicator cci_n(std::size_t n) {
  return [n](const Bars& b) { return cci(b.h(), b.l(), b.c(), n); };
}
Indicator mfi_n(std::size_t n) {
  return [n](const Bars& b) { return mfi(b.h(), b.l(), b.c(), b.v(), n); };
}
Indicator vwap_n(std::size_t n) {
  return [n](const Bars& b) { return vwap(b.h(), b.l(), b.c(), b.v(), n); };
}
Indicator obv_() {
  return [](const Bars& b) { return obv(b.c(), b.v()); };
}
Indicator aroon_n(std::size_t n, bool up) {
  return [n, up](const Bars& b) -> Result<Panel> { return aroon_dir(b.c(), n, up); };
}

const Bars kAtrBars{{10.5, 11.5, 12.5, 12}, {9.5, 10.5, 11.5, 10}, {10, 11, 12, 11}, {}};

TEST(TrueRange, IgnoresNaNOperands) {
  EXPECT_EQ(true_range(11.5, 10.5, 10), 1.5);
  EXPECT_EQ(true_range(12, 10, 12), 2);
  EXPECT_EQ(true_range(N, 10, 12), 2);  // only |low - prev close| is left
  EXPECT_EQ(true_range(12, 11, N), 1);  // only high - low is left
  EXPECT_TRUE(std::isnan(true_range(N, N, 5)));
  EXPECT_EQ(typical_price(1, 2, 6), 3);
}

TEST(WilderCol, SeedMeanThenRecursion) {
  const Col v{N, 1.5, 1.5, 2};
  EXPECT_TRUE(same_column(wilder_col(v, 0, 2), {N, N, 1.5, 1.75}));
  EXPECT_TRUE(same_column(wilder_col(v, 1, 2), {N, N, N, 1.75}));
  EXPECT_TRUE(same_column(wilder_col(v, 2, 2), {N, N, N, N}));  // start + n >= length
  EXPECT_TRUE(same_column(wilder_col(v, 0, 0), {N, N, N, N}));
  EXPECT_TRUE(same_column(wilder_col(Col{N, N, 1, 2}, 0, 2), {N, N, N, N}));  // NaN stays in
}

TEST(Atr, WorkedExamples) {
  Bars zero_close{{10.5, 11.5, 1}, {9.5, 10.5, -1}, {10, 11, 0}, {}};
  run_cases({
      {"atr(2)", atr_n(2), kAtrBars, {N, N, 1.5, 1.75}},
      {"atr(1)", atr_n(1), kAtrBars, {N, 1.5, 1.5, 2}},
      {"atr(0)", atr_n(0), kAtrBars, {N, N, N, N}},
      {"atr longer than the panel", atr_n(4), kAtrBars, {N, N, N, N}},
      {"natr(2)", natr_n(2), kAtrBars, {N, N, 12.5, 175.0 / 11.0}},
      // row 2: true range max(2, 10, 12) = 12 but close 0
      {"natr with close 0", natr_n(1), zero_close, {N, 150.0 / 11.0, N}},
  });
}

TEST(Atr, LateColumnWarmsUpFromItsOwnStart) {
  const Panel high =
      make_panel({1, 2, 3, 4, 5, 6}, {"A", "B"},
                 {{10.5, N}, {11.5, N}, {12.5, 10.5}, {12, 11.5}, {12, 12.5}, {12, 12}});
  const Panel low =
      make_panel({1, 2, 3, 4, 5, 6}, {"A", "B"},
                 {{9.5, N}, {10.5, N}, {11.5, 9.5}, {10, 10.5}, {10, 11.5}, {10, 10}});
  const Panel close = make_panel({1, 2, 3, 4, 5, 6}, {"A", "B"},
                                 {{10, N}, {11, N}, {12, 10}, {11, 11}, {11, 12}, {11, 11}});
  auto out = atr(high, low, close, 2);
  ASSERT_TRUE(out.has_value());
  EXPECT_TRUE(same_column(column(out->data, 0), {N, N, 1.5, 1.75, 1.875, 1.9375}));
  EXPECT_TRUE(same_column(column(out->data, 1), {N, N, N, N, 1.5, 1.75}));
}

// high [10, 12, 11, 13, 12], low [8, 9, 9, 10, 8], close [9, 11, 10, 12, 9]:
// +DM [-, 2, 0, 2, 0], -DM [-, 0, 0, 0, 2], TR [-, 3, 2, 3, 4]. With n = 2 the smoothed
// values are +DM [1, 1.5, 0.75], -DM [0, 0, 1], TR [2.5, 2.75, 3.375] on rows 2 to 4.
const Bars kDiBars{{10, 12, 11, 13, 12}, {8, 9, 9, 10, 8}, {9, 11, 10, 12, 9}, {}};

TEST(Directional, PlusMinusDiAndAdx) {
  const double p4 = 75.0 / 3.375;
  const double m4 = 100.0 / 3.375;
  const double p3 = 150.0 / 2.75;
  const double dx3 = std::abs(p3 - 0.0) * 100.0 / (p3 + 0.0);  // 100 up to rounding
  const double adx3 = (100.0 + dx3) / 2.0;
  const double dx4 = std::abs(p4 - m4) * 100.0 / (p4 + m4);
  EXPECT_NEAR(dx3, 100.0, 1e-12);
  EXPECT_NEAR(dx4, 100.0 / 7.0, 1e-12);
  run_cases({
      {"+DI(2)", di_n(2, true), kDiBars, {N, N, 40, p3, p4}},
      {"-DI(2)", di_n(2, false), kDiBars, {N, N, 0, 0, m4}},
      // DX on rows 2 and 3 is 100 (-DI is 0); the first ADX, at row 2n - 1 = 3, is their
      // mean.
      {"adx(2)", adx_n(2), kDiBars, {N, N, N, adx3, (adx3 * 1.0 + dx4) / 2.0}},
      {"adx(0)", adx_n(0), kDiBars, {N, N, N, N, N}},
      {"+DI(0)", di_n(0, true), kDiBars, {N, N, N, N, N}},
      {"adx(3) needs row 5", adx_n(3), kDiBars, {N, N, N, N, N}},
  });
  const Panel h = kDiBars.h(), l = kDiBars.l(), c = kDiBars.c();
  const DiCols cols = di_cols(view(h.data), view(l.data), view(c.data), 0, 2);
  EXPECT_TRUE(same_column(cols.plus, {N, N, 40, p3, p4}));
  EXPECT_TRUE(same_column(cols.minus, {N, N, 0, 0, m4}));
}

TEST(Directional, EqualAndNaNMovesCountAsNone) {
  // Row 1: up = 1, down = 1 (equal moves); row 2: high NaN.
  Bars bars{{10, 11, N, 12}, {8, 7, 7, 6}, {9, 9, 9, 9}, {}};
  // TR [-, max(4, 2, 2) = 4, max(NaN, NaN, 2) = 2, max(6, 3, 3) = 6]. Row 1 has equal
  // moves; on rows 2 and 3 `up` is NaN, so neither side counts (down = 1 > NaN is false).
  run_cases({
      {"+DI(1)", di_n(1, true), bars, {N, 0, 0, 0}},
      {"-DI(1)", di_n(1, false), bars, {N, 0, 0, 0}},
      // +DI = -DI = 0: DX is 0, not NaN.
      {"adx(1)", adx_n(1), bars, {N, 0, 0, 0}},
  });
}

TEST(Stochastic, WillRStochKAndStochD) {
  Bars basic{{10, 9}, {8, 8.5}, {9, 9}, {}};
  Bars flat{{5, 5}, {5, 5}, {5, 5}, {}};
  Bars gap{{10, N, 9}, {8, 8, 8}, {9, 9, 9}, {}};
  Bars rising{{10, 11, 12, 13, 14, 15}, {8, 9, 10, 11, 12, 13}, {9, 10, 12, 11, 13, 14}, {}};
  run_cases({
      {"willr", willr_n(2), basic, {N, -50}},
      {"stoch_k", stoch_k_n(2), basic, {N, 50}},
      {"flat window", willr_n(2), flat, {N, N}},
      {"NaN in the window", stoch_k_n(2), gap, {N, N, N}},
      {"n = 0", stoch_k_n(0), basic, {N, N}},
      {"longer than the panel", willr_n(3), basic, {N, N}},
      {"stoch_k(3)", stoch_k_n(3), rising, {N, N, 100, 50, 75, 75}},
      {"stoch_d(3, 3)", stoch_d_n(3, 3), rising, {N, N, N, N, 75, 200.0 / 3.0}},
      {"stoch_d(3, 1)", stoch_d_n(3, 1), rising, {N, N, 100, 50, 75, 75}},
      {"stoch_d(3, 0)", stoch_d_n(3, 0), rising, {N, N, N, N, N, N}},
  });
}

TEST(Cci, MeanDeviationScaled) {
  run_cases({
      {"rising", cci_n(3), flat_bars({1, 2, 3}), {N, N, (3.0 - 2.0) / ((2.0 / 3.0) * 0.015)}},
      {"zero deviation", cci_n(3), flat_bars({5, 5, 5}), {N, N, N}},
      {"late start", cci_n(2), flat_bars({N, 1, 3}), {N, N, 1.0 / (1.0 * 0.015)}},
      {"infinity in the window", cci_n(2), flat_bars({1, kInf, 3, 5}), {N, N, N, 1.0 / 0.015}},
      {"n = 0", cci_n(0), flat_bars({1, 2, 3}), {N, N, N}},
  });
  auto out = cci(column_panel({1}), column_panel({1}), column_panel({1, 2, 3}), 0);
  EXPECT_FALSE(out.has_value());
  const Panel p = flat_bars({1, 2, 3}).c();
  EXPECT_NEAR(cci(p, p, p, 3)->data(2, 0), 100.0, 1e-9);
}

TEST(Mfi, MoneyFlowRatio) {
  run_cases({
      {"one up, one down", mfi_n(2), flat_bars({10, 12, 8}, {1, 2, 3}), {N, N, 50}},
      {"no down moves", mfi_n(2), flat_bars({10, 12, 12, 13}, {1, 2, 3, 4}), {N, N, 100, 100}},
      {"n = 0 from the start row", mfi_n(0), flat_bars({N, 10, 8}, {1, 2, 3}), {N, 100, 100}},
      // tp [NaN, 10, 12, 8]: flows from row 2; the first value at s + n = 3.
      {"late start", mfi_n(2), flat_bars({N, 10, 12, 8}, {1, 1, 2, 3}), {N, N, N, 50}},
      // P = 2 * 12 = 24, N = 3 * 8 = 24 on the first window; then P = 0, N = 24 + 4 * 6.
      {"falling", mfi_n(2), flat_bars({10, 12, 8, 6}, {1, 2, 3, 4}), {N, N, 50, 0}},
      {"longer than the panel", mfi_n(3), flat_bars({10, 12, 8}, {1, 2, 3}), {N, N, N}},
  });
}

TEST(Vwap, VolumeWeightedTypicalPrice) {
  run_cases({
      {"weighted", vwap_n(2), flat_bars({10, 12}, {1, 3}), {N, 11.5}},
      {"zero volume", vwap_n(2), flat_bars({10, 12}, {0, 0}), {N, N}},
      {"NaN volume", vwap_n(2), flat_bars({10, 12, 14}, {1, N, 1}), {N, N, N}},
      {"n = 1", vwap_n(1), flat_bars({10, N, 14}, {1, 1, 2}), {10, N, 14}},
      {"n = 0", vwap_n(0), flat_bars({10, 12}, {1, 3}), {N, N}},
  });
}

TEST(Obv, SignedRunningVolume) {
  run_cases({
      {"worked", obv_(), flat_bars({10, 11, 11, 10}, {100, 200, 300, 400}), {100, 300, 300, -100}},
      {"late start", obv_(), flat_bars({N, 10, 9}, {5, 100, 50}), {N, 100, 50}},
      {"NaN volume on a moving day", obv_(), flat_bars({10, 11, 12}, {1, N, 2}), {1, N, N}},
      {"NaN volume on a flat day", obv_(), flat_bars({10, 10, 12}, {1, N, 2}), {1, 1, 3}},
      {"NaN close keeps the total", obv_(), flat_bars({10, N, 12}, {1, 5, 2}), {1, 1, 1}},
  });
}

TEST(Aroon, RowsSinceTheExtreme) {
  run_cases({
      {"up", aroon_n(2, true), flat_bars({1, 3, 2, 2}), {N, N, 50, 0}},
      {"down, tie to the later row", aroon_n(2, false), flat_bars({1, 3, 2, 2}), {N, N, 0, 100}},
      {"late start", aroon_n(1, true), flat_bars({N, 1, 2, 1}), {N, N, 100, 0}},
      {"infinity in the window", aroon_n(1, true), flat_bars({1, kInf, 2, 3}), {N, N, N, 100}},
      {"n = 0", aroon_n(0, true), flat_bars({1, 2}), {N, N}},
      {"window of n + 1 rows needed", aroon_n(2, true), flat_bars({1, 2}), {N, N}},
  });
}

// The largest count never fits a panel: no start row plus n (or n + 1) can wrap around to a
// row inside it.
TEST(TechnicalIndicators, LargestCountGivesNoValue) {
  const Bars late{{N, 11, 12, 13}, {N, 9, 10, 11}, {N, 10, 11, 12}, {N, 5, 6, 7}};
  const Col none{N, N, N, N};
  run_cases({
      {"atr", atr_n(kHuge), late, none},
      {"natr", natr_n(kHuge), late, none},
      {"+DI", di_n(kHuge, true), late, none},
      {"adx", adx_n(kHuge), late, none},
      {"willr", willr_n(kHuge), late, none},
      {"stoch_k", stoch_k_n(kHuge), late, none},
      {"stoch_d n", stoch_d_n(kHuge, 1), late, none},
      {"stoch_d d", stoch_d_n(1, kHuge), late, none},
      {"cci", cci_n(kHuge), late, none},
      {"mfi", mfi_n(kHuge), late, none},
      {"vwap", vwap_n(kHuge), late, none},
      {"aroon up", aroon_n(kHuge, true), late, none},
      {"aroon down", aroon_n(kHuge - 1, false), late, none},
  });
}

TEST(TechnicalIndicators, ShortInputsFailWithBothShapes) {
  const Panel close4x2 = make_panel({1, 2, 3, 4}, {"A", "B"}, {{1, 1}, {1, 1}, {1, 1}, {1, 1}});
  const Panel short3x2 = make_panel({1, 2, 3}, {"A", "B"}, {{1, 1}, {1, 1}, {1, 1}});
  const Panel narrow4x1 = make_panel({1, 2, 3, 4}, {"A"}, {{1}, {1}, {1}, {1}});
  const Panel& ok = close4x2;
  struct Case {
    Result<Panel> result;
    const char* message;
  } cases[] = {
      {atr(short3x2, ok, close4x2, 2), "atr: `high` is 3x2, smaller than `close` 4x2"},
      {natr(ok, narrow4x1, close4x2, 2), "natr: `low` is 4x1, smaller than `close` 4x2"},
      {willr(short3x2, short3x2, close4x2, 2), "willr: `high` is 3x2, smaller than `close` 4x2"},
      {stoch_k(ok, short3x2, close4x2, 2), "stoch_k: `low` is 3x2, smaller than `close` 4x2"},
      {stoch_d(ok, short3x2, close4x2, 2, 3), "stoch_d: `low` is 3x2, smaller than `close` 4x2"},
      {cci(narrow4x1, ok, close4x2, 2), "cci: `high` is 4x1, smaller than `close` 4x2"},
      {adx(ok, short3x2, close4x2, 0), "adx: `low` is 3x2, smaller than `close` 4x2"},
      {di_panel(short3x2, ok, close4x2, 2, true),
       "plus_di: `high` is 3x2, smaller than `close` 4x2"},
      {di_panel(ok, short3x2, close4x2, 2, false),
       "minus_di: `low` is 3x2, smaller than `close` 4x2"},
      {mfi(ok, ok, close4x2, short3x2, 2), "mfi: `volume` is 3x2, smaller than `close` 4x2"},
      {vwap(ok, ok, close4x2, narrow4x1, 2), "vwap: `volume` is 4x1, smaller than `close` 4x2"},
      {obv(close4x2, short3x2), "obv: `volume` is 3x2, smaller than `close` 4x2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ASSERT_FALSE(c.result.has_value());
    ASSERT_TRUE(c.result.error().is_eval());
    EXPECT_EQ(c.result.error().message(), c.message);
    EXPECT_EQ(c.result.error().display(), std::string("eval error: ") + c.message);
  }
}

TEST(TechnicalIndicators, LargerInputsAreReadByPositionInTheirLeadingBlock) {
  // high and low carry an extra row and column and unrelated labels.
  const Panel high = make_panel({7, 8, 9, 10, 11}, {"X", "Y"},
                                {{10.5, 99}, {11.5, 99}, {12.5, 99}, {12, 99}, {1, 99}});
  const Panel low = make_panel({7, 8, 9, 10, 11}, {"X", "Y"},
                               {{9.5, -9}, {10.5, -9}, {11.5, -9}, {10, -9}, {1, -9}});
  const Panel close = make_panel({1, 2, 3, 4}, {"A"}, {{10}, {11}, {12}, {11}});
  auto out = atr(high, low, close, 2);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->dates, close.dates);
  EXPECT_EQ(out->symbols, close.symbols);
  EXPECT_TRUE(same_column(column(out->data, 0), {N, N, 1.5, 1.75}));
}

// Column-at-a-time transcriptions of each definition, against which the row-wise kernels
// must agree to the last bit.
namespace reference {

constexpr std::size_t kNo = std::size_t(-1);

std::size_t start(const Col& x) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    if (std::isfinite(x[i])) return i;
  }
  return kNo;
}

double nan_max(double a, double b) {
  if (std::isnan(a)) return b;
  if (std::isnan(b)) return a;
  return std::max(a, b);
}

double tr(const Col& h, const Col& l, const Col& c, std::size_t i) {
  return nan_max(nan_max(h[i] - l[i], std::abs(h[i] - c[i - 1])), std::abs(l[i] - c[i - 1]));
}

Col wilder(const Col& v, std::size_t start, std::size_t n) {
  Col out(v.size(), N);
  if (n == 0 || start + n >= v.size()) return out;
  double sum = 0.0;
  for (std::size_t i = start + 1; i <= start + n; ++i) sum += v[i];
  out[start + n] = sum / double(n);
  for (std::size_t i = start + n + 1; i < v.size(); ++i) {
    out[i] = (out[i - 1] * double(n - 1) + v[i]) / double(n);
  }
  return out;
}

Col atr(const Col& h, const Col& l, const Col& c, std::size_t n) {
  const std::size_t s = start(c);
  if (s == kNo) return Col(c.size(), N);
  Col t(c.size(), N);
  for (std::size_t i = s + 1; i < c.size(); ++i) t[i] = tr(h, l, c, i);
  return wilder(t, s, n);
}

Col natr(const Col& h, const Col& l, const Col& c, std::size_t n) {
  Col a = atr(h, l, c, n);
  for (std::size_t i = 0; i < a.size(); ++i) {
    a[i] = std::isfinite(a[i]) && c[i] != 0.0 ? a[i] * 100.0 / c[i] : N;
  }
  return a;
}

std::pair<Col, Col> di(const Col& h, const Col& l, const Col& c, std::size_t n) {
  const std::size_t s = start(c);
  if (s == kNo) return {Col(c.size(), N), Col(c.size(), N)};
  Col pdm(c.size(), N), mdm(c.size(), N), t(c.size(), N);
  for (std::size_t i = s + 1; i < c.size(); ++i) {
    const double up = h[i] - h[i - 1];
    const double down = l[i - 1] - l[i];
    pdm[i] = up > 0 && up > down ? up : 0.0;
    mdm[i] = down > up && down > 0 ? down : 0.0;
    t[i] = tr(h, l, c, i);
  }
  const Col sp = wilder(pdm, s, n), sm = wilder(mdm, s, n), st = wilder(t, s, n);
  Col plus(c.size(), N), minus(c.size(), N);
  for (std::size_t i = 0; i < c.size(); ++i) {
    if (std::isfinite(st[i]) && st[i] != 0.0) {
      plus[i] = sp[i] * 100.0 / st[i];
      minus[i] = sm[i] * 100.0 / st[i];
    }
  }
  return {plus, minus};
}

Col adx(const Col& h, const Col& l, const Col& c, std::size_t n) {
  const std::size_t s = start(c);
  if (s == kNo || (n == 0 && s == 0)) return Col(c.size(), N);
  const auto [plus, minus] = di(h, l, c, n);
  Col dx(c.size(), N);
  for (std::size_t i = 0; i < c.size(); ++i) {
    if (std::isfinite(plus[i]) && std::isfinite(minus[i])) {
      const double sum = plus[i] + minus[i];
      dx[i] = sum != 0.0 ? std::abs(plus[i] - minus[i]) * 100.0 / sum : 0.0;
    }
  }
  return wilder(dx, s + n - 1, n);
}

Col stochastic(const Col& h, const Col& l, const Col& c, std::size_t n, bool williams) {
  const Col hh = korva::testing::rolling_extreme(h, n, true),
            ll = korva::testing::rolling_extreme(l, n, false);
  Col out(c.size(), N);
  for (std::size_t i = 0; i < c.size(); ++i) {
    if (std::isfinite(hh[i]) && std::isfinite(ll[i]) && hh[i] != ll[i] && std::isfinite(c[i])) {
      out[i] = williams ? (hh[i] - c[i]) * -100.0 / (hh[i] - ll[i])
                        : (c[i] - ll[i]) * 100.0 / (hh[i] - ll[i]);
    }
  }
  return out;
}

Col stoch_d(const Col& h, const Col& l, const Col& c, std::size_t n, std::size_t d) {
  const Col k = stochastic(h, l, c, n, false);
  Col out(c.size(), N);
  const std::size_t f = start(k);
  if (d == 0 || f == kNo) return out;
  for (std::size_t j = f + d - 1; j < k.size(); ++j) {
    double sum = 0.0;
    bool finite = true;
    for (std::size_t i = j + 1 - d; i <= j; ++i) {
      finite = finite && std::isfinite(k[i]);
      sum += k[i];
    }
    if (finite) out[j] = sum / double(d);
  }
  return out;
}

Col typical(const Col& h, const Col& l, const Col& c) {
  Col tp(c.size());
  for (std::size_t i = 0; i < c.size(); ++i) tp[i] = (h[i] + l[i] + c[i]) / 3.0;
  return tp;
}

Col cci(const Col& h, const Col& l, const Col& c, std::size_t n) {
  Col out(c.size(), N);
  const std::size_t s = start(c);
  if (s == kNo || n == 0) return out;
  const Col tp = typical(h, l, c);
  for (std::size_t k = s + n - 1; k < c.size(); ++k) {
    bool finite = true;
    double sum = 0.0;
    for (std::size_t i = k + 1 - n; i <= k; ++i) {
      finite = finite && std::isfinite(tp[i]);
      sum += tp[i];
    }
    if (!finite) continue;
    const double mean = sum / double(n);
    double dev = 0.0;
    for (std::size_t i = k + 1 - n; i <= k; ++i) dev += std::abs(tp[i] - mean);
    const double md = dev / double(n);
    if (md != 0.0) out[k] = (tp[k] - mean) / (md * 0.015);
  }
  return out;
}

Col mfi(const Col& h, const Col& l, const Col& c, const Col& v, std::size_t n) {
  Col out(c.size(), N);
  const std::size_t s = start(c);
  if (s == kNo) return out;
  const Col tp = typical(h, l, c);
  Col pos(c.size(), 0.0), neg(c.size(), 0.0);
  for (std::size_t i = s + 1; i < c.size(); ++i) {
    const double raw = v[i] * tp[i];
    if (tp[i] > tp[i - 1])
      pos[i] = raw;
    else if (tp[i] < tp[i - 1])
      neg[i] = raw;
  }
  for (std::size_t k = s + n; k < c.size(); ++k) {
    double p = 0.0, q = 0.0;
    for (std::size_t i = k + 1 - n; i <= k && n > 0; ++i) {
      p += pos[i];
      q += neg[i];
    }
    out[k] = q == 0.0 ? 100.0 : 100.0 - 100.0 / (p / q + 1.0);
  }
  return out;
}

Col vwap(const Col& h, const Col& l, const Col& c, const Col& v, std::size_t n) {
  Col out(c.size(), N);
  const std::size_t s = start(c);
  if (s == kNo || n == 0) return out;
  const Col tp = typical(h, l, c);
  for (std::size_t j = s + n - 1; j < c.size(); ++j) {
    bool finite = true;
    double total = 0.0, value = 0.0;
    for (std::size_t i = j + 1 - n; i <= j; ++i) {
      finite = finite && std::isfinite(v[i]) && std::isfinite(tp[i]);
      total += v[i];
      value += tp[i] * v[i];
    }
    if (finite && total != 0.0) out[j] = value / total;
  }
  return out;
}

Col obv(const Col& c, const Col& v) {
  Col out(c.size(), N);
  const std::size_t s = start(c);
  if (s == kNo) return out;
  double total = v[s];
  out[s] = total;
  for (std::size_t k = s + 1; k < c.size(); ++k) {
    const double change = c[k] - c[k - 1];
    if (change > 0)
      total += v[k];
    else if (change < 0)
      total -= v[k];
    out[k] = total;
  }
  return out;
}

Col aroon(const Col& x, std::size_t n, bool up) {
  Col out(x.size(), N);
  const std::size_t s = start(x);
  if (n == 0 || s == kNo || s + n >= x.size()) return out;
  for (std::size_t j = s + n; j < x.size(); ++j) {
    bool finite = true;
    std::size_t best = j - n;
    for (std::size_t i = j - n; i <= j; ++i) {
      finite = finite && std::isfinite(x[i]);
      if (up ? x[i] >= x[best] : x[i] <= x[best]) best = i;
    }
    if (finite) out[j] = (double(n) - double(j - best)) * 100.0 / double(n);
  }
  return out;
}

}  // namespace reference

TEST(TechnicalIndicators, RowWiseKernelsMatchColumnDefinitionsBitForBit) {
  const std::size_t rows = 57, cols = 7;
  const Panel close = random_panel(rows, cols, 7);
  const Panel spread = random_panel(rows, cols, 8, 2.0, false);
  const Panel volume = random_panel(rows, cols, 9, 1000.0);
  Panel high = close.clone(), low = close.clone(), vol = volume.clone();
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < cols; ++j) {
      // Spreads are NaN where `spread` has a gap, so high and low get gaps of their own.
      high.data(i, j) = close.data(i, j) + std::abs(spread.data(i, j));
      low.data(i, j) = close.data(i, j) - std::abs(spread.data(rows - 1 - i, j));
      if (i % 11 == 5) vol.data(i, j) = 0.0;
      if (i % 13 == 3) low.data(i, j) = high.data(i, j);  // a bar without range
    }
  }
  for (std::size_t n : {0, 1, 2, 3, 5, 14, 28, 55, 56, 57, 200}) {
    SCOPED_TRACE(n);
    auto a = atr(high, low, close, n);
    auto na = natr(high, low, close, n);
    auto pd = di_panel(high, low, close, n, true);
    auto md = di_panel(high, low, close, n, false);
    auto ax = adx(high, low, close, n);
    auto wr = willr(high, low, close, n);
    auto sk = stoch_k(high, low, close, n);
    auto sd = stoch_d(high, low, close, n, 3);
    auto sd1 = stoch_d(high, low, close, 3, n);
    auto cc = cci(high, low, close, n);
    auto mf = mfi(high, low, close, vol, n);
    auto vw = vwap(high, low, close, vol, n);
    const Panel au = aroon_dir(high, n, true);
    const Panel ad = aroon_dir(low, n, false);
    for (auto* r : {&a, &na, &pd, &md, &ax, &wr, &sk, &sd, &sd1, &cc, &mf, &vw}) {
      ASSERT_TRUE(r->has_value());
    }
    for (std::size_t j = 0; j < cols; ++j) {
      SCOPED_TRACE(close.symbols[j]);
      const Col h = column(high.data, j), l = column(low.data, j), c = column(close.data, j),
                v = column(vol.data, j);
      const auto [plus, minus] = reference::di(h, l, c, n);
      EXPECT_TRUE(same_column(column(a->data, j), reference::atr(h, l, c, n)));
      EXPECT_TRUE(same_column(column(na->data, j), reference::natr(h, l, c, n)));
      EXPECT_TRUE(same_column(column(pd->data, j), plus));
      EXPECT_TRUE(same_column(column(md->data, j), minus));
      EXPECT_TRUE(same_column(column(ax->data, j), reference::adx(h, l, c, n)));
      EXPECT_TRUE(same_column(column(wr->data, j), reference::stochastic(h, l, c, n, true)));
      EXPECT_TRUE(same_column(column(sk->data, j), reference::stochastic(h, l, c, n, false)));
      EXPECT_TRUE(same_column(column(sd->data, j), reference::stoch_d(h, l, c, n, 3)));
      EXPECT_TRUE(same_column(column(sd1->data, j), reference::stoch_d(h, l, c, 3, n)));
      EXPECT_TRUE(same_column(column(cc->data, j), reference::cci(h, l, c, n)));
      EXPECT_TRUE(same_column(column(mf->data, j), reference::mfi(h, l, c, v, n)));
      EXPECT_TRUE(same_column(column(vw->data, j), reference::vwap(h, l, c, v, n)));
      EXPECT_TRUE(same_column(column(au.data, j), reference::aroon(h, n, true)));
      EXPECT_TRUE(same_column(column(ad.data, j), reference::aroon(l, n, false)));
    }
  }
  auto o = obv(close, vol);
  ASSERT_TRUE(o.has_value());
  for (std::size_t j = 0; j < cols; ++j) {
    EXPECT_TRUE(same_column(column(o->data, j),
                            reference::obv(column(close.data, j), column(vol.data, j))));
  }
}

}  // namespace
}  // namespace korva::ops
