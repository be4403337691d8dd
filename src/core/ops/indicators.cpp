#include "core/ops/indicators.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "core/ops/arith.hpp"
#include "core/ops/window.hpp"

namespace korva::ops {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// A column whose seed window runs past the last row: it never gets a value.
constexpr std::size_t kNever = kNone - 1;

// Window extremes that let a NaN win, so a window holding a NaN comes out NaN. On equal
// values the earlier operand is kept, as in a left fold.
struct MaxPick {
  static double pick(double earlier, double later) {
    const double r = later > earlier ? later : earlier;
    return (earlier == earlier && later == later) ? r : kNaN;
  }
};
struct MinPick {
  static double pick(double earlier, double later) {
    const double r = later < earlier ? later : earlier;
    return (earlier == earlier && later == later) ? r : kNaN;
  }
};

template <typename Pick>
void rolling_extreme_impl(ConstView x, std::size_t n, Matrix& out) {
  const std::size_t rows = x.rows;
  const std::size_t m = x.cols;
  std::vector<double> prefix(m);
  // Suffix extremes of the previous block: row i covers block rows i to n - 1.
  Matrix suffix(rows > n ? n : 0, m);
  for (std::size_t bs = 0; bs < rows; bs += n) {
    const std::size_t be = bs + std::min(n, rows - bs);
    for (std::size_t t = bs; t < be; ++t) {
      const double* xr = x.row(t);
      if (t == bs) {
        std::copy(xr, xr + m, prefix.begin());
      } else {
        for (std::size_t j = 0; j < m; ++j) prefix[j] = Pick::pick(prefix[j], xr[j]);
      }
      if (t + 1 < n) continue;
      double* o = out.row(t);
      if (t + 1 == bs + n) {
        std::copy(prefix.begin(), prefix.end(), o);
      } else {
        // The window starts at row t + 1 - n of the previous block.
        const double* h = suffix.row(t + 1 - bs);
        for (std::size_t j = 0; j < m; ++j) o[j] = Pick::pick(h[j], prefix[j]);
      }
    }
    if (be < rows) {
      const double* last = x.row(be - 1);
      std::copy(last, last + m, suffix.row(n - 1));
      for (std::size_t i = n - 1; i > 0; --i) {
        const double* xr = x.row(bs + i - 1);
        const double* next = suffix.row(i);
        double* h = suffix.row(i - 1);
        for (std::size_t j = 0; j < m; ++j) h[j] = Pick::pick(xr[j], next[j]);
      }
    }
  }
}

double rsi_value(double avg_gain, double avg_loss) {
  if (avg_loss == 0.0) return 100.0;
  return 100.0 - 100.0 / (avg_gain / avg_loss + 1.0);
}

}  // namespace

void rolling_extreme(ConstView x, std::size_t n, bool is_max, Matrix& out) {
  if (n == 0 || n > x.rows) return;
  if (is_max) {
    rolling_extreme_impl<MaxPick>(x, n, out);
  } else {
    rolling_extreme_impl<MinPick>(x, n, out);
  }
}

Panel average(const Panel& p, std::size_t n) {
  Panel out = p.like();
  const std::size_t rows = p.rows();
  const std::size_t m = p.cols();
  const double min_count = static_cast<double>(std::max<std::size_t>(n / 2, 1));
  std::vector<double> sum(m, 0.0);
  std::vector<double> count(m, 0.0);
  // Skipping a NaN and adding 0.0 give the same sum: a sum started at +0.0 never becomes
  // -0.0, and x + 0.0 == x for every other x.
  auto add_row = [&](const double* x) {
    for (std::size_t j = 0; j < m; ++j) {
      const bool present = x[j] == x[j];
      sum[j] += present ? x[j] : 0.0;
      count[j] += present ? 1.0 : 0.0;
    }
  };
  auto write_row = [&](double* o) {
    for (std::size_t j = 0; j < m; ++j) o[j] = count[j] >= min_count ? sum[j] / count[j] : kNaN;
  };
  for (std::size_t t = 0; t < rows; ++t) {
    if (n == 0 || t < n) {
      // The window starts at row 0: extending the running sum by one row adds the same
      // values in the same order as summing the window afresh.
      add_row(p.data.row(t));
    } else {
      std::fill(sum.begin(), sum.end(), 0.0);
      std::fill(count.begin(), count.end(), 0.0);
      for (std::size_t i = t + 1 - n; i <= t; ++i) add_row(p.data.row(i));
    }
    write_row(out.data.row(t));
  }
  return out;
}

Panel ema(const Panel& p, std::size_t n) {
  Panel out = p.like();
  if (n == 0) return out;
  const std::size_t rows = p.rows();
  const std::size_t m = p.cols();
  const double nd = static_cast<double>(n);
  const double alpha = 2.0 / (nd + 1.0);
  const double keep = 1.0 - alpha;
  std::vector<std::size_t> seed_row(m, kNone);  // s + n - 1 once s is known
  std::vector<double> acc(m, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* x = p.data.row(t);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      const double v = x[j];
      if (seed_row[j] == kNone) {
        if (!std::isfinite(v)) continue;
        seed_row[j] = n > rows - t ? kNever : t + n - 1;
        acc[j] = 0.0;
      }
      const std::size_t sr = seed_row[j];
      if (t < sr) {
        // Only the first value of the seed window is tested; a NaN after it poisons the seed.
        acc[j] += v;
      } else if (t == sr) {
        acc[j] = (acc[j] + v) / nd;
        o[j] = acc[j];
      } else {
        const double y = std::isfinite(v) ? v : acc[j];
        acc[j] = acc[j] * keep + y * alpha;
        o[j] = acc[j];
      }
    }
  }
  return out;
}

Panel rolling_std(const Panel& p, std::size_t n) {
  Panel out = p.like();
  const std::size_t rows = p.rows();
  const std::size_t m = p.cols();
  if (n == 0 || n > rows) return out;
  const double nd = static_cast<double>(n);
  std::vector<double> last_bad(m, -1.0);  // last row holding a non-finite value
  std::vector<double> sum(m);
  std::vector<double> mean(m);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* xt = p.data.row(t);
    const double td = static_cast<double>(t);
    for (std::size_t j = 0; j < m; ++j) last_bad[j] = std::isfinite(xt[j]) ? last_bad[j] : td;
    if (t + 1 < n) continue;
    const std::size_t start = t + 1 - n;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t i = start; i <= t; ++i) {
      const double* x = p.data.row(i);
      for (std::size_t j = 0; j < m; ++j) sum[j] += x[j];
    }
    for (std::size_t j = 0; j < m; ++j) mean[j] = sum[j] / nd;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t i = start; i <= t; ++i) {
      const double* x = p.data.row(i);
      for (std::size_t j = 0; j < m; ++j) {
        const double d = x[j] - mean[j];
        sum[j] += d * d;
      }
    }
    double* o = out.data.row(t);
    const double first = static_cast<double>(start);
    for (std::size_t j = 0; j < m; ++j) {
      o[j] = last_bad[j] >= first ? kNaN : std::sqrt(sum[j] / nd);
    }
  }
  return out;
}

Panel rsi(const Panel& p, std::size_t n) {
  Panel out = p.like();
  if (n == 0) return out;
  const std::size_t rows = p.rows();
  const std::size_t m = p.cols();
  const double nd = static_cast<double>(n);
  const double carried = static_cast<double>(n - 1);
  std::vector<std::size_t> start(m, kNone);
  // Seed sums of gains and losses, then Wilder's average gain and average loss.
  std::vector<double> gain(m, 0.0);
  std::vector<double> loss(m, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* x = p.data.row(t);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      const std::size_t s = start[j];
      if (s == kNone) {
        if (std::isfinite(x[j])) start[j] = t;
        continue;
      }
      double d = x[j] - p.data(t - 1, j);
      if (!std::isfinite(d)) d = 0.0;
      const std::size_t k = t - s;
      if (k <= n) {
        if (d > 0.0) {
          gain[j] += d;
        } else {
          loss[j] -= d;
        }
        if (k < n) continue;
        gain[j] /= nd;
        loss[j] /= nd;
      } else {
        const double g = d > 0.0 ? d : 0.0;
        const double l = d > 0.0 ? 0.0 : -d;
        gain[j] = (g + gain[j] * carried) / nd;
        loss[j] = (l + loss[j] * carried) / nd;
      }
      o[j] = rsi_value(gain[j], loss[j]);
    }
  }
  return out;
}

Panel rolling_max(const Panel& p, std::size_t n) {
  Panel out = p.like();
  rolling_extreme(view(p.data), n, true, out.data);
  return out;
}

Panel rolling_min(const Panel& p, std::size_t n) {
  Panel out = p.like();
  rolling_extreme(view(p.data), n, false, out.data);
  return out;
}

namespace {

// Row t of the result is f(x[t], x[t - n]) for t >= n and `fill` above, which is what the
// composition of `shift` with a two-panel operation gives when alignment changes nothing.
template <typename F>
Panel lagged(const Panel& p, std::size_t n, double fill, F f) {
  Panel out = p.like(fill);
  const std::size_t m = p.cols();
  for (std::size_t t = n; t < p.rows(); ++t) {
    const double* x = p.data.row(t);
    const double* prev = p.data.row(t - n);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) o[j] = f(x[j], prev[j]);
  }
  return out;
}

}  // namespace

Panel pct_change(const Panel& p, std::size_t n) {
  if (aligns_to_itself(p)) {
    return lagged(p, n, kNaN, [](double x, double prev) { return (x - prev) / prev; });
  }
  const Panel prev = p.shift(n);
  return div(sub(p, prev), prev);
}

Panel rise(const Panel& p, std::size_t n) {
  if (aligns_to_itself(p)) return lagged(p, n, 0.0, GtFn{});
  return gt(p, p.shift(n));
}

Panel fall(const Panel& p, std::size_t n) {
  if (aligns_to_itself(p)) return lagged(p, n, 0.0, LtFn{});
  return lt(p, p.shift(n));
}

}  // namespace korva::ops
