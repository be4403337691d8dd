// BacktestConfig from the `config` argument of run_backtest.
#pragma once

#include "core/config.hpp"
#include "python/ref.hpp"

namespace korva::py {

// `config` is nullptr (None) or a dict whose keys are knob names. Items are visited in
// the dict's order and the first failure is raised: a non-str key (TypeError), an
// unknown key (ValueError "unknown config key `{key}`"), or the host's conversion error
// of a value. Values are taken as they come; NaN and infinities pass through.
PyResult<BacktestConfig> config_from_py(PyObject* config);

}  // namespace korva::py
