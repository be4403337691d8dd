#include "core/ops/ta.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace korva::ops {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

std::string shape_text(const Matrix& m) {
  return std::to_string(m.rows()) + "x" + std::to_string(m.cols());
}

// The leading block of `input` that matches `close`, or the error naming the short input.
Result<ConstView> input_view(std::string_view op, std::string_view name, const Panel& input,
                             const Panel& close) {
  const Matrix& a = input.data;
  const Matrix& c = close.data;
  if (a.rows() < c.rows() || a.cols() < c.cols()) {
    return eval_error(std::string(op) + ": `" + std::string(name) + "` is " + shape_text(a) +
                      ", smaller than `close` " + shape_text(c));
  }
  return view(a, c.rows(), c.cols());
}

// Per column, the first row whose value is finite, or kNone.
std::vector<std::size_t> start_rows(ConstView x) {
  std::vector<std::size_t> start(x.cols, kNone);
  std::size_t missing = x.cols;
  for (std::size_t t = 0; t < x.rows && missing > 0; ++t) {
    const double* r = x.row(t);
    for (std::size_t j = 0; j < x.cols; ++j) {
      if (start[j] == kNone && std::isfinite(r[j])) {
        start[j] = t;
        --missing;
      }
    }
  }
  return start;
}

// Wilder smoothing of many columns at once, fed one row at a time; n >= 1. feed(j, k, v)
// takes the value of row start + k (k >= 1) of column j and returns the smoothed value of
// that row: NaN for k < n, the mean of the first n values at k = n, then
// (previous * (n - 1) + v) / n.
class WilderRows {
 public:
  WilderRows(std::size_t cols, std::size_t n)
      : acc_(cols, 0.0), n_(n), nd_(static_cast<double>(n)), carried_(static_cast<double>(n - 1)) {}

  double feed(std::size_t j, std::size_t k, double v) {
    double& acc = acc_[j];
    if (k < n_) {
      acc += v;
      return kNaN;
    }
    acc = k == n_ ? (acc + v) / nd_ : (acc * carried_ + v) / nd_;
    return acc;
  }

 private:
  std::vector<double> acc_;
  std::size_t n_;
  double nd_;
  double carried_;
};

// Row by row, the smoothed true range of every column, handed to sink(t, j, atr) for each
// row after the column's start row. n >= 1.
template <typename Sink>
void true_range_rows(ConstView h, ConstView l, ConstView c, std::size_t n, Sink sink) {
  const std::vector<std::size_t> start = start_rows(c);
  WilderRows smooth(c.cols, n);
  for (std::size_t t = 1; t < c.rows; ++t) {
    const double* hr = h.row(t);
    const double* lr = l.row(t);
    const double* prev_close = c.row(t - 1);
    for (std::size_t j = 0; j < c.cols; ++j) {
      if (t <= start[j]) continue;
      sink(t, j, smooth.feed(j, t - start[j], true_range(hr[j], lr[j], prev_close[j])));
    }
  }
}

// Row by row, +DI and -DI of every column, handed to sink(t, j, k, plus, minus) for each
// row t = start + k after the column's start row. n >= 1.
template <typename Sink>
void directional_rows(ConstView h, ConstView l, ConstView c, std::size_t n, Sink sink) {
  const std::vector<std::size_t> start = start_rows(c);
  WilderRows plus_dm(c.cols, n);
  WilderRows minus_dm(c.cols, n);
  WilderRows range(c.cols, n);
  for (std::size_t t = 1; t < c.rows; ++t) {
    const double* hr = h.row(t);
    const double* hp = h.row(t - 1);
    const double* lr = l.row(t);
    const double* lp = l.row(t - 1);
    const double* prev_close = c.row(t - 1);
    for (std::size_t j = 0; j < c.cols; ++j) {
      if (t <= start[j]) continue;
      const std::size_t k = t - start[j];
      const double up = hr[j] - hp[j];
      const double down = lp[j] - lr[j];
      // A NaN makes both comparisons false: no movement on either side.
      const double pdm = up > 0.0 && up > down ? up : 0.0;
      const double mdm = down > up && down > 0.0 ? down : 0.0;
      const double sp = plus_dm.feed(j, k, pdm);
      const double sm = minus_dm.feed(j, k, mdm);
      const double sr = range.feed(j, k, true_range(hr[j], lr[j], prev_close[j]));
      double plus = kNaN;
      double minus = kNaN;
      if (std::isfinite(sr) && sr != 0.0) {
        plus = sp * 100.0 / sr;
        minus = sm * 100.0 / sr;
      }
      sink(t, j, k, plus, minus);
    }
  }
}

// (high + low + close) / 3 of every cell.
Matrix typical_prices(ConstView h, ConstView l, ConstView c) {
  Matrix tp(c.rows, c.cols);
  for (std::size_t t = 0; t < c.rows; ++t) {
    const double* hr = h.row(t);
    const double* lr = l.row(t);
    const double* cr = c.row(t);
    double* o = tp.row(t);
    for (std::size_t j = 0; j < c.cols; ++j) o[j] = typical_price(hr[j], lr[j], cr[j]);
  }
  return tp;
}

Result<Panel> stochastic(std::string_view op, const Panel& high, const Panel& low,
                         const Panel& close, std::size_t n, bool williams) {
  KORVA_TRY(const ConstView h, input_view(op, "high", high, close));
  KORVA_TRY(const ConstView l, input_view(op, "low", low, close));
  Panel out = close.like();
  const std::size_t rows = close.rows();
  const std::size_t m = close.cols();
  if (n == 0 || n > rows) return out;
  // The highest highs go straight into the result, which is then finished in place.
  rolling_extreme(h, n, true, out.data);
  Matrix lowest(rows, m);
  rolling_extreme(l, n, false, lowest);
  for (std::size_t t = n - 1; t < rows; ++t) {
    const double* cr = close.data.row(t);
    const double* lr = lowest.row(t);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      const double hh = o[j];
      const double ll = lr[j];
      const double c = cr[j];
      const bool ok = std::isfinite(hh) && std::isfinite(ll) && hh != ll && std::isfinite(c);
      const double v = williams ? (hh - c) * -100.0 / (hh - ll) : (c - ll) * 100.0 / (hh - ll);
      o[j] = ok ? v : kNaN;
    }
  }
  return out;
}

}  // namespace

std::vector<double> wilder_col(std::span<const double> values, std::size_t start, std::size_t n) {
  std::vector<double> out(values.size(), kNaN);
  if (n == 0 || start >= values.size() || n >= values.size() - start) return out;
  WilderRows smooth(1, n);
  for (std::size_t i = start + 1; i < values.size(); ++i)
    out[i] = smooth.feed(0, i - start, values[i]);
  return out;
}

DiCols di_cols(ConstView high, ConstView low, ConstView close, std::size_t column, std::size_t n) {
  DiCols out{std::vector<double>(close.rows, kNaN), std::vector<double>(close.rows, kNaN)};
  if (n == 0 || column >= close.cols) return out;
  auto one = [column](ConstView v) { return ConstView{v.data + column, v.rows, 1, v.stride}; };
  directional_rows(one(high), one(low), one(close), n,
                   [&](std::size_t t, std::size_t, std::size_t, double plus, double minus) {
                     out.plus[t] = plus;
                     out.minus[t] = minus;
                   });
  return out;
}

Result<Panel> atr(const Panel& high, const Panel& low, const Panel& close, std::size_t n) {
  KORVA_TRY(const ConstView h, input_view("atr", "high", high, close));
  KORVA_TRY(const ConstView l, input_view("atr", "low", low, close));
  Panel out = close.like();
  if (n == 0) return out;
  true_range_rows(h, l, view(close.data), n,
                  [&](std::size_t t, std::size_t j, double a) { out.data(t, j) = a; });
  return out;
}

Result<Panel> natr(const Panel& high, const Panel& low, const Panel& close, std::size_t n) {
  KORVA_TRY(const ConstView h, input_view("natr", "high", high, close));
  KORVA_TRY(const ConstView l, input_view("natr", "low", low, close));
  Panel out = close.like();
  if (n == 0) return out;
  true_range_rows(h, l, view(close.data), n, [&](std::size_t t, std::size_t j, double a) {
    const double c = close.data(t, j);
    // A NaN close passes the test and gives NaN.
    out.data(t, j) = std::isfinite(a) && c != 0.0 ? a * 100.0 / c : kNaN;
  });
  return out;
}

Result<Panel> di_panel(const Panel& high, const Panel& low, const Panel& close, std::size_t n,
                       bool plus) {
  const std::string_view op = plus ? "plus_di" : "minus_di";
  KORVA_TRY(const ConstView h, input_view(op, "high", high, close));
  KORVA_TRY(const ConstView l, input_view(op, "low", low, close));
  Panel out = close.like();
  if (n == 0) return out;
  directional_rows(h, l, view(close.data), n,
                   [&](std::size_t t, std::size_t j, std::size_t, double p, double m) {
                     out.data(t, j) = plus ? p : m;
                   });
  return out;
}

Result<Panel> adx(const Panel& high, const Panel& low, const Panel& close, std::size_t n) {
  KORVA_TRY(const ConstView h, input_view("adx", "high", high, close));
  KORVA_TRY(const ConstView l, input_view("adx", "low", low, close));
  Panel out = close.like();
  if (n == 0) return out;
  // DX is smoothed from start row s + n - 1, so its k-th value is that of row s + n - 1 + k.
  WilderRows smooth(close.cols(), n);
  directional_rows(h, l, view(close.data), n,
                   [&](std::size_t t, std::size_t j, std::size_t k, double p, double m) {
                     if (k < n) return;
                     double dx = kNaN;
                     if (std::isfinite(p) && std::isfinite(m)) {
                       const double sum = p + m;
                       dx = sum != 0.0 ? std::abs(p - m) * 100.0 / sum : 0.0;
                     }
                     out.data(t, j) = smooth.feed(j, k - (n - 1), dx);
                   });
  return out;
}

Result<Panel> willr(const Panel& high, const Panel& low, const Panel& close, std::size_t n) {
  return stochastic("willr", high, low, close, n, true);
}

Result<Panel> stoch_k(const Panel& high, const Panel& low, const Panel& close, std::size_t n) {
  return stochastic("stoch_k", high, low, close, n, false);
}

Result<Panel> stoch_d(const Panel& high, const Panel& low, const Panel& close, std::size_t n,
                      std::size_t d) {
  KORVA_TRY(const Panel k, stochastic("stoch_d", high, low, close, n, false));
  Panel out = close.like();
  const std::size_t rows = k.rows();
  const std::size_t m = k.cols();
  if (d == 0 || d > rows) return out;
  // A window of d finite values starts at or after the first finite %K, so testing every
  // window for finiteness also enforces the first value at that row + d - 1.
  const double dd = static_cast<double>(d);
  std::vector<double> last_bad(m, -1.0);
  std::vector<double> sum(m);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* kt = k.data.row(t);
    const double td = static_cast<double>(t);
    for (std::size_t j = 0; j < m; ++j) last_bad[j] = std::isfinite(kt[j]) ? last_bad[j] : td;
    if (t + 1 < d) continue;
    const std::size_t first = t + 1 - d;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t i = first; i <= t; ++i) {
      const double* x = k.data.row(i);
      for (std::size_t j = 0; j < m; ++j) sum[j] += x[j];
    }
    const double fd = static_cast<double>(first);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) o[j] = last_bad[j] >= fd ? kNaN : sum[j] / dd;
  }
  return out;
}

Result<Panel> cci(const Panel& high, const Panel& low, const Panel& close, std::size_t n) {
  KORVA_TRY(const ConstView h, input_view("cci", "high", high, close));
  KORVA_TRY(const ConstView l, input_view("cci", "low", low, close));
  Panel out = close.like();
  const std::size_t rows = close.rows();
  const std::size_t m = close.cols();
  if (n == 0 || n > rows) return out;
  // Rows before a column's start row have a non-finite close and so a non-finite typical
  // price: a window that is entirely finite lies at or after the start row.
  const Matrix tp = typical_prices(h, l, view(close.data));
  const double nd = static_cast<double>(n);
  std::vector<double> last_bad(m, -1.0);
  std::vector<double> sum(m);
  std::vector<double> mean(m);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* tt = tp.row(t);
    const double td = static_cast<double>(t);
    for (std::size_t j = 0; j < m; ++j) last_bad[j] = std::isfinite(tt[j]) ? last_bad[j] : td;
    if (t + 1 < n) continue;
    const std::size_t first = t + 1 - n;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t i = first; i <= t; ++i) {
      const double* x = tp.row(i);
      for (std::size_t j = 0; j < m; ++j) sum[j] += x[j];
    }
    for (std::size_t j = 0; j < m; ++j) mean[j] = sum[j] / nd;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (std::size_t i = first; i <= t; ++i) {
      const double* x = tp.row(i);
      for (std::size_t j = 0; j < m; ++j) sum[j] += std::abs(x[j] - mean[j]);
    }
    const double fd = static_cast<double>(first);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      const double deviation = sum[j] / nd;
      const bool ok = last_bad[j] < fd && deviation != 0.0;
      o[j] = ok ? (tt[j] - mean[j]) / (deviation * 0.015) : kNaN;
    }
  }
  return out;
}

Result<Panel> mfi(const Panel& high, const Panel& low, const Panel& close, const Panel& volume,
                  std::size_t n) {
  KORVA_TRY(const ConstView h, input_view("mfi", "high", high, close));
  KORVA_TRY(const ConstView l, input_view("mfi", "low", low, close));
  KORVA_TRY(const ConstView v, input_view("mfi", "volume", volume, close));
  Panel out = close.like();
  const std::size_t rows = close.rows();
  const std::size_t m = close.cols();
  const std::vector<std::size_t> start = start_rows(view(close.data));
  if (n == 0) {
    // Empty windows: no negative flow, so 100 from the start row on.
    for (std::size_t t = 0; t < rows; ++t) {
      double* o = out.data.row(t);
      for (std::size_t j = 0; j < m; ++j) {
        if (t >= start[j]) o[j] = 100.0;
      }
    }
    return out;
  }
  if (n >= rows) return out;
  const Matrix tp = typical_prices(h, l, view(close.data));
  std::vector<double> pos(m);
  std::vector<double> neg(m);
  // The first value is at row s + n, whose window starts at s + 1: every row of a window
  // that produces a value has a flow, so the flows need no start-row test.
  for (std::size_t t = n; t < rows; ++t) {
    std::fill(pos.begin(), pos.end(), 0.0);
    std::fill(neg.begin(), neg.end(), 0.0);
    for (std::size_t i = t + 1 - n; i <= t; ++i) {
      const double* tpi = tp.row(i);
      const double* tpp = tp.row(i - 1);
      const double* vi = v.row(i);
      for (std::size_t j = 0; j < m; ++j) {
        const double raw = vi[j] * tpi[j];
        pos[j] += tpi[j] > tpp[j] ? raw : 0.0;
        neg[j] += tpi[j] < tpp[j] ? raw : 0.0;
      }
    }
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      if (t - n < start[j]) continue;
      o[j] = neg[j] == 0.0 ? 100.0 : 100.0 - 100.0 / (pos[j] / neg[j] + 1.0);
    }
  }
  return out;
}

Result<Panel> vwap(const Panel& high, const Panel& low, const Panel& close, const Panel& volume,
                   std::size_t n) {
  KORVA_TRY(const ConstView h, input_view("vwap", "high", high, close));
  KORVA_TRY(const ConstView l, input_view("vwap", "low", low, close));
  KORVA_TRY(const ConstView v, input_view("vwap", "volume", volume, close));
  Panel out = close.like();
  const std::size_t rows = close.rows();
  const std::size_t m = close.cols();
  if (n == 0 || n > rows) return out;
  // As for cci, an entirely finite window lies at or after the column's start row.
  const Matrix tp = typical_prices(h, l, view(close.data));
  std::vector<double> last_bad(m, -1.0);
  std::vector<double> total(m);
  std::vector<double> value(m);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* tt = tp.row(t);
    const double* vt = v.row(t);
    const double td = static_cast<double>(t);
    for (std::size_t j = 0; j < m; ++j) {
      last_bad[j] = std::isfinite(tt[j]) && std::isfinite(vt[j]) ? last_bad[j] : td;
    }
    if (t + 1 < n) continue;
    const std::size_t first = t + 1 - n;
    std::fill(total.begin(), total.end(), 0.0);
    std::fill(value.begin(), value.end(), 0.0);
    for (std::size_t i = first; i <= t; ++i) {
      const double* tpi = tp.row(i);
      const double* vi = v.row(i);
      for (std::size_t j = 0; j < m; ++j) {
        total[j] += vi[j];
        value[j] += tpi[j] * vi[j];
      }
    }
    const double fd = static_cast<double>(first);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      const bool ok = last_bad[j] < fd && total[j] != 0.0;
      o[j] = ok ? value[j] / total[j] : kNaN;
    }
  }
  return out;
}

Result<Panel> obv(const Panel& close, const Panel& volume) {
  KORVA_TRY(const ConstView v, input_view("obv", "volume", volume, close));
  Panel out = close.like();
  const std::size_t rows = close.rows();
  const std::size_t m = close.cols();
  std::vector<std::size_t> start(m, kNone);
  std::vector<double> total(m, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* c = close.data.row(t);
    const double* vt = v.row(t);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) {
      if (start[j] == kNone) {
        if (!std::isfinite(c[j])) continue;
        start[j] = t;
        total[j] = vt[j];
      } else {
        const double change = c[j] - close.data(t - 1, j);
        if (change > 0.0) {
          total[j] += vt[j];
        } else if (change < 0.0) {
          total[j] -= vt[j];
        }
      }
      o[j] = total[j];
    }
  }
  return out;
}

namespace {

// Whether `v` beats the best so far `best` (strictly) for the maximum (Up) or the minimum.
template <bool Up>
bool beats(double v, double best) {
  return Up ? v > best : v < best;
}

// Aroon over windows of w = n + 1 rows. The rows are cut into blocks of w; a window is the
// suffix of one block and the prefix of the next. Both halves keep the latest row holding
// their extreme, and the later half wins a tie, so the result is the latest row holding the
// window's extreme: what a scan from oldest to newest that moves on ties finds. Values are
// only compared, never combined, so the halves give exactly the scan's row.
template <bool Up>
void aroon_impl(const Matrix& x, std::size_t n, Matrix& out) {
  const std::size_t rows = x.rows();
  const std::size_t m = x.cols();
  const std::size_t w = n + 1;
  const double nd = static_cast<double>(n);
  std::vector<double> last_bad(m, -1.0);
  std::vector<double> pv(m);  // prefix extreme of the current block
  std::vector<double> pi(m);  // its row
  // Suffix extremes of the previous block and their rows: row i covers block rows i to w - 1.
  Matrix sv(rows > w ? w : 0, m);
  Matrix si(rows > w ? w : 0, m);
  for (std::size_t bs = 0; bs < rows; bs += w) {
    const std::size_t be = bs + std::min(w, rows - bs);
    for (std::size_t t = bs; t < be; ++t) {
      const double* xt = x.row(t);
      const double td = static_cast<double>(t);
      for (std::size_t j = 0; j < m; ++j) {
        last_bad[j] = std::isfinite(xt[j]) ? last_bad[j] : td;
        const bool take = t == bs || !beats<Up>(pv[j], xt[j]);
        pv[j] = take ? xt[j] : pv[j];
        pi[j] = take ? td : pi[j];
      }
      if (t < n) continue;
      // An entirely finite window lies at or after the column's first finite row.
      const double first = static_cast<double>(t - n);
      double* o = out.row(t);
      if (t + 1 == bs + w) {
        for (std::size_t j = 0; j < m; ++j) {
          o[j] = last_bad[j] >= first ? kNaN : (nd - (td - pi[j])) * 100.0 / nd;
        }
      } else {
        const double* hv = sv.row(t + 1 - bs);
        const double* hi = si.row(t + 1 - bs);
        for (std::size_t j = 0; j < m; ++j) {
          const double where = beats<Up>(hv[j], pv[j]) ? hi[j] : pi[j];
          o[j] = last_bad[j] >= first ? kNaN : (nd - (td - where)) * 100.0 / nd;
        }
      }
    }
    if (be < rows) {
      const double* last = x.row(be - 1);
      std::copy(last, last + m, sv.row(w - 1));
      std::fill(si.row(w - 1), si.row(w - 1) + m, static_cast<double>(be - 1));
      for (std::size_t i = w - 1; i > 0; --i) {
        const double* xr = x.row(bs + i - 1);
        const double id = static_cast<double>(bs + i - 1);
        const double* nv = sv.row(i);
        const double* ni = si.row(i);
        double* hv = sv.row(i - 1);
        double* hi = si.row(i - 1);
        for (std::size_t j = 0; j < m; ++j) {
          // The earlier row takes over only when strictly better.
          const bool take = beats<Up>(xr[j], nv[j]);
          hv[j] = take ? xr[j] : nv[j];
          hi[j] = take ? id : ni[j];
        }
      }
    }
  }
}

}  // namespace

Panel aroon_dir(const Panel& series, std::size_t n, bool up) {
  Panel out = series.like();
  if (n == 0 || n >= series.rows()) return out;
  if (up) {
    aroon_impl<true>(series.data, n, out.data);
  } else {
    aroon_impl<false>(series.data, n, out.data);
  }
  return out;
}

}  // namespace korva::ops
