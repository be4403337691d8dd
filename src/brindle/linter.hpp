// Lint findings on brindle source: unused `let` bindings and unknown series.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "brindle/parse_error.hpp"

namespace korva::brindle {

struct Lint {
  std::size_t line = 0;
  std::size_t col = 0;
  std::string message;
};

// `series` null: series names are not examined.
std::expected<std::vector<Lint>, ParseError> lint(std::string_view src,
                                                  const std::vector<std::string>* series);

}  // namespace korva::brindle
