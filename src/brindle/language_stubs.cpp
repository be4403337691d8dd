// Placeholder definitions until the language front end lands.
#include "brindle/linter.hpp"
#include "brindle/parser.hpp"
#include "brindle/printer.hpp"

namespace korva::brindle {

std::expected<json::Value, ParseError> parse(std::string_view) {
  return std::unexpected(ParseError{"parser not available", 1, 1});
}
std::string format(const json::Value&) { return {}; }
std::expected<std::vector<Lint>, ParseError> lint(std::string_view,
                                                  const std::vector<std::string>*) {
  return std::unexpected(ParseError{"parser not available", 1, 1});
}

}  // namespace korva::brindle
