// JSON text reader.
//
// Failures carry the reader's message followed by " at line {line} column {column}": lines
// are 1-based, the column counts the bytes of the line up to where the reader stopped. At
// most 127 arrays and objects may be open at once; the 128th fails with "recursion limit
// exceeded". Numbers: non-negative integers that fit 64 bits read as UInt, negative ones as
// Int; fractions, exponents, -0 and integers too large for 64 bits read as the correctly
// rounded double (a magnitude too large for a double is "number out of range", one too small
// reads as zero). Strings must be valid UTF-8 once escapes are decoded ("invalid unicode code
// point" otherwise); a key given twice in one object keeps its last value. The reader never
// recurses and works in time linear in the text.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace korva::json {

std::expected<Value, std::string> read(std::string_view text);

}  // namespace korva::json
