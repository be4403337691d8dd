#include "core/strategy.hpp"

#include <string>
#include <utility>

#include "core/backtest.hpp"
#include "core/bootstrap.hpp"

namespace korva {

namespace {

// The context panel named exactly `name`, or null.
const Panel* find_panel(const EvalContext& ctx, std::string_view name) {
  auto it = ctx.panels.find(std::string(name));
  return it == ctx.panels.end() ? nullptr : &it->second;
}

}  // namespace

Result<Panel> run_strategy(std::string_view json, const EvalContext& ctx) {
  auto expr = brindle::read_expr(json);
  if (!expr) return eval_error(std::move(expr).error());
  return eval(*expr, ctx);
}

Result<Report> run_backtest(std::string_view json, const EvalContext& ctx,
                            std::string_view price_key, const BacktestConfig& config) {
  KORVA_TRY(const Panel weights, run_strategy(json, ctx));
  const Panel* prices = find_panel(ctx, price_key);
  if (prices == nullptr) {
    return eval_error("unknown price series '" + std::string(price_key) + "'");
  }
  BacktestRun result = run(weights, *prices, find_panel(ctx, "high"), find_panel(ctx, "low"),
                           find_panel(ctx, "volume"), config);

  std::optional<std::vector<double>> benchmark;
  if (config.benchmark_key) {
    const std::string& key = *config.benchmark_key;
    const Panel* bench = find_panel(ctx, key);
    if (bench == nullptr) return eval_error("unknown benchmark series '" + key + "'");
    if (bench->cols() == 0) return eval_error("benchmark series '" + key + "' has no symbols");
    std::vector<double> first_column(bench->rows());
    for (std::size_t i = 0; i < bench->rows(); ++i) first_column[i] = bench->data(i, 0);
    benchmark = benchmark_equity(result.dates, bench->dates, first_column);
  }

  Report report = build_report_with_benchmark(std::move(result), std::move(benchmark));
  if (config.bootstrap_samples != 0) {
    report.bootstrap = bootstrap(report.dates, report.equity, config.bootstrap_samples,
                                 config.bootstrap_block, kBootstrapSeed);
  }
  return report;
}

Result<json::Value> run_backtest_json(std::string_view json, const EvalContext& ctx,
                                      std::string_view price_key, const BacktestConfig& config) {
  KORVA_TRY(const Report report, run_backtest(json, ctx, price_key, config));
  return to_json(report);
}

}  // namespace korva
