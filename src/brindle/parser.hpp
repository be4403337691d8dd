// brindle source to the JSON expression tree.
#pragma once

#include <expected>
#include <string_view>

#include "brindle/parse_error.hpp"
#include "json/value.hpp"

namespace korva::brindle {

std::expected<json::Value, ParseError> parse(std::string_view src);

}  // namespace korva::brindle
