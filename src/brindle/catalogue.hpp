// The brindle function and operator catalogue.
//
// One constant table describes every callable function: its names (the first is the
// canonical one the printer writes), the expression variant the call builds, and its
// arguments in positional order with their kinds. The parser reads it to turn calls into
// nodes and the printer reads it to turn nodes back into calls, so adding a function is
// adding one entry here. A second table pairs the ten infix symbols with their tags;
// binding strength belongs to the parser, not to the table.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "brindle/expr.hpp"

namespace korva::brindle {

// What an argument holds and whether a call may leave it out.
enum class ArgKind : unsigned char {
  Expr,       // an expression; required
  OptExpr,    // an expression; may be omitted
  ExprList,   // a bracketed list of expressions; required
  Number,     // a number literal; required
  OptNumber,  // a number literal; may be omitted
  Bool,       // `true` or `false`; may be omitted
  Str,        // a string literal; required
  OptStr,     // a string literal; may be omitted
  StrList,    // a bracketed list of string literals; may be omitted
};

// Whether a call may leave an argument of this kind out.
constexpr bool is_optional(ArgKind kind) {
  return kind != ArgKind::Expr && kind != ArgKind::ExprList && kind != ArgKind::Number &&
         kind != ArgKind::Str;
}

// One argument: its keyword in calls, which is also its field's JSON key.
struct ArgSpec {
  ArgKind kind;
  std::string_view name;
};

// One function.
struct OpSpec {
  std::span<const std::string_view> names;  // first = canonical
  Op op;                                    // the variant a call builds
  std::span<const ArgSpec> args;            // in positional order = the variant's field order
  std::string_view doc;                     // one line of user documentation

  std::string_view canonical_name() const { return names.front(); }
  std::string_view tag() const { return tag_name(op); }
};

// One infix operator.
struct BinOpSpec {
  std::string_view symbol;
  Op op;
};

// The 38 functions, in table order.
std::span<const OpSpec> ops();
// The 10 infix operators, in table order.
std::span<const BinOpSpec> binops();

// The first entry one of whose names equals `name` exactly (case-sensitive), or null.
const OpSpec* find_op_by_name(std::string_view name);
// The first entry building the variant `tag` (compared exactly), or null.
const OpSpec* find_op_by_tag(std::string_view tag);
const OpSpec* find_op_by_tag(Op op);
// The tag paired with an infix symbol, or none. Only the ten symbols match.
std::optional<Op> binop_tag(std::string_view symbol);
// The infix symbol paired with a tag, or none when the tag is not an infix operator.
std::optional<std::string_view> binop_symbol_for_tag(std::string_view tag);
std::optional<std::string_view> binop_symbol_for_tag(Op op);

}  // namespace korva::brindle
