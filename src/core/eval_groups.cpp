// Evaluation rows of neutralization, industry-group, rebalancing and rotation operators.
#include <cmath>
#include <limits>
#include <vector>

#include "core/eval.hpp"
#include "core/ops/neutralize.hpp"
#include "core/ops/rebalance.hpp"
#include "core/ops/rotation.hpp"

namespace korva::detail {

namespace {

using brindle::Expr;
using brindle::Op;

// Neutralize: `of`, then every `by` element in list order.
Result<Panel> eval_neutralize(const Expr& e, const EvalContext& ctx) {
  KORVA_TRY(Panel of, eval(e.sub(0), ctx));
  const std::vector<Expr>& by = e.subs(1);
  std::vector<Panel> factors;
  factors.reserve(by.size());
  for (const Expr& f : by) {
    KORVA_TRY(Panel p, eval(f, ctx));
    factors.push_back(std::move(p));
  }
  return ops::neutralize(of, factors, e.flag(2));
}

// Rebalance: `of` first; the calendar fields are examined only afterwards, and `on` is not
// evaluated when `freq` is given too.
Result<Panel> eval_rebalance(const Expr& e, const EvalContext& ctx) {
  KORVA_TRY(Panel of, eval(e.sub(0), ctx));
  const std::string* freq = e.opt_text(1);
  const Expr* on = e.opt_sub(2);
  if (freq == nullptr && on == nullptr) return eval_error("Rebalance needs freq or on");
  if (freq == nullptr) {
    KORVA_TRY(Panel when, eval(*on, ctx));
    // A row counts when it holds at least one finite, non-zero value.
    std::vector<std::int32_t> dates;
    for (std::size_t r = 0; r < when.rows(); ++r) {
      const double* row = when.data.row(r);
      for (std::size_t s = 0; s < when.cols(); ++s) {
        if (std::isfinite(row[s]) && row[s] != 0.0) {
          dates.push_back(when.dates[r]);
          break;
        }
      }
    }
    return ops::rebalance_dates(of, dates);
  }
  if (on != nullptr) return eval_error("Rebalance takes either freq or on, not both");
  const std::optional<ops::PeriodCode> code = ops::period_code(*freq);
  if (!code) return eval_error("bad freq '" + *freq + "'");
  return ops::rebalance_freq(of, *code);
}

// HoldUntil: `entry`, `exit`, then `rank` when given. Any stop field requires the context
// panel named exactly "close"; `trail_stop_activation` alone does not.
Result<Panel> eval_hold_until(const Expr& e, const EvalContext& ctx) {
  KORVA_TRY(Panel entry, eval(e.sub(0), ctx));
  KORVA_TRY(Panel exit, eval(e.sub(1), ctx));
  std::optional<Panel> rank;
  if (const Expr* r = e.opt_sub(3)) {
    KORVA_TRY(Panel p, eval(*r, ctx));
    rank = std::move(p);
  }
  constexpr double inf = std::numeric_limits<double>::infinity();
  ops::HoldUntilOpts opts;
  opts.nstocks_limit = e.opt_count(2);
  opts.rank = rank ? &*rank : nullptr;
  const std::optional<double> stop_loss = e.opt_number(4);
  const std::optional<double> take_profit = e.opt_number(5);
  const std::optional<double> trail_stop = e.opt_number(6);
  opts.stop_loss = stop_loss.value_or(-inf);
  opts.take_profit = take_profit.value_or(inf);
  opts.trail_stop = trail_stop.value_or(inf);
  opts.trail_stop_activation = e.opt_number(7).value_or(0.0);
  if (stop_loss || take_profit || trail_stop) {
    auto it = ctx.panels.find("close");
    if (it == ctx.panels.end()) return eval_error("HoldUntil stops require a 'close' panel");
    opts.close = &it->second;  // read only: the operator projects it onto its own grid
  }
  return ops::hold_until(entry, exit, opts);
}

}  // namespace

Result<Panel> eval_groups(const Expr& e, const EvalContext& ctx) {
  switch (e.op()) {
    case Op::Neutralize:
      return eval_neutralize(e, ctx);
    case Op::NeutralizeIndustry: {
      // The node's add_const takes no part: industry demeaning has no constant option.
      KORVA_TRY(Panel of, eval(e.sub(0), ctx));
      return ops::neutralize_industry(of, ctx.industry);
    }
    case Op::IndustryRank: {
      KORVA_TRY(Panel of, eval(e.sub(0), ctx));
      return ops::industry_rank(of, ctx.industry, e.opt_texts(1));
    }
    case Op::GroupbyCategory: {
      KORVA_TRY(Panel of, eval(e.sub(0), ctx));
      return ops::groupby_category(of, ctx.industry, e.text(1));
    }
    case Op::Rebalance:
      return eval_rebalance(e, ctx);
    case Op::HoldUntil:
      return eval_hold_until(e, ctx);
    default:
      return eval_error("operator " + std::string(brindle::tag_name(e.op())) + " is not available");
  }
}

}  // namespace korva::detail
