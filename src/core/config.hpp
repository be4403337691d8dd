// Every knob of a backtest. Each default is zero or absent, and a knob switches its
// feature on only when its value passes the engine's test (see backtest.hpp); nothing is
// validated for range or sign.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace korva {

struct BacktestConfig {
  std::optional<std::string> benchmark_key;
  double fee_ratio = 0.0;
  double tax_ratio = 0.0;
  double position_limit = 0.0;
  double slippage_ratio = 0.0;
  double initial_capital = 0.0;
  double max_participation = 0.0;
  double impact_coef = 0.0;
  std::size_t delist_after = 0;
  double delist_haircut = 0.0;
  std::size_t bootstrap_samples = 0;
  std::size_t bootstrap_block = 0;
};

}  // namespace korva
