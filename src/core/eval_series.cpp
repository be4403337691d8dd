// Evaluation rows of the time-series, technical-analysis, signal and cross-sectional
// operators. Each row evaluates its sub-trees in the order of the node's fields (the first
// failure ends the evaluation) and then makes one call.
#include "core/eval.hpp"
#include "core/ops/cross_section.hpp"
#include "core/ops/indicators.hpp"
#include "core/ops/signals.hpp"
#include "core/ops/ta.hpp"

namespace korva::detail {

namespace {

using brindle::Expr;
using brindle::Op;

// `of` (field 0), then f(panel, n) with the count of field 1.
template <typename F>
Result<Panel> of_n(const Expr& e, const EvalContext& ctx, F f) {
  KORVA_TRY(Panel p, eval(e.sub(0), ctx));
  return f(p, e.count(1));
}

template <typename F>
Result<Panel> of(const Expr& e, const EvalContext& ctx, F f) {
  KORVA_TRY(Panel p, eval(e.sub(0), ctx));
  return f(p);
}

// `high`, `low`, `close` (fields 0 to 2), then f(high, low, close).
template <typename F>
Result<Panel> hlc(const Expr& e, const EvalContext& ctx, F f) {
  KORVA_TRY(Panel high, eval(e.sub(0), ctx));
  KORVA_TRY(Panel low, eval(e.sub(1), ctx));
  KORVA_TRY(Panel close, eval(e.sub(2), ctx));
  return f(high, low, close);
}

// `high`, `low`, `close`, `volume` (fields 0 to 3), then f(high, low, close, volume, n).
template <typename F>
Result<Panel> hlcv(const Expr& e, const EvalContext& ctx, F f) {
  KORVA_TRY(Panel high, eval(e.sub(0), ctx));
  KORVA_TRY(Panel low, eval(e.sub(1), ctx));
  KORVA_TRY(Panel close, eval(e.sub(2), ctx));
  KORVA_TRY(Panel volume, eval(e.sub(3), ctx));
  return f(high, low, close, volume, e.count(4));
}

}  // namespace

Result<Panel> eval_series(const Expr& e, const EvalContext& ctx) {
  using P = const Panel&;
  switch (e.op()) {
    case Op::Average:
      return of_n(e, ctx, ops::average);
    case Op::Ema:
      return of_n(e, ctx, ops::ema);
    case Op::Std:
      return of_n(e, ctx, ops::rolling_std);
    case Op::Rsi:
      return of_n(e, ctx, ops::rsi);
    case Op::PctChange:
      return of_n(e, ctx, ops::pct_change);
    case Op::Rise:
      return of_n(e, ctx, ops::rise);
    case Op::Fall:
      return of_n(e, ctx, ops::fall);
    case Op::RollingMax:
      return of_n(e, ctx, ops::rolling_max);

    case Op::Atr:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::atr(h, l, c, e.count(3)); });
    case Op::Natr:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::natr(h, l, c, e.count(3)); });
    case Op::WillR:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::willr(h, l, c, e.count(3)); });
    case Op::Cci:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::cci(h, l, c, e.count(3)); });
    case Op::StochK:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::stoch_k(h, l, c, e.count(3)); });
    case Op::StochD:
      return hlc(e, ctx,
                 [&](P h, P l, P c) { return ops::stoch_d(h, l, c, e.count(3), e.count(4)); });
    case Op::Adx:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::adx(h, l, c, e.count(3)); });
    case Op::PlusDi:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::di_panel(h, l, c, e.count(3), true); });
    case Op::MinusDi:
      return hlc(e, ctx, [&](P h, P l, P c) { return ops::di_panel(h, l, c, e.count(3), false); });
    case Op::AroonUp:
      return of_n(e, ctx, [](P p, std::size_t n) { return ops::aroon_dir(p, n, true); });
    case Op::AroonDown:
      return of_n(e, ctx, [](P p, std::size_t n) { return ops::aroon_dir(p, n, false); });
    case Op::Obv: {
      KORVA_TRY(Panel close, eval(e.sub(0), ctx));
      KORVA_TRY(Panel volume, eval(e.sub(1), ctx));
      return ops::obv(close, volume);
    }
    case Op::Mfi:
      return hlcv(e, ctx, ops::mfi);
    case Op::Vwap:
      return hlcv(e, ctx, ops::vwap);

    case Op::Sustain:
      return of(e, ctx, [&](P p) { return ops::sustain(p, e.count(1), e.opt_count(2)); });
    case Op::IsEntry:
      return of(e, ctx, ops::is_entry);
    case Op::IsExit:
      return of(e, ctx, ops::is_exit);

    case Op::IsLargest:
      return of_n(e, ctx, [](P p, std::size_t n) { return ops::top_n(p, n, true); });
    case Op::IsSmallest:
      return of_n(e, ctx, [](P p, std::size_t n) { return ops::top_n(p, n, false); });
    case Op::Rank:
      return of(e, ctx, [&](P p) { return ops::rank_cs(p, e.flag(1), e.flag(2)); });
    case Op::NormalizeRow:
      return of(e, ctx, ops::normalize_row);

    default:
      break;
  }
  return eval_error("operator " + std::string(brindle::tag_name(e.op())) + " is not available");
}

}  // namespace korva::detail
