#include "core/strategy.hpp"

namespace korva {

Result<Panel> run_strategy(std::string_view json, const EvalContext& ctx) {
  auto expr = brindle::read_expr(json);
  if (!expr) return eval_error(std::move(expr).error());
  return eval(*expr, ctx);
}

Result<json::Value> run_backtest_json(std::string_view json, const EvalContext& ctx,
                                      std::string_view, const BacktestConfig&) {
  KORVA_TRY(Panel weights, run_strategy(json, ctx));
  (void)weights;
  return eval_error("backtest not available");
}

}  // namespace korva
