#include "core/ops/arith.hpp"

namespace korva::ops {

namespace {

template <typename F>
void map_cells(Matrix& m, F f) {
  double* cells = m.data();
  const std::size_t n = m.size();
  for (std::size_t i = 0; i < n; ++i) cells[i] = f(cells[i]);
}

// Dispatches a runtime element function to its inlined functor.
template <typename Visit>
auto with_fn(BinaryFn f, Visit visit) {
  switch (f) {
    case BinaryFn::Gt:
      return visit(GtFn{});
    case BinaryFn::Lt:
      return visit(LtFn{});
    case BinaryFn::Ge:
      return visit(GeFn{});
    case BinaryFn::Le:
      return visit(LeFn{});
    case BinaryFn::Add:
      return visit(AddFn{});
    case BinaryFn::Sub:
      return visit(SubFn{});
    case BinaryFn::Mul:
      return visit(MulFn{});
    case BinaryFn::Div:
      break;
  }
  return visit(DivFn{});
}

}  // namespace

Panel ewise(const Panel& a, const Panel& b, BinaryFn f) {
  return with_fn(f, [&](auto fn) { return binary(a, b, fn); });
}

Panel scalar_lhs(Panel p, double c, BinaryFn f) {
  with_fn(f, [&](auto fn) {
    map_cells(p.data, [&](double x) { return fn(c, x); });
    return 0;
  });
  return p;
}

Panel scalar_rhs(Panel p, double c, BinaryFn f) {
  with_fn(f, [&](auto fn) {
    map_cells(p.data, [&](double x) { return fn(x, c); });
    return 0;
  });
  return p;
}

Panel scalar_mul(Panel p, double c) {
  map_cells(p.data, [c](double x) { return x * c; });
  return p;
}

Panel gt(const Panel& a, const Panel& b) {
  return binary(a, b, GtFn{});
}
Panel lt(const Panel& a, const Panel& b) {
  return binary(a, b, LtFn{});
}
Panel ge(const Panel& a, const Panel& b) {
  return binary(a, b, GeFn{});
}
Panel le(const Panel& a, const Panel& b) {
  return binary(a, b, LeFn{});
}
Panel add(const Panel& a, const Panel& b) {
  return binary(a, b, AddFn{});
}
Panel sub(const Panel& a, const Panel& b) {
  return binary(a, b, SubFn{});
}
Panel mul(const Panel& a, const Panel& b) {
  return binary(a, b, MulFn{});
}
Panel div(const Panel& a, const Panel& b) {
  return binary(a, b, DivFn{});
}
Panel and_(const Panel& a, const Panel& b) {
  return binary(a, b, AndFn{});
}
Panel or_(const Panel& a, const Panel& b) {
  return binary(a, b, OrFn{});
}
Panel mask(const Panel& a, const Panel& b) {
  return binary(a, b, MaskFn{});
}

Panel neg(Panel p) {
  return scalar_mul(std::move(p), -1.0);
}

Panel not_(Panel p) {
  map_cells(p.data, [](double x) { return x == 1.0 ? 0.0 : 1.0; });
  return p;
}

Panel ceil(Panel p) {
  map_cells(p.data, [](double x) { return std::ceil(x); });
  return p;
}

}  // namespace korva::ops
