// brindle source to the JSON expression tree.
//
// A program is zero or more `let` bindings followed by one expression. Bindings are
// substituted at parse time, so the tree holds copies of the bound trees and never a
// name. The parser builds JSON values directly (objects keep their keys sorted).
//
// Limits, so that no source can exhaust the stack or memory:
// - Source nesting (parentheses, prefix operators, calls, lists) is bounded by
//   kMaxNesting levels; the construct that would open one more level fails with
//   "expression nested too deeply" at its first token.
// - Substituting bindings can make a tree exponentially larger than its source
//   (`let b = a + a` repeated). The JSON values copied in by substitution are counted
//   over the whole program; the reference that would take the count past
//   kMaxSubstitutedValues fails at its name with kTooLargeMessage.
// The tree itself may still be arbitrarily deep (a long chain `a + b + c + ...` or a chain
// of bindings each using the previous one): the parser builds such trees without
// recursion, and nothing in this layer walks a tree recursively.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "brindle/catalogue.hpp"
#include "brindle/parse_error.hpp"
#include "json/value.hpp"

namespace korva::brindle {

inline constexpr std::size_t kMaxNesting = 256;
inline constexpr std::size_t kMaxSubstitutedValues = 1'000'000;
inline constexpr std::string_view kTooDeepMessage = "expression nested too deeply";
inline constexpr std::string_view kTooLargeMessage =
    "expression too large: `let` substitution exceeds 1000000 values";

// A name and the position of its token.
struct NameRef {
  std::string name;
  std::size_t line = 0;
  std::size_t col = 0;
  friend bool operator==(const NameRef&, const NameRef&) = default;
};

struct Analysis {
  json::Value expr;
  std::vector<NameRef> unused_lets;  // bindings never referred to, in definition order
  std::vector<NameRef> series_refs;  // every series reference, in order of appearance
};

std::expected<json::Value, ParseError> parse(std::string_view src);
std::expected<Analysis, ParseError> parse_analyzed(std::string_view src);

// Turns an operand into a node: objects unchanged, numbers into `Const`; booleans,
// strings, null and lists are refused with a message.
std::expected<json::Value, std::string> promote(json::Value value);

// One keyword argument of a call, in the order written (a repeated keyword keeps its first
// place and takes the later value).
struct KeywordArg {
  std::string name;
  json::Value value;
};

// Turns a call into the node of `spec`'s variant, checking each argument by its kind.
std::expected<json::Value, std::string> build(const OpSpec& spec,
                                              std::vector<json::Value> positional,
                                              std::vector<KeywordArg> keywords);

// Copies a value of any depth without recursion.
json::Value deep_copy(const json::Value& value);
// Size and depth of a value, measured without recursion: `count` JSON values (itself,
// array elements and object members, at every depth), `depth` levels (a scalar is 1).
struct TreeStats {
  std::size_t count = 0;
  std::size_t depth = 0;
};
TreeStats tree_stats(const json::Value& value);
std::size_t value_count(const json::Value& value);

}  // namespace korva::brindle
