// Streaming JSON text parser shared by the value reader (json::read) and the expression-tree
// reader (brindle::read_expr).
//
// The parser walks the text once, left to right, and hands what it reads to a sink. Its
// primitives are public so that a reader that has to interleave its own checks with the
// parse (the tree reader resolves the outermost "op" tag while it reads) can drive it token
// by token and still report every failure with the same message and position.
//
// Positions: every failure message ends with " at line {line} column {column}". Lines are
// 1-based and counted by '\n'; the column counts bytes from the start of the line. Two
// flavours exist, depending on whether the offending character was already consumed:
//   - fail_here: column of the last consumed byte (0 when nothing on the line was consumed);
//   - fail_peek: column of the next, not yet consumed, byte (clamped to the end of the text).
// Nesting: at most 127 arrays and objects may be open at once; opening the 128th fails with
// "recursion limit exceeded". parse_value never recurses, whatever the input.
// Strings must be valid UTF-8: a string whose bytes are not (after escapes are decoded) is
// rejected with "invalid unicode code point", positioned after its closing quote.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korva::json::detail {

inline constexpr int kEof = -1;
// Open arrays and objects allowed at once, plus one: entering the 128th fails.
inline constexpr int kDepthBudget = 128;

// A number as the text spells it: non-negative integers that fit 64 bits are UInt, negative
// ones that fit are Int, everything else (fractions, exponents, -0, integers too large for 64
// bits) is the correctly rounded Double.
struct Number {
  enum class Kind : std::uint8_t { UInt, Int, Double };
  Kind kind = Kind::UInt;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double d = 0.0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // --- Cursor -----------------------------------------------------------------------------
  int peek() const {
    return index_ < text_.size() ? static_cast<unsigned char>(text_[index_]) : kEof;
  }
  void eat() { ++index_; }
  // Skips blanks (space, tab, CR, LF); returns the next byte without consuming it, or kEof.
  int skip_whitespace();
  std::size_t index() const { return index_; }

  // --- Failures: store "{message} at line L column C" and return false --------------------
  bool fail_here(std::string_view message);
  bool fail_peek(std::string_view message);
  const std::string& error() const { return error_; }
  std::string take_error() { return std::move(error_); }

  // --- Tokens -----------------------------------------------------------------------------
  // The rest of `null`, `true` or `false`, after their first letter was consumed.
  bool parse_ident(std::string_view rest);
  // A number starting at the next byte ('-' or a digit, not consumed).
  bool parse_number(Number& out);
  // A string whose opening quote was consumed. `out` points into the text or into an
  // internal buffer and stays valid until the next parse_string call.
  bool parse_string(std::string_view& out);
  // The ':' between an object key and its value.
  bool parse_colon();
  // Depth accounting around an array or object whose opening bracket is the next byte.
  bool enter();
  void leave() { ++remaining_depth_; }
  // After the top-level value: only blanks may follow.
  bool end();

  // Reads one complete value and reports it to `sink`, which provides:
  //   null_value(), boolean(bool), number(const Number&), string(std::string_view),
  //   begin_array(), end_array(), begin_object(), key(std::string_view), end_object().
  template <class Sink>
  bool parse_value(Sink& sink);

 private:
  bool fail_at(std::string_view message, std::size_t index);
  bool parse_escape();
  bool parse_unicode_escape();
  bool decode_hex4(std::uint32_t& out);
  template <class Sink>
  bool parse_key(Sink& sink);

  std::string_view text_;
  std::size_t index_ = 0;
  int remaining_depth_ = kDepthBudget;
  std::string scratch_;
  std::string error_;
};

// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool valid_utf8(std::string_view s);

template <class Sink>
bool Parser::parse_key(Sink& sink) {
  eat();  // opening quote
  std::string_view key;
  if (!parse_string(key)) return false;
  sink.key(key);
  return parse_colon();
}

template <class Sink>
bool Parser::parse_value(Sink& sink) {
  // Kinds of the containers opened by this call; the depth budget bounds their number.
  std::array<char, kDepthBudget> open;
  std::size_t depth = 0;
  for (;;) {
    // Read one value, or open a container and move on to its first element.
    int c = skip_whitespace();
    bool opened = false;
    switch (c) {
      case kEof:
        return fail_peek("EOF while parsing a value");
      case 'n':
        eat();
        if (!parse_ident("ull")) return false;
        sink.null_value();
        break;
      case 't':
        eat();
        if (!parse_ident("rue")) return false;
        sink.boolean(true);
        break;
      case 'f':
        eat();
        if (!parse_ident("alse")) return false;
        sink.boolean(false);
        break;
      case '-':
      case '0':
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9': {
        Number n;
        if (!parse_number(n)) return false;
        sink.number(n);
        break;
      }
      case '"': {
        eat();
        std::string_view s;
        if (!parse_string(s)) return false;
        sink.string(s);
        break;
      }
      case '[':
        if (!enter()) return false;
        eat();
        sink.begin_array();
        c = skip_whitespace();
        if (c == kEof) return fail_peek("EOF while parsing a list");
        if (c == ']') {
          eat();
          leave();
          sink.end_array();
        } else {
          open[depth++] = '[';
          opened = true;
        }
        break;
      case '{':
        if (!enter()) return false;
        eat();
        sink.begin_object();
        c = skip_whitespace();
        if (c == kEof) return fail_peek("EOF while parsing an object");
        if (c == '}') {
          eat();
          leave();
          sink.end_object();
        } else {
          if (c != '"') return fail_peek("key must be a string");
          if (!parse_key(sink)) return false;
          open[depth++] = '{';
          opened = true;
        }
        break;
      default:
        return fail_peek("expected value");
    }
    if (opened) continue;

    // A value is complete: close finished containers, then step to the next element.
    for (;;) {
      if (depth == 0) return true;
      c = skip_whitespace();
      if (open[depth - 1] == '[') {
        if (c == kEof) return fail_peek("EOF while parsing a list");
        if (c == ']') {
          eat();
          leave();
          sink.end_array();
          --depth;
          continue;
        }
        if (c != ',') return fail_peek("expected `,` or `]`");
        eat();
        c = skip_whitespace();
        if (c == ']') return fail_peek("trailing comma");
        if (c == kEof) return fail_peek("EOF while parsing a value");
        break;
      }
      if (c == kEof) return fail_peek("EOF while parsing an object");
      if (c == '}') {
        eat();
        leave();
        sink.end_object();
        --depth;
        continue;
      }
      if (c != ',') return fail_peek("expected `,` or `}`");
      eat();
      c = skip_whitespace();
      if (c == '"') {
        if (!parse_key(sink)) return false;
        break;
      }
      if (c == '}') return fail_peek("trailing comma");
      if (c == kEof) return fail_peek("EOF while parsing a value");
      return fail_peek("key must be a string");
    }
  }
}

}  // namespace korva::json::detail
