// The engine's front door: strategy JSON text plus named panels to a weight panel or to a
// complete backtest report.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/config.hpp"
#include "core/eval.hpp"
#include "core/report.hpp"
#include "json/value.hpp"

namespace korva {

// The bootstrap seed every report uses, so a report is reproducible from its inputs.
inline constexpr std::uint64_t kBootstrapSeed = 12679685;

// Reads the tree (a reader failure becomes an Eval error with the reader's text) and
// evaluates it.
Result<Panel> run_strategy(std::string_view json, const EvalContext& ctx);

// Evaluates the strategy to weights, simulates them against the panel named `price_key`
// (with the optional "high", "low" and "volume" panels), and builds the report with the
// configured benchmark and bootstrap. Errors, in order of precedence: the tree reader's,
// the evaluation's, "unknown price series '{price_key}'", then "unknown benchmark series
// '{key}'" or "benchmark series '{key}' has no symbols" (checked after the simulation).
Result<Report> run_backtest(std::string_view json, const EvalContext& ctx,
                            std::string_view price_key, const BacktestConfig& config);

// run_backtest followed by the report's JSON form; what front ends call.
Result<json::Value> run_backtest_json(std::string_view json, const EvalContext& ctx,
                                      std::string_view price_key, const BacktestConfig& config);

}  // namespace korva
