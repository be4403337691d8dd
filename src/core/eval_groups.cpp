// Evaluation rows of neutralization, industry-group, rebalancing and rotation operators.
#include "core/eval.hpp"

namespace korva::detail {

Result<Panel> eval_groups(const brindle::Expr& e, const EvalContext&) {
  return eval_error("operator " + std::string(brindle::tag_name(e.op())) + " is not available");
}

}  // namespace korva::detail
