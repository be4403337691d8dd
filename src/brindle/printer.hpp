// Canonical brindle source from a JSON expression tree.
#pragma once

#include <string>

#include "json/value.hpp"

namespace korva::brindle {

std::string format(const json::Value& tree);

}  // namespace korva::brindle
