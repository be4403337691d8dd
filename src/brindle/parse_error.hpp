// The language layer's error: a message with a 1-based line and column.
#pragma once

#include <cstddef>
#include <string>

namespace korva::brindle {

struct ParseError {
  std::string message;
  std::size_t line = 0;
  std::size_t col = 0;

  // "{line}:{col}: {message}"
  std::string display() const {
    return std::to_string(line) + ":" + std::to_string(col) + ": " + message;
  }
  friend bool operator==(const ParseError&, const ParseError&) = default;
};

}  // namespace korva::brindle
