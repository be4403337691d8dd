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
  friend bool operator==(const Lint&, const Lint&) = default;
};

// Findings sorted by position (stably: at one position, binding findings come before
// series findings). `series` null: series names are not examined; otherwise every series
// reference missing from `series` (compared exactly) is reported once, at its first
// occurrence, with the nearest name of `series` within edit distance 2 as a suggestion.
// A source that does not parse gives its ParseError.
std::expected<std::vector<Lint>, ParseError> lint(std::string_view src,
                                                  const std::vector<std::string>* series);

// Edit distance between two texts, counted over characters (Unicode scalar values of the
// UTF-8 texts), each insertion, deletion and substitution costing 1.
std::size_t levenshtein(std::string_view a, std::string_view b);

// The same distance when it is at most `limit`, else limit + 1. Only a band of 2 * limit + 1
// cells per row is computed, so the time is proportional to the shorter text, not to the
// product of the lengths. The suggestion search uses it with limit 2.
std::size_t levenshtein_within(std::string_view a, std::string_view b, std::size_t limit);

}  // namespace korva::brindle
