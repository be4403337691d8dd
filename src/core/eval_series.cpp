// Evaluation rows of the time-series, technical-analysis, signal and cross-sectional
// operators.
#include "core/eval.hpp"

namespace korva::detail {

Result<Panel> eval_series(const brindle::Expr& e, const EvalContext&) {
  return eval_error("operator " + std::string(brindle::tag_name(e.op())) + " is not available");
}

}  // namespace korva::detail
