#include "core/ops/signals.hpp"

#include <vector>

#include "core/ops/arith.hpp"
#include "core/ops/window.hpp"

namespace korva::ops {

namespace {

double truth(double x) {
  return x == 1.0 ? 1.0 : 0.0;
}

// Row t is f(row t, row t - 1), with a false row above the first one. This is what the
// two-panel `and` of the input with its lagged copy gives when alignment changes nothing.
template <typename F>
Panel edges(const Panel& p, F f) {
  Panel out = p.like(0.0);
  const std::size_t m = p.cols();
  for (std::size_t t = 0; t < p.rows(); ++t) {
    const double* x = p.data.row(t);
    const double* prev = t > 0 ? p.data.row(t - 1) : nullptr;
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) o[j] = f(x[j] == 1.0, prev && prev[j] == 1.0);
  }
  return out;
}

}  // namespace

Panel shift_false(const Panel& p, std::size_t k) {
  Panel out = p.like(0.0);
  const std::size_t m = p.cols();
  for (std::size_t t = k; t < p.rows(); ++t) {
    const double* x = p.data.row(t - k);
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) o[j] = truth(x[j]);
  }
  return out;
}

Panel is_entry(const Panel& p) {
  if (aligns_to_itself(p)) {
    return edges(p, [](bool now, bool before) { return now && !before ? 1.0 : 0.0; });
  }
  return and_(p, not_(shift_false(p, 1)));
}

Panel is_exit(const Panel& p) {
  if (aligns_to_itself(p)) {
    return edges(p, [](bool now, bool before) { return !now && before ? 1.0 : 0.0; });
  }
  return and_(not_(p.clone()), shift_false(p, 1));
}

Panel sustain(const Panel& p, std::size_t nwindow, std::optional<std::size_t> nsatisfy) {
  const double required = static_cast<double>(nsatisfy.value_or(nwindow));
  const std::size_t rows = p.rows();
  const std::size_t m = p.cols();
  if (nwindow == 0) return p.like(required <= 0.0 ? 1.0 : 0.0);
  Panel out = p.like(0.0);
  // Counts of true cells are small integers, exact in doubles, so sliding the count along
  // gives the same number as counting each window afresh.
  std::vector<double> count(m, 0.0);
  for (std::size_t t = 0; t < rows; ++t) {
    const double* x = p.data.row(t);
    for (std::size_t j = 0; j < m; ++j) count[j] += truth(x[j]);
    if (t >= nwindow) {
      const double* old = p.data.row(t - nwindow);
      for (std::size_t j = 0; j < m; ++j) count[j] -= truth(old[j]);
    }
    if (t + 1 < nwindow) continue;
    double* o = out.data.row(t);
    for (std::size_t j = 0; j < m; ++j) o[j] = required <= count[j] ? 1.0 : 0.0;
  }
  return out;
}

}  // namespace korva::ops
