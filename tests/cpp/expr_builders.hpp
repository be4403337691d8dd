// Builders for expression trees in tests: fields are given in the variant's declared order.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "brindle/expr.hpp"

namespace korva::testing {

template <typename... F>
brindle::Expr node(brindle::Op op, F&&... fields) {
  std::vector<brindle::Field> v;
  (v.emplace_back(std::forward<F>(fields)), ...);
  return brindle::Expr(op, std::move(v));
}

inline brindle::ExprPtr ptr(brindle::Expr e) {
  return std::make_unique<brindle::Expr>(std::move(e));
}

inline brindle::ExprPtr data(const std::string& name) {
  return ptr(node(brindle::Op::Data, name));
}

inline brindle::ExprPtr constant(double v) {
  return ptr(node(brindle::Op::Const, v));
}

// A subtree list from owned subtrees.
template <typename... P>
std::vector<brindle::Expr> list(P... items) {
  std::vector<brindle::Expr> out;
  (out.push_back(std::move(*items)), ...);
  return out;
}

}  // namespace korva::testing
