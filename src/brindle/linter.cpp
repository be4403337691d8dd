#include "brindle/linter.hpp"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "brindle/parser.hpp"

namespace korva::brindle {

namespace {

// Splits UTF-8 text into characters; a byte that does not start a well-formed sequence
// counts as one character of its own.
std::vector<char32_t> chars(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = b0 < 0x80             ? 1
                      : (b0 & 0xE0) == 0xC0 ? 2
                      : (b0 & 0xF0) == 0xE0 ? 3
                      : (b0 & 0xF8) == 0xF0 ? 4
                                            : 1;
    if (len > s.size() - i) len = 1;
    char32_t cp = len == 1 ? b0 : b0 & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) {
        len = 1;
        cp = 0x110000 + b0;  // a value no real character has
        break;
      }
      cp = (cp << 6) | (b & 0x3F);
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}

}  // namespace

std::size_t levenshtein(std::string_view a, std::string_view b) {
  const std::vector<char32_t> ca = chars(a);
  const std::vector<char32_t> cb = chars(b);
  std::vector<std::size_t> prev(cb.size() + 1);
  std::vector<std::size_t> row(cb.size() + 1);
  for (std::size_t j = 0; j <= cb.size(); ++j) prev[j] = j;
  for (std::size_t i = 0; i < ca.size(); ++i) {
    row[0] = i + 1;
    for (std::size_t j = 0; j < cb.size(); ++j) {
      const std::size_t substitute = prev[j] + (ca[i] == cb[j] ? 0 : 1);
      row[j + 1] = std::min({prev[j + 1] + 1, row[j] + 1, substitute});
    }
    std::swap(prev, row);
  }
  return prev[cb.size()];
}

std::size_t levenshtein_within(std::string_view a, std::string_view b, std::size_t limit) {
  const std::vector<char32_t> ca = chars(a);
  const std::vector<char32_t> cb = chars(b);
  const std::size_t over = limit + 1;  // stands for every distance beyond the limit
  const std::size_t la = ca.size();
  const std::size_t lb = cb.size();
  if ((la > lb ? la - lb : lb - la) > limit) return over;
  // Row i holds the distances between the first i characters of a and the first j of b,
  // for the j within `limit` of i; the cells just outside the band read as `over`.
  std::vector<std::size_t> prev(lb + 1, over);
  std::vector<std::size_t> row(lb + 1, over);
  for (std::size_t j = 0; j <= std::min(lb, limit); ++j) prev[j] = j;
  for (std::size_t i = 1; i <= la; ++i) {
    const std::size_t lo = i > limit ? i - limit : 1;
    const std::size_t hi = std::min(lb, i + limit);
    row[lo - 1] = lo == 1 ? std::min(i, over) : over;
    for (std::size_t j = lo; j <= hi; ++j) {
      const std::size_t substitute = prev[j - 1] + (ca[i - 1] == cb[j - 1] ? 0 : 1);
      row[j] = std::min({prev[j] + 1, row[j - 1] + 1, substitute, over});
    }
    if (hi < lb) row[hi + 1] = over;
    std::swap(prev, row);
  }
  return std::min(prev[lb], over);
}

std::expected<std::vector<Lint>, ParseError> lint(std::string_view src,
                                                  const std::vector<std::string>* series) {
  auto analysis = parse_analyzed(src);
  if (!analysis) return std::unexpected(std::move(analysis).error());
  std::vector<Lint> out;
  for (const NameRef& let : analysis->unused_lets) {
    out.push_back({let.line, let.col, "unused let binding `" + let.name + "`"});
  }
  if (series != nullptr) {
    std::unordered_set<std::string_view> reported;
    for (const NameRef& ref : analysis->series_refs) {
      if (std::find(series->begin(), series->end(), ref.name) != series->end()) continue;
      if (!reported.insert(ref.name).second) continue;
      const std::string* suggestion = nullptr;
      std::size_t best = std::numeric_limits<std::size_t>::max();
      for (const std::string& candidate : *series) {
        const std::size_t d = levenshtein_within(ref.name, candidate, 2);
        if (d <= 2 && d < best) {
          best = d;
          suggestion = &candidate;
        }
      }
      std::string message = "unknown series `" + ref.name + "`";
      if (suggestion != nullptr) message += " \u2014 did you mean `" + *suggestion + "`?";
      out.push_back({ref.line, ref.col, std::move(message)});
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const Lint& x, const Lint& y) {
    return x.line != y.line ? x.line < y.line : x.col < y.col;
  });
  return out;
}

}  // namespace korva::brindle
