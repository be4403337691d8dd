// brindle source text to tokens.
//
// Every token carries the 1-based line and column where it starts, counted in characters
// (Unicode scalar values decoded from UTF-8), not bytes. The token list always ends with
// exactly one `Eof`. Bytes that are not valid UTF-8 are read as U+FFFD, so string
// literals and messages are always valid UTF-8.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "brindle/parse_error.hpp"

namespace korva::brindle {

// The order is the kind's numeric code.
enum class TokenKind : unsigned char {
  Num,    // number literal; payload `num`
  Ident,  // name; payload `text`
  Str,    // string literal without its quotes; payload `text`
  Op,     // "+", "-", "*", "/", "<", ">", "<=", ">="; payload `text`
  LParen,
  RParen,
  LBracket,
  RBracket,
  Comma,
  Eq,
  Let,
  Eof,
};

// The kind's name as it appears in messages ("RParen", "Eof", ...).
std::string_view token_kind_name(TokenKind kind);

struct Token {
  TokenKind kind = TokenKind::Eof;
  double num = 0.0;
  std::string text;
  std::size_t line = 1;
  std::size_t col = 1;
};

// Scans the whole source. The first error stops scanning; its message is one of
// "unexpected character `{c}`", "unterminated string" and "invalid number `{text}`".
std::expected<std::vector<Token>, ParseError> lex(std::string_view src);

}  // namespace korva::brindle
