#include "json/parser.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#include "json/utf8.hpp"

namespace korva::json::detail {

namespace {

constexpr bool is_digit(int c) {
  return c >= '0' && c <= '9';
}

int hex_value(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// Bytes that end the plain run of a string: the closing quote, a backslash, or a control
// character (which is an error inside a string).
constexpr std::array<bool, 256> kStringStop = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = true;
  t['\\'] = true;
  return t;
}();

}  // namespace

bool valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    const unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t len;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // UTF-16 surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < len) return false;
    if (p[1] < lo || p[1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
    }
    p += len;
  }
  return true;
}

int Parser::skip_whitespace() {
  while (index_ < text_.size()) {
    const char c = text_[index_];
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
    ++index_;
  }
  return kEof;
}

bool Parser::fail_at(std::string_view message, std::size_t index) {
  index = std::min(index, text_.size());
  const std::string_view before = text_.substr(0, index);
  const std::size_t last_newline = before.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  const std::size_t line =
      1 + static_cast<std::size_t>(std::count(before.begin(), before.begin() + line_start, '\n'));
  error_.assign(message);
  error_ += " at line ";
  error_ += std::to_string(line);
  error_ += " column ";
  error_ += std::to_string(index - line_start);
  return false;
}

bool Parser::fail_here(std::string_view message) {
  return fail_at(message, index_);
}

bool Parser::fail_peek(std::string_view message) {
  return fail_at(message, index_ + 1);
}

bool Parser::parse_ident(std::string_view rest) {
  for (char expected : rest) {
    if (index_ == text_.size()) return fail_here("EOF while parsing a value");
    if (text_[index_++] != expected) return fail_here("expected ident");
  }
  return true;
}

bool Parser::parse_number(Number& out) {
  const std::size_t start = index_;
  const bool negative = peek() == '-';
  if (negative) eat();

  // Integer part: one '0', or a non-zero digit followed by digits.
  if (index_ == text_.size()) return fail_here("EOF while parsing a value");
  const int first = static_cast<unsigned char>(text_[index_++]);
  const std::size_t int_begin = index_ - 1;
  std::uint64_t significand = 0;
  bool overflow = false;  // the integer part does not fit 64 bits
  if (first == '0') {
    if (is_digit(peek())) return fail_peek("invalid number");
  } else if (first >= '1' && first <= '9') {
    significand = static_cast<std::uint64_t>(first - '0');
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    while (is_digit(peek())) {
      const auto digit = static_cast<std::uint64_t>(peek() - '0');
      if (!overflow && significand > (kMax - digit) / 10) overflow = true;
      if (!overflow) significand = significand * 10 + digit;
      eat();
    }
  } else {
    return fail_here("invalid number");
  }
  const std::size_t int_end = index_;

  // Fraction: at least one digit after the point.
  std::size_t frac_begin = index_, frac_end = index_;
  bool fraction = false;
  if (peek() == '.') {
    eat();
    frac_begin = index_;
    while (is_digit(peek())) eat();
    frac_end = index_;
    if (frac_begin == frac_end) {
      return peek() == kEof ? fail_peek("EOF while parsing a value") : fail_peek("invalid number");
    }
    fraction = true;
  }

  // Exponent: an optional sign and at least one digit. An exponent that does not fit 32 bits
  // saturates: a non-zero number with such a positive exponent is out of range at once, any
  // other reads as zero.
  std::int64_t exponent = 0;
  bool has_exponent = false;
  if (peek() == 'e' || peek() == 'E') {
    eat();
    has_exponent = true;
    bool exp_negative = false;
    if (peek() == '+' || peek() == '-') {
      exp_negative = peek() == '-';
      eat();
    }
    if (index_ == text_.size()) return fail_here("EOF while parsing a value");
    const int c = static_cast<unsigned char>(text_[index_++]);
    if (!is_digit(c)) return fail_here("invalid number");
    constexpr std::int64_t kExpMax = std::numeric_limits<std::int32_t>::max();
    exponent = c - '0';
    while (is_digit(peek())) {
      eat();
      exponent = exponent * 10 + (text_[index_ - 1] - '0');
      if (exponent > kExpMax) {
        const bool zero = std::all_of(text_.begin() + static_cast<std::ptrdiff_t>(int_begin),
                                      text_.begin() + static_cast<std::ptrdiff_t>(frac_end),
                                      [](char ch) { return ch == '0' || ch == '.'; });
        if (!zero && !exp_negative) return fail_here("number out of range");
        while (is_digit(peek())) eat();
        out.kind = Number::Kind::Double;
        out.d = negative ? -0.0 : 0.0;
        return true;
      }
    }
    if (exp_negative) exponent = -exponent;
  }

  if (!fraction && !has_exponent && !overflow) {
    if (!negative) {
      out.kind = Number::Kind::UInt;
      out.u = significand;
    } else if (significand == 0) {
      out.kind = Number::Kind::Double;  // -0 has no integer form
      out.d = -0.0;
    } else if (significand <= (std::uint64_t{1} << 63)) {
      out.kind = Number::Kind::Int;
      out.i = static_cast<std::int64_t>(0 - significand);
    } else {
      out.kind = Number::Kind::Double;
      out.d = -static_cast<double>(significand);
    }
    return true;
  }

  // Everything else is a double, correctly rounded from the full text.
  out.kind = Number::Kind::Double;
  double value = 0.0;
  const char* first_char = text_.data() + start;
  const char* last_char = text_.data() + index_;
  const auto [ptr, ec] = std::from_chars(first_char, last_char, value);
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: decide which from the decimal magnitude of the
    // first significant digit.
    std::int64_t magnitude = 0;
    bool found = false;
    for (std::size_t k = int_begin; k < int_end && !found; ++k) {
      if (text_[k] != '0') {
        magnitude = static_cast<std::int64_t>(int_end - k);
        found = true;
      }
    }
    for (std::size_t k = frac_begin; k < frac_end && !found; ++k) {
      if (text_[k] != '0') {
        magnitude = -static_cast<std::int64_t>(k - frac_begin);
        found = true;
      }
    }
    if (found && magnitude + exponent > 0) return fail_here("number out of range");
    value = negative ? -0.0 : 0.0;
  } else if (ec != std::errc() || ptr != last_char) {
    return fail_here("invalid number");  // not reachable for text that passed the scan
  }
  out.d = value;
  return true;
}

bool Parser::decode_hex4(std::uint32_t& out) {
  if (text_.size() - index_ < 4) {
    index_ = text_.size();
    return fail_here("EOF while parsing a string");
  }
  std::uint32_t n = 0;
  bool ok = true;
  for (int k = 0; k < 4; ++k) {
    const int v = hex_value(text_[index_ + static_cast<std::size_t>(k)]);
    if (v < 0) ok = false;
    n = (n << 4) | static_cast<std::uint32_t>(v & 0xF);
  }
  index_ += 4;
  if (!ok) return fail_here("invalid escape");
  out = n;
  return true;
}

bool Parser::parse_unicode_escape() {
  std::uint32_t n = 0;
  if (!decode_hex4(n)) return false;
  if (n >= 0xDC00 && n <= 0xDFFF) return fail_here("lone leading surrogate in hex escape");
  if (n < 0xD800 || n > 0xDBFF) {
    append_utf8(n, scratch_);
    return true;
  }
  // A leading surrogate must be followed at once by an escaped trailing one.
  for (char expected : {'\\', 'u'}) {
    if (index_ == text_.size()) return fail_here("EOF while parsing a string");
    if (text_[index_++] != expected) return fail_here("unexpected end of hex escape");
  }
  std::uint32_t n2 = 0;
  if (!decode_hex4(n2)) return false;
  if (n2 < 0xDC00 || n2 > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
  append_utf8(0x10000 + ((n - 0xD800) << 10) + (n2 - 0xDC00), scratch_);
  return true;
}

bool Parser::parse_escape() {
  if (index_ == text_.size()) return fail_here("EOF while parsing a string");
  switch (text_[index_++]) {
    case '"':
      scratch_.push_back('"');
      return true;
    case '\\':
      scratch_.push_back('\\');
      return true;
    case '/':
      scratch_.push_back('/');
      return true;
    case 'b':
      scratch_.push_back('\b');
      return true;
    case 'f':
      scratch_.push_back('\f');
      return true;
    case 'n':
      scratch_.push_back('\n');
      return true;
    case 'r':
      scratch_.push_back('\r');
      return true;
    case 't':
      scratch_.push_back('\t');
      return true;
    case 'u':
      return parse_unicode_escape();
    default:
      return fail_here("invalid escape");
  }
}

bool Parser::parse_string(std::string_view& out) {
  scratch_.clear();
  bool copied = false;
  bool non_ascii = false;
  std::size_t run_start = index_;
  const std::size_t n = text_.size();
  for (;;) {
    while (index_ < n && !kStringStop[static_cast<unsigned char>(text_[index_])]) {
      non_ascii |= (static_cast<unsigned char>(text_[index_]) & 0x80) != 0;
      ++index_;
    }
    if (index_ == n) return fail_here("EOF while parsing a string");
    const char c = text_[index_];
    if (c == '"') {
      const std::string_view run = text_.substr(run_start, index_ - run_start);
      if (copied) {
        scratch_.append(run);
        out = scratch_;
      } else {
        out = run;
      }
      ++index_;
      if (non_ascii && !valid_utf8(out)) return fail_here("invalid unicode code point");
      return true;
    }
    if (c == '\\') {
      scratch_.append(text_.substr(run_start, index_ - run_start));
      copied = true;
      ++index_;
      if (!parse_escape()) return false;
      run_start = index_;
      continue;
    }
    ++index_;
    return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
  }
}

bool Parser::parse_colon() {
  const int c = skip_whitespace();
  if (c == ':') {
    eat();
    return true;
  }
  if (c == kEof) return fail_peek("EOF while parsing an object");
  return fail_peek("expected `:`");
}

bool Parser::enter() {
  if (--remaining_depth_ == 0) return fail_peek("recursion limit exceeded");
  return true;
}

bool Parser::end() {
  if (skip_whitespace() != kEof) return fail_peek("trailing characters");
  return true;
}

}  // namespace korva::json::detail
