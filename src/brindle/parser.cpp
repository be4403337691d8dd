#include "brindle/parser.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <unordered_map>
#include <utility>

#include "brindle/lexer.hpp"

// Evaluates `expr` (a std::expected); on error returns the error from the enclosing
// function, otherwise moves the value into a new variable `var`.
#define BRINDLE_CONCAT_INNER(a, b) a##b
#define BRINDLE_CONCAT(a, b) BRINDLE_CONCAT_INNER(a, b)
#define BRINDLE_TRY(var, expr) BRINDLE_TRY_IMPL(BRINDLE_CONCAT(brindle_try_, __LINE__), var, expr)
#define BRINDLE_TRY_IMPL(tmp, var, expr)                                \
  auto tmp = (expr);                                                    \
  if (!tmp.has_value()) return std::unexpected(std::move(tmp).error()); \
  auto var = std::move(tmp).value()

namespace korva::brindle {

namespace {

using json::Value;

bool is_compound(const Value& v) {
  return v.is_array() || v.is_object();
}

// An empty container of the same kind as `v`, or a copy of `v` when it is a scalar.
Value shell(const Value& v) {
  if (v.is_array()) return Value(json::Array{});
  if (v.is_object()) return Value(json::Object{});
  return v;
}

// For every variant, an object with "op" set to its tag and every key that its nodes
// always carry mapped to null: the operands of operators, `name` and `value` of the
// leaves, the required arguments of catalogue functions. Copying a prototype allocates the
// member array once, where inserting member by member would grow it step by step.
const std::array<json::Object, kVariantCount>& prototypes() {
  static const std::array<json::Object, kVariantCount> table = [] {
    std::array<json::Object, kVariantCount> t;
    for (std::size_t i = 0; i < kVariantCount; ++i) {
      t[i].insert("op", Value(tag_name(static_cast<Op>(i))));
    }
    auto at = [&](Op op) -> json::Object& { return t[static_cast<std::size_t>(op)]; };
    for (const BinOpSpec& b : binops()) {
      at(b.op).insert("l", Value());
      at(b.op).insert("r", Value());
    }
    at(Op::Not).insert("of", Value());
    at(Op::Neg).insert("of", Value());
    at(Op::Data).insert("name", Value());
    at(Op::Const).insert("value", Value());
    for (const OpSpec& spec : ops()) {
      for (const ArgSpec& arg : spec.args) {
        if (!is_optional(arg.kind)) at(spec.op).insert(std::string(arg.name), Value());
      }
    }
    return t;
  }();
  return table;
}

Value make_node(Op op) {
  return Value(json::Object(prototypes()[static_cast<std::size_t>(op)]));
}

// Sets a member that the node's prototype already holds.
void set(Value& node, std::string_view key, Value&& v) {
  *node.as_object().find(key) = std::move(v);
}

Value const_node(Value number) {
  Value node = make_node(Op::Const);
  set(node, "value", std::move(number));
  return node;
}

// The JSON number of a literal: an integer when it is whole and safely below 2^53, a
// double otherwise, null when it overflowed to infinity.
Value number_value(double x) {
  if (std::fabs(x) < 9007000000000000.0 && x == std::trunc(x)) {
    return Value(static_cast<std::int64_t>(x));
  }
  return Value(x);
}

// Binding power of an infix operator token, 0 when the token is none.
int infix_power(const Token& t) {
  if (t.kind == TokenKind::Ident) {
    if (t.text == "or") return 2;
    if (t.text == "and") return 4;
    return 0;
  }
  if (t.kind != TokenKind::Op) return 0;
  const std::string& s = t.text;
  if (s == "<" || s == ">" || s == "<=" || s == ">=") return 6;
  if (s == "+" || s == "-") return 8;
  if (s == "*" || s == "/") return 10;
  return 0;
}

constexpr int kNotPower = 5;
constexpr int kNegPower = 7;

// Trees up to this depth are copied with the values' own (recursive) copy, which
// allocates less; deeper ones with deep_copy.
constexpr std::size_t kRecursiveCopyDepth = 64;

// Parsing steps return false after recording the first error in `error_`; values are
// built in place through out-parameters, so no step returns a tree by value.
class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : toks_(std::move(tokens)) {}

  std::expected<Analysis, ParseError> program() {
    if (!run()) return std::unexpected(std::move(error_));
    Analysis out;
    out.expr = std::move(body_);
    for (std::size_t i = 0; i < lets_.size(); ++i) {
      if (!bound_[i].used) out.unused_lets.push_back(std::move(lets_[i]));
    }
    out.series_refs = std::move(series_refs_);
    return out;
  }

 private:
  struct Binding {
    Value value;
    TreeStats stats;
    bool used = false;
  };

  bool run() {
    const auto lets = std::count_if(toks_.begin(), toks_.end(),
                                    [](const Token& t) { return t.kind == TokenKind::Let; });
    bindings_.reserve(static_cast<std::size_t>(lets));
    bound_.reserve(static_cast<std::size_t>(lets));
    lets_.reserve(static_cast<std::size_t>(lets));
    while (cur().kind == TokenKind::Let) {
      next();
      const Token& name = next();
      if (name.kind != TokenKind::Ident) return fail_at(name, "expected name after `let`");
      if (next().kind != TokenKind::Eq) return fail("expected `=` in let binding");
      Value node;
      if (!expr(0, node) || !promote_here(node)) return false;
      if (!bindings_.try_emplace(name.text, bound_.size()).second) {
        return fail_at(name, "`", name.text, "` is already defined");
      }
      lets_.push_back({name.text, name.line, name.col});
      const TreeStats stats = tree_stats(node);
      bound_.push_back(Binding{std::move(node), stats});
    }
    if (!expr(0, body_)) return false;
    if (cur().kind != TokenKind::Eof) return fail("unexpected trailing input");
    if (!body_.is_object()) return fail("a strategy must be an expression, not a bare constant");
    return true;
  }

  const Token& cur() const { return toks_[pos_]; }
  // The current token; moves on, except past the final `Eof`.
  const Token& next() {
    const Token& t = toks_[pos_];
    if (pos_ + 1 < toks_.size()) ++pos_;
    return t;
  }
  // Records an error made of up to three pieces. Kept out of line so that the recursive
  // steps do not carry message temporaries in their frames.
  [[gnu::noinline]] bool fail_at(const Token& t, std::string_view a, std::string_view b = {},
                                 std::string_view c = {}) {
    std::string message;
    message.reserve(a.size() + b.size() + c.size());
    message.append(a).append(b).append(c);
    error_ = ParseError{std::move(message), t.line, t.col};
    return false;
  }
  bool fail(std::string_view a) { return fail_at(cur(), a); }

  // Opens one level of source nesting at token `t`.
  bool enter(const Token& t) {
    if (++depth_ > kMaxNesting) return fail_at(t, kTooDeepMessage);
    return true;
  }
  void leave() { --depth_; }

  // `promote` in place, reporting a failure at the current token.
  bool promote_here(Value& v) { return v.is_object() || promote_value(v); }
  [[gnu::noinline]] bool promote_value(Value& v) {
    auto p = promote(std::move(v));
    if (!p) return fail(p.error());
    v = std::move(*p);
    return true;
  }

  // Precedence climbing with an explicit stack of pending infix operators, so that a long
  // chain of operators costs no native stack; only the nesting constructs (parentheses,
  // prefix operators, calls, lists) recurse, and those are bounded by kMaxNesting.
  // Equivalent to parsing each right operand with expr(power + 1): an operator whose power
  // is at most that of the pending one first completes the pending node.
  //
  // The steps on the recursive path (expr, operand, primary, call, arg_value) leave node
  // building and messages to out-of-line helpers, which keeps their frames small: the
  // native stack needed per nesting level stays a few hundred bytes in optimised builds
  // and a few kilobytes under AddressSanitizer.
  bool expr(int min, Value& out) {
    std::vector<Pending> pending;
    if (!operand(out)) return false;
    for (;;) {
      const int power = infix_power(cur());
      const bool ends = power == 0 || power < min;
      if (!reduce(pending, ends ? 0 : power, out)) return false;
      if (ends) return true;
      push_pending(pending, power, out);
      if (!operand(out)) return false;
    }
  }

  struct Pending {
    Value left;
    Op op;
    int power;
  };

  // Completes the pending operators whose power is at least `power` (all for 0), innermost
  // first, with `out` as the right operand of the innermost.
  [[gnu::noinline]] bool reduce(std::vector<Pending>& pending, int power, Value& out) {
    while (!pending.empty() && pending.back().power >= power) {
      Pending& p = pending.back();
      if (!promote_here(p.left) || !promote_here(out)) return false;
      Value node = make_node(p.op);
      set(node, "l", std::move(p.left));
      set(node, "r", std::move(out));
      out = std::move(node);
      pending.pop_back();
    }
    return true;
  }

  // Consumes the current infix operator, parking `out` as its left operand.
  [[gnu::noinline]] void push_pending(std::vector<Pending>& pending, int power, Value& out) {
    pending.push_back({std::move(out), *binop_tag(cur().text), power});
    next();
  }

  // A prefix operator with its operand, or a primary.
  [[gnu::noinline]] bool operand(Value& out) {
    const Token& t = cur();
    const bool is_not = t.kind == TokenKind::Ident && t.text == "not";
    if (!is_not && t.kind == TokenKind::Op && t.text != "-") {
      return fail_at(t, "unexpected operator `", t.text, "`");
    }
    if (!is_not && t.kind != TokenKind::Op) return primary(out);
    if (!enter(t)) return false;
    next();
    if (!expr(is_not ? kNotPower : kNegPower, out) || !promote_here(out)) return false;
    leave();
    wrap(is_not ? Op::Not : Op::Neg, out);
    return true;
  }

  // Replaces `out` by a prefix node over it.
  [[gnu::noinline]] static void wrap(Op op, Value& out) {
    Value node = make_node(op);
    set(node, "of", std::move(out));
    out = std::move(node);
  }

  // The value of a number, string or boolean token.
  [[gnu::noinline]] static void scalar(const Token& t, Value& out) {
    if (t.kind == TokenKind::Num) {
      out = number_value(t.num);
    } else if (t.kind == TokenKind::Str) {
      out = Value(t.text);
    } else {
      out = Value(t.text == "true");
    }
  }

  [[gnu::noinline]] bool primary(Value& out) {
    const Token& t = next();
    switch (t.kind) {
      case TokenKind::Num:
      case TokenKind::Str:
        scalar(t, out);
        return true;
      case TokenKind::Ident:
        if (t.text == "true" || t.text == "false") {
          scalar(t, out);
          return true;
        }
        if (cur().kind == TokenKind::LParen) return call(t, out);
        return name(t, out);
      case TokenKind::LParen:
        if (!enter(t) || !expr(0, out)) return false;
        if (next().kind != TokenKind::RParen) return fail("expected `)`");
        leave();
        return true;
      default:
        return fail_at(t, "unexpected token ", token_kind_name(t.kind));
    }
  }

  // A bound name gives a copy of its tree; any other name is a series.
  [[gnu::noinline]] bool name(const Token& t, Value& out) {
    auto it = bindings_.find(t.text);
    if (it == bindings_.end()) {
      series_refs_.push_back({t.text, t.line, t.col});
      out = make_node(Op::Data);
      set(out, "name", Value(t.text));
      return true;
    }
    Binding& bound = bound_[it->second];
    bound.used = true;
    if (bound.stats.count > kMaxSubstitutedValues - substituted_) {
      return fail_at(t, kTooLargeMessage);
    }
    substituted_ += bound.stats.count;
    out = bound.stats.depth <= kRecursiveCopyDepth ? Value(bound.value) : deep_copy(bound.value);
    return true;
  }

  // `t` is the function name; the current token is the opening parenthesis.
  [[gnu::noinline]] bool call(const Token& t, Value& out) {
    if (!enter(t)) return false;
    const OpSpec* spec = find_op_by_name(t.text);
    if (spec == nullptr) return fail_at(t, "unknown op `", t.text, "`");
    next();
    std::vector<Value> positional;
    std::vector<KeywordArg> keywords;
    bool keyword_seen = false;
    Value discarded;  // values of unknown keywords after the first
    for (;;) {
      const Token& c = cur();
      if (c.kind == TokenKind::Ident && toks_[pos_ + 1].kind == TokenKind::Eq) {
        Value& slot = keyword_slot(*spec, keywords, discarded, c.text);
        next();
        next();
        if (!arg_value(slot) || !eat_comma()) return false;
        keyword_seen = true;
      } else if (c.kind == TokenKind::RParen) {
        next();
        if (!finish_call(t, *spec, positional, keywords, out)) return false;
        leave();
        return true;
      } else if (keyword_seen) {
        return fail("positional argument after keyword argument");
      } else {
        if (!arg_value(positional.emplace_back()) || !eat_comma()) return false;
      }
    }
  }

  // Where the value of keyword `key` goes: a repeated keyword replaces the earlier value.
  // Only the function's own argument names and the first unknown keyword are kept (the
  // call fails naming a leftover keyword anyway, and the earliest one written stays in the
  // list); later unknown keywords are parsed into `discarded`. So `keywords` never holds
  // more than one entry per argument plus one, and a call with many distinct keywords
  // costs no quadratic search.
  [[gnu::noinline]] static Value& keyword_slot(const OpSpec& spec,
                                               std::vector<KeywordArg>& keywords, Value& discarded,
                                               const std::string& key) {
    auto is_arg = [&](std::string_view name) {
      return std::any_of(spec.args.begin(), spec.args.end(),
                         [&](const ArgSpec& a) { return a.name == name; });
    };
    bool unknown_kept = false;
    for (KeywordArg& k : keywords) {
      if (k.name == key) return k.value;
      unknown_kept = unknown_kept || !is_arg(k.name);
    }
    if (unknown_kept && !is_arg(key)) return discarded;
    return keywords.emplace_back(KeywordArg{key, Value()}).value;
  }

  [[gnu::noinline]] bool finish_call(const Token& t, const OpSpec& spec,
                                     std::vector<Value>& positional,
                                     std::vector<KeywordArg>& keywords, Value& out) {
    auto node = build(spec, std::move(positional), std::move(keywords));
    if (!node) return fail_at(t, node.error());
    out = std::move(*node);
    return true;
  }

  bool eat_comma() {
    if (cur().kind == TokenKind::RParen) return true;
    if (cur().kind == TokenKind::Comma) {
      next();
      return true;
    }
    return fail("expected `,` or `)`");
  }

  // An expression, or a bracketed list of expressions (commas between elements optional).
  [[gnu::noinline]] bool arg_value(Value& out) {
    if (cur().kind != TokenKind::LBracket) return expr(0, out);
    if (!enter(cur())) return false;
    next();
    json::Array items;
    while (cur().kind != TokenKind::RBracket) {
      if (!expr(0, items.emplace_back())) return false;
      if (cur().kind == TokenKind::Comma) next();
    }
    next();
    leave();
    out = Value(std::move(items));
    return true;
  }

  std::vector<Token> toks_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
  std::size_t substituted_ = 0;
  std::unordered_map<std::string, std::size_t> bindings_;  // name -> index in bound_, lets_
  std::vector<Binding> bound_;
  std::vector<NameRef> lets_;
  std::vector<NameRef> series_refs_;
  Value body_;
  ParseError error_;
};

}  // namespace

json::Value deep_copy(const json::Value& value) {
  if (!is_compound(value)) return value;
  Value root = shell(value);
  // Pairs of (source container, its empty copy still to be filled).
  std::vector<std::pair<const Value*, Value*>> work{{&value, &root}};
  while (!work.empty()) {
    auto [src, dst] = work.back();
    work.pop_back();
    if (src->is_array()) {
      const json::Array& from = src->as_array();
      json::Array& to = dst->as_array();
      to.reserve(from.size());
      for (const Value& child : from) to.push_back(shell(child));
      // `to` is complete: pointers to its elements stay valid from here on.
      for (std::size_t i = 0; i < from.size(); ++i) {
        if (is_compound(from[i])) work.emplace_back(&from[i], &to[i]);
      }
    } else {
      const json::Object& from = src->as_object();
      json::Object& to = dst->as_object();
      for (const auto& [key, child] : from) to.insert(key, shell(child));
      for (const auto& [key, child] : from) {
        if (is_compound(child)) work.emplace_back(&child, to.find(key));
      }
    }
  }
  return root;
}

TreeStats tree_stats(const json::Value& value) {
  TreeStats stats;
  std::vector<std::pair<const Value*, std::size_t>> work{{&value, 1}};
  while (!work.empty()) {
    auto [v, depth] = work.back();
    work.pop_back();
    ++stats.count;
    stats.depth = std::max(stats.depth, depth);
    if (v->is_array()) {
      for (const Value& child : v->as_array()) work.emplace_back(&child, depth + 1);
    } else if (v->is_object()) {
      for (const auto& entry : v->as_object()) work.emplace_back(&entry.second, depth + 1);
    }
  }
  return stats;
}

std::size_t value_count(const json::Value& value) {
  return tree_stats(value).count;
}

std::expected<json::Value, std::string> promote(json::Value value) {
  switch (value.kind()) {
    case json::Kind::Object:
      return value;
    case json::Kind::UInt:
    case json::Kind::Int:
    case json::Kind::Double:
      return const_node(std::move(value));
    case json::Kind::Bool:
      return std::unexpected("a boolean cannot stand alone as an expression");
    case json::Kind::String:
      return std::unexpected("a string cannot stand alone as an expression");
    default:
      return std::unexpected("invalid expression: " + json::write(value));
  }
}

std::expected<json::Value, std::string> build(const OpSpec& spec,
                                              std::vector<json::Value> positional,
                                              std::vector<KeywordArg> keywords) {
  const std::string tag(spec.tag());
  if (positional.size() > spec.args.size()) {
    return std::unexpected("`" + tag + "` takes at most " + std::to_string(spec.args.size()) +
                           " positional args");
  }
  Value node = make_node(spec.op);
  for (std::size_t i = 0; i < spec.args.size(); ++i) {
    const ArgSpec& arg = spec.args[i];
    const std::string name(arg.name);
    std::optional<Value> given;
    if (i < positional.size()) {
      given = std::move(positional[i]);
    } else {
      auto it = std::find_if(keywords.begin(), keywords.end(),
                             [&](const KeywordArg& k) { return k.name == arg.name; });
      if (it != keywords.end()) {
        given = std::move(it->value);
        keywords.erase(it);
      }
    }
    if (!given) {
      if (!is_optional(arg.kind)) return std::unexpected("`" + tag + "` requires `" + name + "`");
      continue;
    }
    Value v = std::move(*given);
    switch (arg.kind) {
      case ArgKind::Expr:
      case ArgKind::OptExpr: {
        auto p = promote(std::move(v));
        if (!p) return std::unexpected(std::move(p).error());
        v = std::move(*p);
        break;
      }
      case ArgKind::ExprList:
        if (!v.is_array()) return std::unexpected("`" + name + "` must be a list `[ ... ]`");
        for (Value& item : v.as_array()) {
          auto p = promote(std::move(item));
          if (!p) return std::unexpected(std::move(p).error());
          item = std::move(*p);
        }
        break;
      case ArgKind::Number:
      case ArgKind::OptNumber:
        if (!v.is_number()) return std::unexpected("`" + name + "` must be a number");
        break;
      case ArgKind::Bool:
        if (!v.is_bool()) return std::unexpected("`" + name + "` must be true/false");
        break;
      case ArgKind::Str:
      case ArgKind::OptStr:
        if (!v.is_string()) return std::unexpected("`" + name + "` must be a string");
        break;
      case ArgKind::StrList:
        if (!v.is_array()) return std::unexpected("`" + name + "` must be a list of strings");
        break;
    }
    if (is_optional(arg.kind)) {
      node.as_object().insert(name, std::move(v));
    } else {
      set(node, name, std::move(v));
    }
  }
  if (!keywords.empty()) {
    return std::unexpected("`" + tag + "` has no field `" + keywords.front().name + "`");
  }
  return node;
}

std::expected<Analysis, ParseError> parse_analyzed(std::string_view src) {
  BRINDLE_TRY(tokens, lex(src));
  return Parser(std::move(tokens)).program();
}

std::expected<json::Value, ParseError> parse(std::string_view src) {
  BRINDLE_TRY(analysis, parse_analyzed(src));
  return std::move(analysis.expr);
}

}  // namespace korva::brindle
