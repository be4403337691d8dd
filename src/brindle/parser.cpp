#include "brindle/parser.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <unordered_map>
#include <unordered_set>
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

Value make_node(Op op) {
  json::Object node;
  node.insert("op", Value(tag_name(op)));
  return Value(std::move(node));
}

Value const_node(Value number) {
  json::Object node;
  node.insert("op", Value("Const"));
  node.insert("value", std::move(number));
  return Value(std::move(node));
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

struct Binding {
  Value value;
  std::size_t count;  // value_count(value)
};

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : toks_(std::move(tokens)) {}

  std::expected<Analysis, ParseError> program() {
    while (cur().kind == TokenKind::Let) {
      next();
      const Token& name = next();
      if (name.kind != TokenKind::Ident) return fail_at(name, "expected name after `let`");
      if (next().kind != TokenKind::Eq) return fail("expected `=` in let binding");
      BRINDLE_TRY(value, expr(0));
      BRINDLE_TRY(node, promoted(std::move(value)));
      if (bindings_.contains(name.text)) {
        return fail_at(name, "`" + name.text + "` is already defined");
      }
      lets_.push_back({name.text, name.line, name.col});
      const std::size_t count = value_count(node);
      bindings_.emplace(name.text, Binding{std::move(node), count});
    }
    BRINDLE_TRY(body, expr(0));
    if (cur().kind != TokenKind::Eof) return fail("unexpected trailing input");
    if (!body.is_object()) return fail("a strategy must be an expression, not a bare constant");
    Analysis out;
    out.expr = std::move(body);
    for (NameRef& let : lets_) {
      if (!used_.contains(let.name)) out.unused_lets.push_back(std::move(let));
    }
    out.series_refs = std::move(series_refs_);
    return out;
  }

 private:
  using Result = std::expected<Value, ParseError>;

  const Token& cur() const { return toks_[pos_]; }
  // The current token; moves on, except past the final `Eof`.
  const Token& next() {
    const Token& t = toks_[pos_];
    if (pos_ + 1 < toks_.size()) ++pos_;
    return t;
  }
  std::unexpected<ParseError> fail(std::string message) const {
    return fail_at(cur(), std::move(message));
  }
  static std::unexpected<ParseError> fail_at(const Token& t, std::string message) {
    return std::unexpected(ParseError{std::move(message), t.line, t.col});
  }

  // Opens one level of source nesting at token `t`.
  std::optional<ParseError> enter(const Token& t) {
    if (++depth_ > kMaxNesting) return ParseError{std::string(kTooDeepMessage), t.line, t.col};
    return std::nullopt;
  }
  void leave() { --depth_; }

  // `promote`, reporting a failure at the current token.
  Result promoted(Value v) const {
    auto p = promote(std::move(v));
    if (!p) return fail(std::move(p).error());
    return std::move(*p);
  }

  Result expr(int min) {
    Value left;
    const Token& t = cur();
    if ((t.kind == TokenKind::Ident && t.text == "not") ||
        (t.kind == TokenKind::Op && t.text == "-")) {
      const bool is_not = t.kind == TokenKind::Ident;
      if (auto e = enter(t)) return std::unexpected(std::move(*e));
      next();
      BRINDLE_TRY(operand, expr(is_not ? kNotPower : kNegPower));
      BRINDLE_TRY(of, promoted(std::move(operand)));
      leave();
      left = make_node(is_not ? Op::Not : Op::Neg);
      left.as_object().insert("of", std::move(of));
    } else if (t.kind == TokenKind::Op) {
      return fail_at(t, "unexpected operator `" + t.text + "`");
    } else {
      BRINDLE_TRY(p, primary());
      left = std::move(p);
    }
    for (;;) {
      const Token& o = cur();
      const int power = infix_power(o);
      if (power == 0 || power < min) break;
      const Op op = *binop_tag(o.text);
      next();
      BRINDLE_TRY(right, expr(power + 1));
      BRINDLE_TRY(l, promoted(std::move(left)));
      BRINDLE_TRY(r, promoted(std::move(right)));
      left = make_node(op);
      left.as_object().insert("l", std::move(l));
      left.as_object().insert("r", std::move(r));
    }
    return left;
  }

  Result primary() {
    const Token& t = next();
    switch (t.kind) {
      case TokenKind::Num:
        return number_value(t.num);
      case TokenKind::Str:
        return Value(t.text);
      case TokenKind::Ident:
        if (t.text == "true") return Value(true);
        if (t.text == "false") return Value(false);
        if (cur().kind == TokenKind::LParen) return call(t);
        return name(t);
      case TokenKind::LParen: {
        if (auto e = enter(t)) return std::unexpected(std::move(*e));
        BRINDLE_TRY(inner, expr(0));
        if (next().kind != TokenKind::RParen) return fail("expected `)`");
        leave();
        return inner;
      }
      default:
        return fail_at(t, "unexpected token " + std::string(token_kind_name(t.kind)));
    }
  }

  // A bound name gives a copy of its tree; any other name is a series.
  Result name(const Token& t) {
    auto it = bindings_.find(t.text);
    if (it == bindings_.end()) {
      series_refs_.push_back({t.text, t.line, t.col});
      Value node = make_node(Op::Data);
      node.as_object().insert("name", Value(t.text));
      return node;
    }
    used_.insert(t.text);
    if (it->second.count > kMaxSubstitutedValues - substituted_) {
      return fail_at(t, std::string(kTooLargeMessage));
    }
    substituted_ += it->second.count;
    return deep_copy(it->second.value);
  }

  // `t` is the function name; the current token is the opening parenthesis.
  Result call(const Token& t) {
    if (auto e = enter(t)) return std::unexpected(std::move(*e));
    const OpSpec* spec = find_op_by_name(t.text);
    if (spec == nullptr) return fail_at(t, "unknown op `" + t.text + "`");
    next();
    std::vector<Value> positional;
    std::vector<KeywordArg> keywords;
    bool keyword_seen = false;
    for (;;) {
      const Token& c = cur();
      if (c.kind == TokenKind::Ident && toks_[pos_ + 1].kind == TokenKind::Eq) {
        std::string key = c.text;
        next();
        next();
        BRINDLE_TRY(value, arg_value());
        auto same = std::find_if(keywords.begin(), keywords.end(),
                                 [&](const KeywordArg& k) { return k.name == key; });
        if (same != keywords.end()) {
          same->value = std::move(value);
        } else {
          keywords.push_back({std::move(key), std::move(value)});
        }
        if (auto e = eat_comma()) return std::unexpected(std::move(*e));
        keyword_seen = true;
      } else if (c.kind == TokenKind::RParen) {
        next();
        auto node = build(*spec, std::move(positional), std::move(keywords));
        if (!node) return fail_at(t, std::move(node).error());
        leave();
        return std::move(*node);
      } else if (keyword_seen) {
        return fail("positional argument after keyword argument");
      } else {
        BRINDLE_TRY(value, arg_value());
        positional.push_back(std::move(value));
        if (auto e = eat_comma()) return std::unexpected(std::move(*e));
      }
    }
  }

  std::optional<ParseError> eat_comma() {
    if (cur().kind == TokenKind::RParen) return std::nullopt;
    if (cur().kind == TokenKind::Comma) {
      next();
      return std::nullopt;
    }
    return ParseError{"expected `,` or `)`", cur().line, cur().col};
  }

  // An expression, or a bracketed list of expressions (commas between elements optional).
  Result arg_value() {
    if (cur().kind != TokenKind::LBracket) return expr(0);
    if (auto e = enter(cur())) return std::unexpected(std::move(*e));
    next();
    json::Array items;
    while (cur().kind != TokenKind::RBracket) {
      BRINDLE_TRY(item, expr(0));
      items.push_back(std::move(item));
      if (cur().kind == TokenKind::Comma) next();
    }
    next();
    leave();
    return Value(std::move(items));
  }

  std::vector<Token> toks_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
  std::size_t substituted_ = 0;
  std::unordered_map<std::string, Binding> bindings_;
  std::vector<NameRef> lets_;
  std::unordered_set<std::string> used_;
  std::vector<NameRef> series_refs_;
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

std::size_t value_count(const json::Value& value) {
  std::size_t count = 0;
  std::vector<const Value*> work{&value};
  while (!work.empty()) {
    const Value* v = work.back();
    work.pop_back();
    ++count;
    if (v->is_array()) {
      for (const Value& child : v->as_array()) work.push_back(&child);
    } else if (v->is_object()) {
      for (const auto& entry : v->as_object()) work.push_back(&entry.second);
    }
  }
  return count;
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
    node.as_object().insert(name, std::move(v));
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
