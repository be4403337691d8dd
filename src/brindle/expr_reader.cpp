#include "brindle/expr.hpp"

namespace korva::brindle {

std::expected<Expr, std::string> read_expr(std::string_view) {
  return std::unexpected(std::string("EOF while parsing a value at line 1 column 0"));
}

}  // namespace korva::brindle
