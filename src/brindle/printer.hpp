// Canonical brindle source from a JSON expression tree.
//
// The canonical form parenthesises every operator, uses each function's canonical name,
// writes required expression, number and string arguments positionally and the rest as
// keywords, and spreads a call over indented lines when one of its expression arguments
// is itself compound. Values that are not nodes print as literals, and nodes with an
// unknown tag as "(/* unprintable op {tag} */)": printing never fails.
//
// The printer walks the tree with an explicit stack, so any depth prints without
// exhausting the native stack. Indentation grows by two spaces per call level up to
// kMaxIndentLevels levels and then stays there: this keeps the output linear in the size
// of the tree (a chain of n nested multi-line calls would otherwise need about n*n
// spaces). Source nested that deep cannot be parsed back anyway (the parser stops at the
// same number of levels), so every re-readable text is printed exactly.
#pragma once

#include <cstddef>
#include <string>

#include "json/value.hpp"

namespace korva::brindle {

inline constexpr std::size_t kMaxIndentLevels = 256;

// format_at(tree, 0).
std::string format(const json::Value& tree);
// Renders `value` as if it stood at call nesting depth `depth` (which sets the
// indentation of multi-line calls).
std::string format_at(const json::Value& value, std::size_t depth);
// Renders a JSON value that is not a node: null, true/false, integers, doubles (shortest
// round-trip digits, positional for decimal exponents -5..15 with ".0" for whole values,
// else scientific like 1e+16), strings in double quotes without escaping, and lists and
// objects as compact JSON.
std::string literal(const json::Value& value);
void append_literal(const json::Value& value, std::string& out);
// The double rule of `literal` alone; a non-finite double is written as null.
void append_double(double d, std::string& out);

}  // namespace korva::brindle
