#include "brindle/lexer.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <system_error>

#include "json/utf8.hpp"

namespace korva::brindle {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t cp;
  std::size_t len;  // bytes consumed
};

// Decodes the character starting at `i` (which must be inside `s`). Anything that is not
// a well-formed UTF-8 sequence (stray continuation bytes, overlong forms, surrogates,
// values above U+10FFFF, truncated sequences) reads as U+FFFD covering one byte.
Decoded decode(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t len;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {kReplacement, 1};
  }
  if (s.size() - i < len) return {kReplacement, 1};
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return {kReplacement, 1};
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kReplacement, 1};
  return {cp, len};
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_name_start(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool is_name_char(char c) {
  return is_name_start(c) || is_digit(c);
}

// For a literal that from_chars reported out of range: whether its magnitude is large
// (overflow, infinity) rather than tiny (underflow, zero). `text` is a valid literal.
bool overflows(std::string_view text) {
  const std::size_t e = text.find('e');
  const std::string_view mantissa = text.substr(0, e);
  // Decimal exponent of the first significant digit of the mantissa.
  const std::size_t point = mantissa.find('.');
  const std::size_t int_len = point == std::string_view::npos ? mantissa.size() : point;
  long long magnitude = 0;
  bool found = false;
  for (std::size_t i = 0; i < mantissa.size() && !found; ++i) {
    if (mantissa[i] == '.' || mantissa[i] == '0') continue;
    found = true;
    magnitude = i < int_len ? static_cast<long long>(int_len - i - 1)
                            : -static_cast<long long>(i - int_len);
  }
  if (!found) return false;
  if (e != std::string_view::npos) {
    std::size_t i = e + 1;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    long long exp = 0;
    for (; i < text.size(); ++i) {
      if (exp < 1'000'000'000) exp = exp * 10 + (text[i] - '0');  // saturates far out
    }
    magnitude += negative ? -exp : exp;
  }
  return magnitude > 0;
}

class Lexer {
 public:
  explicit Lexer(std::string_view src) : src_(src) {}

  std::expected<std::vector<Token>, ParseError> run() {
    // A rough guess (one token per three bytes) avoids most regrowth; capped so that a
    // huge source grows the list only as far as its tokens really need.
    tokens_.reserve(std::min<std::size_t>(src_.size() / 3 + 1, std::size_t{1} << 20));
    while (i_ < src_.size()) {
      const char c = src_[i_];
      switch (c) {
        case ' ':
        case '\t':
        case '\r':
          ++i_, ++col_;
          continue;
        case '\n':
          ++i_, ++line_, col_ = 1;
          continue;
        case '#':
          while (i_ < src_.size() && src_[i_] != '\n') ++i_;
          continue;
        case '"':
          if (!string_literal())
            return std::unexpected(ParseError{"unterminated string", line_, col_});
          continue;
        case '(':
          simple(TokenKind::LParen);
          continue;
        case ')':
          simple(TokenKind::RParen);
          continue;
        case '[':
          simple(TokenKind::LBracket);
          continue;
        case ']':
          simple(TokenKind::RBracket);
          continue;
        case ',':
          simple(TokenKind::Comma);
          continue;
        case '=':
          simple(TokenKind::Eq);
          continue;
        case '+':
        case '-':
        case '*':
        case '/':
          op(1);
          continue;
        case '<':
        case '>':
          op(i_ + 1 < src_.size() && src_[i_ + 1] == '=' ? 2 : 1);
          continue;
        default:
          break;
      }
      if (is_digit(c)) {
        if (auto err = number()) return std::unexpected(std::move(*err));
      } else if (is_name_start(c)) {
        name();
      } else {
        const Decoded d = decode(src_, i_);
        std::string shown;
        json::append_utf8(d.cp, shown);
        return std::unexpected(ParseError{"unexpected character `" + shown + "`", line_, col_});
      }
    }
    push(TokenKind::Eof, line_, col_);
    return std::move(tokens_);
  }

 private:
  Token& push(TokenKind kind, std::size_t line, std::size_t col) {
    Token& t = tokens_.emplace_back();
    t.kind = kind;
    t.line = line;
    t.col = col;
    return t;
  }

  void simple(TokenKind kind) {
    push(kind, line_, col_);
    ++i_, ++col_;
  }

  void op(std::size_t len) {
    push(TokenKind::Op, line_, col_).text.assign(src_.substr(i_, len));
    i_ += len, col_ += len;
  }

  // Everything up to the next double quote is the literal; there are no escapes. The
  // column continues from the opening quote as if the literal were on one line, and the
  // line does not change even when the literal spans line feeds. Returns false when the
  // input ends first (the error is reported at the opening quote, still current).
  bool string_literal() {
    std::size_t j = i_ + 1;
    std::size_t chars = 0;
    std::string text;
    while (j < src_.size() && src_[j] != '"') {
      const Decoded d = decode(src_, j);
      if (d.cp == kReplacement && d.len == 1 && static_cast<unsigned char>(src_[j]) >= 0x80) {
        json::append_utf8(kReplacement, text);
      } else {
        text.append(src_.substr(j, d.len));
      }
      j += d.len;
      ++chars;
    }
    if (j >= src_.size()) return false;
    Token& t = push(TokenKind::Str, line_, col_);
    t.text = std::move(text);
    col_ += chars + 2;
    i_ = j + 1;
    return true;
  }

  std::optional<ParseError> number() {
    const std::size_t start_col = col_;
    std::string text;
    std::size_t j = i_;
    while (j < src_.size()) {
      const char c = src_[j];
      if (is_digit(c) || c == '.') {
        text.push_back(c);
        ++j;
      } else if (c == '_') {
        ++j;
      } else if (c == 'e' || c == 'E') {
        const bool digit_next = j + 1 < src_.size() && is_digit(src_[j + 1]);
        const bool signed_digit = j + 2 < src_.size() &&
                                  (src_[j + 1] == '+' || src_[j + 1] == '-') &&
                                  is_digit(src_[j + 2]);
        if (digit_next) {
          text.push_back('e');
          j += 1;
        } else if (signed_digit) {
          text.push_back('e');
          text.push_back(src_[j + 1]);
          j += 2;
        } else {
          break;
        }
      } else {
        break;
      }
    }
    double value = 0.0;
    const char* first = text.data();
    const char* last = first + text.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ptr != last || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
      return ParseError{"invalid number `" + text + "`", line_, start_col};
    }
    if (ec == std::errc::result_out_of_range) {
      value = overflows(text) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    Token& t = push(TokenKind::Num, line_, start_col);
    t.num = value;
    col_ += j - i_;  // every consumed byte is ASCII
    i_ = j;
    return std::nullopt;
  }

  void name() {
    std::size_t j = i_ + 1;
    while (j < src_.size() && is_name_char(src_[j])) ++j;
    const std::string_view word = src_.substr(i_, j - i_);
    if (word == "let") {
      push(TokenKind::Let, line_, col_);
    } else {
      push(TokenKind::Ident, line_, col_).text.assign(word);
    }
    col_ += j - i_;
    i_ = j;
  }

  std::string_view src_;
  std::size_t i_ = 0;
  std::size_t line_ = 1;
  std::size_t col_ = 1;
  std::vector<Token> tokens_;
};

}  // namespace

std::string_view token_kind_name(TokenKind kind) {
  switch (kind) {
    case TokenKind::Num:
      return "Num";
    case TokenKind::Ident:
      return "Ident";
    case TokenKind::Str:
      return "Str";
    case TokenKind::Op:
      return "Op";
    case TokenKind::LParen:
      return "LParen";
    case TokenKind::RParen:
      return "RParen";
    case TokenKind::LBracket:
      return "LBracket";
    case TokenKind::RBracket:
      return "RBracket";
    case TokenKind::Comma:
      return "Comma";
    case TokenKind::Eq:
      return "Eq";
    case TokenKind::Let:
      return "Let";
    case TokenKind::Eof:
      return "Eof";
  }
  return "?";
}

std::expected<std::vector<Token>, ParseError> lex(std::string_view src) {
  return Lexer(src).run();
}

}  // namespace korva::brindle
