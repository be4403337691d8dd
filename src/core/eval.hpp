// The evaluator: a post-order walk of a strategy tree over named panels.
//
// Every node evaluates its sub-trees in a fixed order (the first failure ends the walk)
// and then calls one operator. Series leaves yield independent copies of the context's
// panels; nothing is cached, so a sub-tree that occurs twice is evaluated twice.
#pragma once

#include <string>
#include <unordered_map>

#include "brindle/expr.hpp"
#include "core/error.hpp"
#include "core/panel.hpp"

namespace korva {

struct EvalContext {
  // Named input series, matched exactly (byte for byte, case-sensitive).
  std::unordered_map<std::string, Panel> panels;
  // Symbol to industry name; empty when the caller supplies none.
  std::unordered_map<std::string, std::string> industry;
};

Result<Panel> eval(const brindle::Expr& expr, const EvalContext& ctx);

// Shortest decimal text that reads back as `value`, positional, without a fractional part
// when integral (2.0 -> "2", 1e21 -> "1" followed by 21 zeros).
std::string render_const(double value);

namespace detail {
// Evaluation rows of the operator families, each in its own file.
Result<Panel> eval_series(const brindle::Expr& expr, const EvalContext& ctx);
Result<Panel> eval_groups(const brindle::Expr& expr, const EvalContext& ctx);
}  // namespace detail

}  // namespace korva
