#include "core/eval.hpp"

#include <charconv>

#include "core/ops/arith.hpp"

namespace korva {

using brindle::Expr;
using brindle::Op;

std::string render_const(double value) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, end);
}

namespace {

Result<Panel> bare_const(const Expr& e) {
  return eval_error("bare Const " + render_const(e.number(0)) + " not allowed at top level");
}

// The eight numeric binary operations look at their operand nodes before evaluating
// them: a Const operand becomes a scalar on its side.
Result<Panel> eval_numeric(const Expr& e, const EvalContext& ctx, ops::BinaryFn f) {
  const Expr& l = e.sub(0);
  const Expr& r = e.sub(1);
  const bool l_const = l.op() == Op::Const;
  const bool r_const = r.op() == Op::Const;
  if (l_const && r_const) return eval_error("both operands of a binary op are Const");
  if (l_const) {
    KORVA_TRY(Panel p, eval(r, ctx));
    return ops::scalar_lhs(std::move(p), l.number(0), f);
  }
  if (r_const) {
    KORVA_TRY(Panel p, eval(l, ctx));
    return ops::scalar_rhs(std::move(p), r.number(0), f);
  }
  KORVA_TRY(Panel a, eval(l, ctx));
  KORVA_TRY(Panel b, eval(r, ctx));
  return ops::ewise(a, b, f);
}

template <typename F>
Result<Panel> eval_pair(const Expr& e, const EvalContext& ctx, F f) {
  KORVA_TRY(Panel a, eval(e.sub(0), ctx));
  KORVA_TRY(Panel b, eval(e.sub(1), ctx));
  return f(a, b);
}

template <typename F>
Result<Panel> eval_unary(const Expr& e, const EvalContext& ctx, F f) {
  KORVA_TRY(Panel p, eval(e.sub(0), ctx));
  return f(std::move(p));
}

}  // namespace

Result<Panel> eval(const Expr& e, const EvalContext& ctx) {
  switch (e.op()) {
    case Op::Data: {
      auto it = ctx.panels.find(e.text(0));
      if (it == ctx.panels.end()) return eval_error("unknown series '" + e.text(0) + "'");
      return it->second.clone();
    }
    case Op::Const:
      return bare_const(e);
    case Op::Shift: {
      KORVA_TRY(Panel p, eval(e.sub(0), ctx));
      return p.shift(e.count(1));
    }
    case Op::Gt:
      return eval_numeric(e, ctx, ops::BinaryFn::Gt);
    case Op::Lt:
      return eval_numeric(e, ctx, ops::BinaryFn::Lt);
    case Op::Ge:
      return eval_numeric(e, ctx, ops::BinaryFn::Ge);
    case Op::Le:
      return eval_numeric(e, ctx, ops::BinaryFn::Le);
    case Op::Add:
      return eval_numeric(e, ctx, ops::BinaryFn::Add);
    case Op::Sub:
      return eval_numeric(e, ctx, ops::BinaryFn::Sub);
    case Op::Mul:
      return eval_numeric(e, ctx, ops::BinaryFn::Mul);
    case Op::Div:
      return eval_numeric(e, ctx, ops::BinaryFn::Div);
    case Op::And:
      return eval_pair(e, ctx, ops::and_);
    case Op::Or:
      return eval_pair(e, ctx, ops::or_);
    case Op::Mask:
      return eval_pair(e, ctx, ops::mask);
    case Op::Not:
      return eval_unary(e, ctx, ops::not_);
    case Op::Neg:
      return eval_unary(e, ctx, ops::neg);
    case Op::Ceil:
      return eval_unary(e, ctx, ops::ceil);

    case Op::Neutralize:
    case Op::NeutralizeIndustry:
    case Op::IndustryRank:
    case Op::GroupbyCategory:
    case Op::Rebalance:
    case Op::HoldUntil:
      return detail::eval_groups(e, ctx);

    default:
      return detail::eval_series(e, ctx);
  }
}

}  // namespace korva
