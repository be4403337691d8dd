// Reading an expression tree from JSON text.
//
// The read has two stages. The first stage is one pass over the text: it reads the outermost
// node, resolves its "op" tag on the spot and buffers every other member (in text order,
// duplicates kept) into a flat list of content nodes. Failures of this stage carry the JSON
// position suffix. The second stage builds the Expr from the buffer, driven by the variant
// table; its failures (field errors, tag errors of nested nodes) carry no position. Only after
// a successful build is the rest of the text checked for trailing characters.
#include <charconv>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "brindle/expr.hpp"
#include "json/parser.hpp"

namespace korva::brindle {

namespace {

using json::detail::Number;
using json::detail::Parser;

// ---------------------------------------------------------------------------------------
// Buffered content: a JSON value as a pre-order list of nodes. An array's elements follow
// it; an object's members follow it as (key node, value subtree) pairs. `span` counts the
// nodes of a subtree, itself included, so a subtree is skipped in one step.

enum class NodeKind : std::uint8_t { Null, Bool, UInt, Int, Double, String, Array, Object };

struct Node {
  NodeKind kind = NodeKind::Null;
  bool flag = false;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double d = 0.0;
  std::size_t offset = 0;  // String: bytes in Content::text
  std::size_t length = 0;
  std::size_t count = 0;  // Array: elements; Object: members
  std::size_t span = 1;
};

struct Content {
  std::vector<Node> nodes;
  std::string text;  // the bytes of every string node, back to back

  std::string_view str(const Node& n) const {
    return std::string_view(text).substr(n.offset, n.length);
  }
  std::size_t next(std::size_t index) const { return index + nodes[index].span; }
};

// Parser sink appending to a Content buffer.
class ContentSink {
 public:
  explicit ContentSink(Content& c) : c_(c) {}

  void null_value() { add(Node{}); }
  void boolean(bool b) {
    Node n;
    n.kind = NodeKind::Bool;
    n.flag = b;
    add(n);
  }
  void number(const Number& num) {
    Node n;
    switch (num.kind) {
      case Number::Kind::UInt:
        n.kind = NodeKind::UInt;
        n.u = num.u;
        break;
      case Number::Kind::Int:
        n.kind = NodeKind::Int;
        n.i = num.i;
        break;
      case Number::Kind::Double:
        n.kind = NodeKind::Double;
        n.d = num.d;
        break;
    }
    add(n);
  }
  void string(std::string_view s) { add(string_node(s)); }
  void begin_array() { open(NodeKind::Array); }
  void begin_object() { open(NodeKind::Object); }
  void key(std::string_view k) {
    ++c_.nodes[open_.back()].count;
    c_.nodes.push_back(string_node(k));
  }
  void end_array() { close(); }
  void end_object() { close(); }

 private:
  Node string_node(std::string_view s) {
    Node n;
    n.kind = NodeKind::String;
    n.offset = c_.text.size();
    n.length = s.size();
    c_.text.append(s);
    return n;
  }
  void add(const Node& n) {
    if (!open_.empty()) {
      Node& parent = c_.nodes[open_.back()];
      if (parent.kind == NodeKind::Array) ++parent.count;
    }
    c_.nodes.push_back(n);
  }
  void open(NodeKind kind) {
    Node n;
    n.kind = kind;
    add(n);
    open_.push_back(c_.nodes.size() - 1);
  }
  void close() {
    const std::size_t at = open_.back();
    open_.pop_back();
    c_.nodes[at].span = c_.nodes.size() - at;
  }

  Content& c_;
  std::vector<std::size_t> open_;
};

// ---------------------------------------------------------------------------------------
// Message pieces.

// A double the way the messages show it: the shortest digits that read back to the same
// value, written out in full positional notation (never with an exponent), with ".0" added
// when there is no fractional part. So 20 shows as 20.0, 1e21 as 1000000000000000000000.0
// and 1e-7 as 0.0000001.
std::string float_display(double d) {
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  std::string out;
  if (!sci.empty() && sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const std::size_t e_pos = sci.find('e');
  std::string digits;
  for (char ch : sci.substr(0, e_pos)) {
    if (ch != '.') digits.push_back(ch);
  }
  int exponent = 0;
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  const auto ndigits = static_cast<int>(digits.size());
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (exponent + 1 >= ndigits) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent + 1 - ndigits), '0');
    out += ".0";
  } else {
    out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(exponent + 1));
  }
  return out;
}

// Decodes one code point of valid UTF-8 at `p`, advancing it.
std::uint32_t next_code_point(std::string_view s, std::size_t& p) {
  const auto c = static_cast<unsigned char>(s[p]);
  if (c < 0x80) {
    ++p;
    return c;
  }
  const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
  std::uint32_t cp = c & (0x7F >> len);
  for (std::size_t k = 1; k < len && p + k < s.size(); ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[p + k]) & 0x3F);
  }
  p += len;
  return cp;
}

// Characters shown escaped inside a quoted string: control and format characters, line and
// paragraph separators, non-ASCII spaces, private-use code points, non-characters and the
// common combining marks (which would otherwise merge with the opening quote).
bool shown_escaped(std::uint32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0xA0) || cp == 0xAD) return true;
  if (cp >= 0x300 && cp <= 0x36F) return true;
  if (cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202F)) {
    return true;
  }
  if ((cp >= 0x205F && cp <= 0x206F) || cp == 0x3000 || cp == 0xFEFF) return true;
  if ((cp >= 0xE000 && cp <= 0xF8FF) || cp >= 0xF0000) return true;
  if ((cp >= 0xFFF0 && cp <= 0xFFFB) || (cp & 0xFFFE) == 0xFFFE) return true;
  return false;
}

// The string between double quotes, with \" \\ \t \r \n \0 and \u{hex} escapes.
std::string quoted(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  std::size_t p = 0;
  while (p < s.size()) {
    const std::size_t begin = p;
    const std::uint32_t cp = next_code_point(s, p);
    switch (cp) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case 0:
        out += "\\0";
        continue;
      default:
        break;
    }
    if (shown_escaped(cp)) {
      out += "\\u{";
      bool leading = true;
      for (int shift = 20; shift >= 0; shift -= 4) {
        const std::uint32_t nibble = (cp >> shift) & 0xF;
        if (leading && nibble == 0 && shift > 0) continue;
        leading = false;
        out.push_back(kHex[nibble]);
      }
      out.push_back('}');
    } else {
      out.append(s.substr(begin, p - begin));
    }
  }
  out.push_back('"');
  return out;
}

// The {unexpected} part of the messages: names the offending value.
std::string unexpected(const Content& c, const Node& n) {
  switch (n.kind) {
    case NodeKind::Null:
      return "unit value";
    case NodeKind::Bool:
      return n.flag ? "boolean `true`" : "boolean `false`";
    case NodeKind::UInt:
      return "integer `" + std::to_string(n.u) + "`";
    case NodeKind::Int:
      return "integer `" + std::to_string(n.i) + "`";
    case NodeKind::Double:
      return "floating point `" + float_display(n.d) + "`";
    case NodeKind::String:
      return "string " + quoted(c.str(n));
    case NodeKind::Array:
      return "sequence";
    case NodeKind::Object:
      return "map";
  }
  return {};
}

std::string invalid_type(const Content& c, const Node& n, std::string_view expected) {
  return "invalid type: " + unexpected(c, n) + ", expected " + std::string(expected);
}

std::string invalid_value(const Content& c, const Node& n, std::string_view expected) {
  return "invalid value: " + unexpected(c, n) + ", expected " + std::string(expected);
}

std::string missing_field(std::string_view field) {
  return "missing field `" + std::string(field) + "`";
}

std::string duplicate_field(std::string_view field) {
  return "duplicate field `" + std::string(field) + "`";
}

constexpr std::string_view kTagKey = "op";
constexpr std::string_view kExpectedExpr = "internally tagged enum Expr";
constexpr std::string_view kExpectedTag = "variant identifier";

std::string unknown_variant(std::string_view tag) {
  std::string out = "unknown variant `";
  out += tag;
  out += "`, expected one of ";
  bool first = true;
  for (const VariantSpec& v : variants()) {
    if (!first) out += ", ";
    first = false;
    out += '`';
    out += v.tag;
    out += '`';
  }
  return out;
}

// Resolves a tag value: a tag name, or a variant index.
std::expected<Op, std::string> resolve_tag(const Content& c, const Node& n) {
  if (n.kind == NodeKind::String) {
    const std::string_view name = c.str(n);
    if (auto op = op_from_tag(name)) return *op;
    return std::unexpected(unknown_variant(name));
  }
  if (n.kind == NodeKind::UInt) {
    if (n.u < kVariantCount) return static_cast<Op>(n.u);
    return std::unexpected(
        invalid_value(c, n, "variant index 0 <= i < " + std::to_string(kVariantCount)));
  }
  return std::unexpected(invalid_type(c, n, kExpectedTag));
}

std::string plural(std::size_t n, std::string_view noun) {
  return std::to_string(n) + " " + std::string(noun) + (n == 1 ? "" : "s");
}

// ---------------------------------------------------------------------------------------
// Second stage: Expr from buffered content, driven by the variant table.

class Builder {
 public:
  explicit Builder(const Content& c) : c_(c) {}

  // A node at any depth below the outermost.
  std::expected<Expr, std::string> node(std::size_t at) {
    const Node& n = c_.nodes[at];
    if (n.kind == NodeKind::Object) {
      std::optional<Op> tag;
      std::size_t k = at + 1;
      for (std::size_t m = 0; m < n.count; ++m) {
        const std::size_t v = k + 1;
        if (c_.str(c_.nodes[k]) == kTagKey) {
          if (tag) return std::unexpected(duplicate_field(kTagKey));
          auto op = resolve_tag(c_, c_.nodes[v]);
          if (!op) return std::unexpected(std::move(op.error()));
          tag = *op;
        }
        k = c_.next(v);
      }
      if (!tag) return std::unexpected(missing_field(kTagKey));
      return from_members(*tag, at);
    }
    if (n.kind == NodeKind::Array) {
      if (n.count == 0) return std::unexpected(missing_field(kTagKey));
      auto op = resolve_tag(c_, c_.nodes[at + 1]);
      if (!op) return std::unexpected(std::move(op.error()));
      return from_elements(*op, c_.next(at + 1), n.count - 1);
    }
    return std::unexpected(invalid_type(c_, n, kExpectedExpr));
  }

  // Object form: the members of the object at `at`, other than "op", matched by name.
  std::expected<Expr, std::string> from_members(Op op, std::size_t at) {
    const VariantSpec& spec = variant(op);
    std::vector<Field> fields(spec.fields.size());
    std::uint32_t seen = 0;  // bit f: field f was given (no variant has more than 8 fields)
    const Node& obj = c_.nodes[at];
    std::size_t k = at + 1;
    for (std::size_t m = 0; m < obj.count; ++m) {
      const std::size_t v = k + 1;
      const std::string_view name = c_.str(c_.nodes[k]);
      k = c_.next(v);
      if (name == kTagKey) continue;
      std::size_t f = 0;
      while (f < spec.fields.size() && spec.fields[f].name != name) ++f;
      if (f == spec.fields.size()) continue;  // not a field of this variant: ignored
      if (seen & (1u << f)) return std::unexpected(duplicate_field(name));
      seen |= 1u << f;
      auto value = field(spec.fields[f], v);
      if (!value) return std::unexpected(std::move(value.error()));
      fields[f] = std::move(*value);
    }
    for (std::size_t f = 0; f < spec.fields.size(); ++f) {
      if (seen & (1u << f)) continue;
      const FieldSpec& fs = spec.fields[f];
      if (fs.presence == Presence::Required) return std::unexpected(missing_field(fs.name));
      fields[f] = absent(fs);
    }
    return Expr(op, std::move(fields));
  }

  // Array form: `n` elements starting at `first`, one per field in declared order.
  std::expected<Expr, std::string> from_elements(Op op, std::size_t first, std::size_t n) {
    const VariantSpec& spec = variant(op);
    const std::size_t nfields = spec.fields.size();
    std::vector<Field> fields(nfields);
    std::size_t at = first;
    for (std::size_t f = 0; f < nfields; ++f) {
      const FieldSpec& fs = spec.fields[f];
      if (f >= n) {
        if (!fs.trailing_omissible) {
          return std::unexpected("invalid length " + std::to_string(f) +
                                 ", expected struct variant Expr::" + std::string(spec.tag) +
                                 " with " + plural(nfields, "element"));
        }
        fields[f] = absent(fs);
        continue;
      }
      auto value = field(fs, at);
      if (!value) return std::unexpected(std::move(value.error()));
      fields[f] = std::move(*value);
      at = c_.next(at);
    }
    if (n > nfields) {
      return std::unexpected("invalid length " + std::to_string(n) + ", expected " +
                             plural(nfields, "element") + " in sequence");
    }
    return Expr(op, std::move(fields));
  }

 private:
  static Field absent(const FieldSpec& fs) {
    if (fs.presence == Presence::Defaulted) {
      if (fs.kind == FieldKind::Count) return Field(fs.default_count);
      return Field(fs.default_flag);
    }
    return Field();
  }

  std::expected<Field, std::string> field(const FieldSpec& fs, std::size_t at) {
    const Node& n = c_.nodes[at];
    if (fs.presence == Presence::Optional && n.kind == NodeKind::Null) return Field();
    switch (fs.kind) {
      case FieldKind::Subtree: {
        auto e = node(at);
        if (!e) return std::unexpected(std::move(e.error()));
        return Field(std::make_unique<Expr>(std::move(*e)));
      }
      case FieldKind::SubtreeList: {
        if (n.kind != NodeKind::Array) return std::unexpected(invalid_type(c_, n, "a sequence"));
        std::vector<Expr> list;
        list.reserve(n.count);
        for (std::size_t k = 0, e = at + 1; k < n.count; ++k, e = c_.next(e)) {
          auto item = node(e);
          if (!item) return std::unexpected(std::move(item.error()));
          list.push_back(std::move(*item));
        }
        return Field(std::move(list));
      }
      case FieldKind::Count:
        // Sizes are 64 bits wide, so every non-negative integer fits.
        static_assert(sizeof(std::size_t) == sizeof(std::uint64_t));
        if (n.kind == NodeKind::UInt) return Field(n.u);
        if (n.kind == NodeKind::Int) return std::unexpected(invalid_value(c_, n, "usize"));
        return std::unexpected(invalid_type(c_, n, "usize"));
      case FieldKind::Number:
        if (n.kind == NodeKind::UInt) return Field(static_cast<double>(n.u));
        if (n.kind == NodeKind::Int) return Field(static_cast<double>(n.i));
        if (n.kind == NodeKind::Double) return Field(n.d);
        return std::unexpected(invalid_type(c_, n, "f64"));
      case FieldKind::Flag:
        if (n.kind == NodeKind::Bool) return Field(n.flag);
        return std::unexpected(invalid_type(c_, n, "a boolean"));
      case FieldKind::Text:
        if (n.kind == NodeKind::String) return Field(std::string(c_.str(n)));
        return std::unexpected(invalid_type(c_, n, "a string"));
      case FieldKind::TextList: {
        if (n.kind != NodeKind::Array) return std::unexpected(invalid_type(c_, n, "a sequence"));
        std::vector<std::string> list;
        list.reserve(n.count);
        for (std::size_t k = 0, e = at + 1; k < n.count; ++k, e = c_.next(e)) {
          const Node& item = c_.nodes[e];
          if (item.kind != NodeKind::String) {
            return std::unexpected(invalid_type(c_, item, "a string"));
          }
          list.emplace_back(c_.str(item));
        }
        return Field(std::move(list));
      }
    }
    return std::unexpected(std::string("unsupported field kind"));
  }

  const Content& c_;
};

// ---------------------------------------------------------------------------------------
// First stage: the outermost node, read straight from the text.

class FirstPass {
 public:
  explicit FirstPass(std::string_view text) : p_(text), sink_(content_) {}

  // Reads the outermost node; on success `tag_` is resolved and `content_` holds the
  // node's members (object form) or its field elements (array form) under node 0.
  bool run() {
    const int c = p_.skip_whitespace();
    if (c == '{') return object();
    if (c == '[') return array();
    if (c == json::detail::kEof) return p_.fail_peek("EOF while parsing a value");
    // Any other value is read whole, then refused.
    Content scalar;
    ContentSink sink(scalar);
    if (!p_.parse_value(sink)) return false;
    return p_.fail_here(invalid_type(scalar, scalar.nodes[0], kExpectedExpr));
  }

  Op tag() const { return *tag_; }
  bool object_form() const { return object_form_; }
  const Content& content() const { return content_; }
  Parser& parser() { return p_; }

 private:
  bool object() {
    if (!p_.enter()) return false;
    p_.eat();
    object_form_ = true;
    sink_.begin_object();
    bool first = true;
    for (;;) {
      int c = p_.skip_whitespace();
      if (c == '}') break;
      if (c == ',' && !first) {
        p_.eat();
        c = p_.skip_whitespace();
      } else if (c == json::detail::kEof) {
        return p_.fail_peek("EOF while parsing an object");
      } else if (first) {
        first = false;
      } else {
        return p_.fail_peek("expected `,` or `}`");
      }
      if (c == '}') return p_.fail_peek("trailing comma");
      if (c == json::detail::kEof) return p_.fail_peek("EOF while parsing a value");
      if (c != '"') return p_.fail_peek("key must be a string");
      p_.eat();
      std::string_view key;
      if (!p_.parse_string(key)) return false;
      if (key == kTagKey) {
        if (tag_) return fail_in_object(duplicate_field(kTagKey));
        if (!p_.parse_colon() || !read_tag()) return false;
      } else {
        sink_.key(key);
        if (!p_.parse_colon() || !p_.parse_value(sink_)) return false;
      }
    }
    if (!tag_) return fail_in_object(missing_field(kTagKey));
    p_.eat();  // '}'
    p_.leave();
    sink_.end_object();
    return true;
  }

  bool array() {
    if (!p_.enter()) return false;
    p_.eat();
    object_form_ = false;
    int c = p_.skip_whitespace();
    if (c == json::detail::kEof) return p_.fail_peek("EOF while parsing a list");
    if (c == ']') {
      p_.eat();
      return p_.fail_here(missing_field(kTagKey));
    }
    if (!read_tag()) return false;
    sink_.begin_array();
    for (;;) {
      c = p_.skip_whitespace();
      if (c == ']') break;
      if (c == json::detail::kEof) return p_.fail_peek("EOF while parsing a list");
      if (c != ',') return p_.fail_peek("expected `,` or `]`");
      p_.eat();
      c = p_.skip_whitespace();
      if (c == ']') return p_.fail_peek("trailing comma");
      if (c == json::detail::kEof) return p_.fail_peek("EOF while parsing a value");
      if (!p_.parse_value(sink_)) return false;
    }
    p_.eat();  // ']'
    p_.leave();
    sink_.end_array();
    return true;
  }

  // A failure of the outermost object's members is reported where the reader stops after
  // closing the object: blanks and a directly following '}' are consumed first.
  bool fail_in_object(const std::string& message) {
    if (p_.skip_whitespace() == '}') p_.eat();
    return p_.fail_here(message);
  }

  // The outermost tag, read from the text and resolved at once.
  bool read_tag() {
    const int c = p_.skip_whitespace();
    if (c == '[') return p_.fail_here("invalid type: sequence, expected variant identifier");
    if (c == '{') return p_.fail_here("invalid type: map, expected variant identifier");
    Content scalar;
    ContentSink sink(scalar);
    if (!p_.parse_value(sink)) return false;
    auto op = resolve_tag(scalar, scalar.nodes[0]);
    if (!op) return p_.fail_here(op.error());
    tag_ = *op;
    return true;
  }

  Parser p_;
  Content content_;
  ContentSink sink_;
  std::optional<Op> tag_;
  bool object_form_ = true;
};

}  // namespace

std::expected<Expr, std::string> read_expr(std::string_view text) {
  FirstPass pass(text);
  if (!pass.run()) return std::unexpected(pass.parser().take_error());
  Builder builder(pass.content());
  auto expr = pass.object_form()
                  ? builder.from_members(pass.tag(), 0)
                  : builder.from_elements(pass.tag(), 1, pass.content().nodes[0].count);
  if (!expr) return expr;
  if (!pass.parser().end()) return std::unexpected(pass.parser().take_error());
  return expr;
}

}  // namespace korva::brindle
