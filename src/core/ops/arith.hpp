// Element-wise arithmetic, comparisons and logic. Two-panel forms align their operands
// first (dates: ascending union; symbols: the left panel's that the right also has); the
// constant and one-panel forms keep the panel's labels. Comparisons with NaN are false;
// `and`, `or` and `not` read a cell as true exactly when it equals 1.0 and never give NaN.
#pragma once

#include <cmath>

#include "core/align.hpp"
#include "core/panel.hpp"

namespace korva::ops {

// Element functions: x is the left operand's cell, y the right operand's.
enum class BinaryFn { Gt, Lt, Ge, Le, Add, Sub, Mul, Div };

struct GtFn {
  double operator()(double x, double y) const { return x > y ? 1.0 : 0.0; }
};
struct LtFn {
  double operator()(double x, double y) const { return x < y ? 1.0 : 0.0; }
};
struct GeFn {
  double operator()(double x, double y) const { return x >= y ? 1.0 : 0.0; }
};
struct LeFn {
  double operator()(double x, double y) const { return x <= y ? 1.0 : 0.0; }
};
struct AddFn {
  double operator()(double x, double y) const { return x + y; }
};
struct SubFn {
  double operator()(double x, double y) const { return x - y; }
};
struct MulFn {
  double operator()(double x, double y) const { return x * y; }
};
struct DivFn {
  double operator()(double x, double y) const { return x / y; }
};
struct AndFn {
  double operator()(double x, double y) const { return x == 1.0 && y == 1.0 ? 1.0 : 0.0; }
};
struct OrFn {
  double operator()(double x, double y) const { return x == 1.0 || y == 1.0 ? 1.0 : 0.0; }
};
struct MaskFn {
  double operator()(double x, double y) const { return y == 1.0 ? x : kNaN; }
};

// Aligns a and b and applies f(a cell, b cell) to every cell of the aligned grid.
template <typename F>
Panel binary(const Panel& a, const Panel& b, F f) {
  auto [left, right] = align(a, b);
  double* out = left.data.data();
  const double* r = right.data.data();
  const std::size_t n = left.data.size();
  for (std::size_t i = 0; i < n; ++i) out[i] = f(out[i], r[i]);
  return std::move(left);
}

Panel ewise(const Panel& a, const Panel& b, BinaryFn f);
// f(c, x) for every cell x.
Panel scalar_lhs(Panel p, double c, BinaryFn f);
// f(x, c) for every cell x.
Panel scalar_rhs(Panel p, double c, BinaryFn f);
Panel scalar_mul(Panel p, double c);

Panel gt(const Panel& a, const Panel& b);
Panel lt(const Panel& a, const Panel& b);
Panel ge(const Panel& a, const Panel& b);
Panel le(const Panel& a, const Panel& b);
Panel add(const Panel& a, const Panel& b);
Panel sub(const Panel& a, const Panel& b);
Panel mul(const Panel& a, const Panel& b);
Panel div(const Panel& a, const Panel& b);
Panel and_(const Panel& a, const Panel& b);
Panel or_(const Panel& a, const Panel& b);
// a's cell where b's cell is exactly 1.0, NaN elsewhere.
Panel mask(const Panel& a, const Panel& b);

Panel neg(Panel p);   // x * -1.0 (0.0 becomes -0.0)
Panel not_(Panel p);  // 0.0 where the cell is 1.0, else 1.0
Panel ceil(Panel p);  // standard ceiling; NaN and infinities unchanged

}  // namespace korva::ops
