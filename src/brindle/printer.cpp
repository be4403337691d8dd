#include "brindle/printer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

#include "brindle/catalogue.hpp"

namespace korva::brindle {

namespace {

using json::Value;

// One piece of pending output. Pieces are kept on a stack in reverse order; rendering a
// node replaces it with its own pieces, so no piece of work recurses.
struct Piece {
  enum class Kind : unsigned char { Text, Node, Literal, Indent };
  Kind kind;
  std::string_view text;  // Text: points at static data or into the tree
  const Value* value;     // Node, Literal
  std::size_t depth;      // Node: call depth; Indent: levels
};

Piece text(std::string_view s) {
  return {Piece::Kind::Text, s, nullptr, 0};
}
Piece node(const Value* v, std::size_t depth) {
  return {Piece::Kind::Node, {}, v, depth};
}
Piece lit(const Value* v) {
  return {Piece::Kind::Literal, {}, v, 0};
}
Piece indent(std::size_t levels) {
  return {Piece::Kind::Indent, {}, nullptr, levels};
}

const Value kNull;

// The member `key` of `obj`, or null when absent.
const Value* member(const json::Object& obj, std::string_view key) {
  const Value* v = obj.find(key);
  return v != nullptr ? v : &kNull;
}

// An object whose "op" is a string other than "Const" and "Data".
bool is_compound_node(const Value& v) {
  if (!v.is_object()) return false;
  const Value* op = v.as_object().find("op");
  if (op == nullptr || !op->is_string()) return false;
  return op->as_string() != "Const" && op->as_string() != "Data";
}

class Printer {
 public:
  explicit Printer(std::string& out) : out_(out) {}

  void run(const Value& root, std::size_t depth) {
    stack_.push_back(node(&root, depth));
    while (!stack_.empty()) {
      const Piece p = stack_.back();
      stack_.pop_back();
      switch (p.kind) {
        case Piece::Kind::Text:
          out_ += p.text;
          break;
        case Piece::Kind::Literal:
          append_literal(*p.value, out_);
          break;
        case Piece::Kind::Indent:
          out_.append(2 * std::min(p.depth, kMaxIndentLevels), ' ');
          break;
        case Piece::Kind::Node:
          expand(*p.value, p.depth);
          break;
      }
    }
  }

 private:
  // Pushes the pieces of `v` (collected in `pieces_` in output order) onto the stack.
  void flush() {
    for (auto it = pieces_.rbegin(); it != pieces_.rend(); ++it) stack_.push_back(*it);
    pieces_.clear();
  }

  void expand(const Value& v, std::size_t depth) {
    const Value* op_value = v.is_object() ? v.as_object().find("op") : nullptr;
    if (op_value == nullptr || !op_value->is_string()) {
      append_literal(v, out_);
      return;
    }
    const json::Object& obj = v.as_object();
    const std::string& tag = op_value->as_string();
    const std::optional<Op> op = op_from_tag(tag);
    if (op == Op::Neg || op == Op::Not || op == Op::Ceil) {
      pieces_.push_back(text(op == Op::Neg ? "(-" : op == Op::Not ? "(not " : "ceil("));
      pieces_.push_back(node(member(obj, "of"), depth));
      pieces_.push_back(text(")"));
    } else if (op == Op::Const) {
      pieces_.push_back(lit(member(obj, "value")));
    } else if (op == Op::Data) {
      const Value* name = obj.find("name");
      pieces_.push_back(text(name != nullptr && name->is_string()
                                 ? std::string_view(name->as_string())
                                 : std::string_view("?")));
    } else if (auto symbol = op ? binop_symbol_for_tag(*op) : std::nullopt) {
      pieces_.push_back(text("("));
      pieces_.push_back(node(member(obj, "l"), depth));
      pieces_.push_back(text(" "));
      pieces_.push_back(text(*symbol));
      pieces_.push_back(text(" "));
      pieces_.push_back(node(member(obj, "r"), depth));
      pieces_.push_back(text(")"));
    } else {
      call(obj, tag, op, depth);
    }
    flush();
  }

  void call(const json::Object& obj, const std::string& tag, std::optional<Op> op,
            std::size_t depth) {
    const OpSpec* spec = op ? find_op_by_tag(*op) : nullptr;
    if (spec == nullptr) {
      // Only a tag outside the variant table can get here in practice; a known tag
      // without an entry would print under its own name.
      if (op) pieces_.push_back(text(tag));
      pieces_.push_back(text("(/* unprintable op "));
      pieces_.push_back(text(tag));
      pieces_.push_back(text(" */)"));
      return;
    }
    // Each argument's pieces go to `args_`, with `starts_` marking where each begins, so
    // that the separators can be chosen once the compound flag is known.
    args_.clear();
    starts_.clear();
    bool keywords = false;
    bool compound = false;
    for (const ArgSpec& arg : spec->args) {
      const Value* v = obj.find(arg.name);
      if (v == nullptr) {
        keywords = true;
        continue;
      }
      starts_.push_back(args_.size());
      const bool positional =
          !keywords &&
          (arg.kind == ArgKind::Expr || arg.kind == ArgKind::Number || arg.kind == ArgKind::Str);
      if (!positional) {
        keywords = true;
        args_.push_back(text(arg.name));
        args_.push_back(text("="));
      }
      switch (arg.kind) {
        case ArgKind::Expr:
        case ArgKind::OptExpr:
          args_.push_back(node(v, depth + 1));
          compound = compound || is_compound_node(*v);
          break;
        case ArgKind::ExprList:
        case ArgKind::StrList: {
          args_.push_back(text("["));
          if (v->is_array()) {
            bool first = true;
            for (const Value& item : v->as_array()) {
              if (!first) args_.push_back(text(", "));
              first = false;
              if (arg.kind == ArgKind::ExprList) {
                args_.push_back(node(&item, depth + 1));
                compound = compound || is_compound_node(item);
              } else {
                args_.push_back(lit(&item));
              }
            }
          }
          args_.push_back(text("]"));
          break;
        }
        default:
          args_.push_back(lit(v));
          break;
      }
    }
    pieces_.push_back(text(spec->canonical_name()));
    pieces_.push_back(text("("));
    if (compound) {
      pieces_.push_back(text("\n"));
      pieces_.push_back(indent(depth + 1));
    }
    for (std::size_t a = 0; a < starts_.size(); ++a) {
      if (a > 0) {
        if (compound) {
          pieces_.push_back(text(",\n"));
          pieces_.push_back(indent(depth + 1));
        } else {
          pieces_.push_back(text(", "));
        }
      }
      const std::size_t end = a + 1 < starts_.size() ? starts_[a + 1] : args_.size();
      pieces_.insert(pieces_.end(), args_.begin() + static_cast<std::ptrdiff_t>(starts_[a]),
                     args_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    if (compound) {
      pieces_.push_back(text("\n"));
      pieces_.push_back(indent(depth));
    }
    pieces_.push_back(text(")"));
  }

  std::string& out_;
  std::vector<Piece> stack_;
  std::vector<Piece> pieces_;
  std::vector<Piece> args_;
  std::vector<std::size_t> starts_;
};

}  // namespace

void append_double(double d, std::string& out) {
  // A JSON value never holds a non-finite double (it becomes null), so neither does a
  // literal; a direct caller gets the same reading.
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  // Shortest round-trip digits in scientific form, e.g. "-1.5e-07", then re-laid out.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  if (!sci.empty() && sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e)) {
    if (c != '.') digits.push_back(c);
  }
  int exp = 0;
  std::string_view exp_text = sci.substr(e + 1);
  const bool negative = exp_text.front() == '-';
  exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp);
  if (negative) exp = -exp;

  if (exp >= -5 && exp <= 15) {
    const auto ndigits = static_cast<int>(digits.size());
    if (exp < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exp - 1), '0');
      out += digits;
    } else if (ndigits <= exp + 1) {
      out += digits;
      out.append(static_cast<std::size_t>(exp + 1 - ndigits), '0');
      out += ".0";
    } else {
      out.append(digits, 0, static_cast<std::size_t>(exp + 1));
      out.push_back('.');
      out.append(digits, static_cast<std::size_t>(exp + 1));
    }
    return;
  }
  out.push_back(digits[0]);
  if (digits.size() > 1) {
    out.push_back('.');
    out.append(digits, 1);
  }
  out.push_back('e');
  out.push_back(exp < 0 ? '-' : '+');
  out += std::to_string(exp < 0 ? -exp : exp);
}

void append_literal(const json::Value& value, std::string& out) {
  switch (value.kind()) {
    case json::Kind::Null:
      out += "null";
      break;
    case json::Kind::Bool:
      out += value.as_bool() ? "true" : "false";
      break;
    case json::Kind::UInt:
      out += std::to_string(value.as_uint());
      break;
    case json::Kind::Int:
      out += std::to_string(value.as_int());
      break;
    case json::Kind::Double:
      append_double(value.as_double(), out);
      break;
    case json::Kind::String:
      out.push_back('"');
      out += value.as_string();
      out.push_back('"');
      break;
    case json::Kind::Array:
    case json::Kind::Object:
      json::write(value, out);
      break;
  }
}

std::string literal(const json::Value& value) {
  std::string out;
  append_literal(value, out);
  return out;
}

std::string format_at(const json::Value& value, std::size_t depth) {
  std::string out;
  Printer(out).run(value, depth);
  return out;
}

std::string format(const json::Value& tree) {
  return format_at(tree, 0);
}

}  // namespace korva::brindle
