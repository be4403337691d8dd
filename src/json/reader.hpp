// JSON text reader. Failures carry the reader's message followed by
// " at line {line} column {column}" (where the reader stopped). At most 127 arrays and
// objects may be open at once; the 128th fails with "recursion limit exceeded".
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace korva::json {

std::expected<Value, std::string> read(std::string_view text);

}  // namespace korva::json
