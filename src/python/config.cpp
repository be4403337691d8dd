#include "python/config.hpp"

#include <string>
#include <string_view>

namespace korva::py {

namespace {

PyResult<void> read_float(PyObject* value, double& out) {
  const double d = PyFloat_AsDouble(value);
  if (d == -1.0 && PyErr_Occurred()) return raised();
  out = d;
  return {};
}

PyResult<void> read_size(PyObject* value, std::size_t& out) {
  Ref index = Ref::steal(PyNumber_Index(value));
  if (!index) return raised();
  const unsigned long long n = PyLong_AsUnsignedLongLong(index.get());
  if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return raised();
  out = static_cast<std::size_t>(n);
  return {};
}

PyResult<void> read_key(PyObject* value, std::optional<std::string>& out) {
  if (value == Py_None) {
    out.reset();
    return {};
  }
  if (!PyUnicode_Check(value)) return raise_cannot_cast(value, "str");
  auto text = utf8(value);
  if (!text) return raised();
  out = std::string(*text);
  return {};
}

PyResult<void> set_knob(BacktestConfig& config, std::string_view key, PyObject* value) {
  if (key == "fee_ratio") return read_float(value, config.fee_ratio);
  if (key == "tax_ratio") return read_float(value, config.tax_ratio);
  if (key == "position_limit") return read_float(value, config.position_limit);
  if (key == "slippage_ratio") return read_float(value, config.slippage_ratio);
  if (key == "initial_capital") return read_float(value, config.initial_capital);
  if (key == "max_participation") return read_float(value, config.max_participation);
  if (key == "impact_coef") return read_float(value, config.impact_coef);
  if (key == "delist_after") return read_size(value, config.delist_after);
  if (key == "delist_haircut") return read_float(value, config.delist_haircut);
  if (key == "bootstrap_samples") return read_size(value, config.bootstrap_samples);
  if (key == "bootstrap_block") return read_size(value, config.bootstrap_block);
  if (key == "benchmark_key") return read_key(value, config.benchmark_key);
  return raise(PyExc_ValueError, "unknown config key `" + std::string(key) + "`");
}

}  // namespace

PyResult<BacktestConfig> config_from_py(PyObject* config) {
  BacktestConfig out;
  if (config == nullptr || config == Py_None) return out;
  const Py_ssize_t size = PyDict_GET_SIZE(config);
  Py_ssize_t pos = 0;
  PyObject *k = nullptr, *v = nullptr;
  while (PyDict_Next(config, &pos, &k, &v)) {
    // Value conversions may run user code (__float__, __index__) that edits the dict.
    Ref key = Ref::borrow(k);
    Ref value = Ref::borrow(v);
    if (!PyUnicode_Check(key.get())) return raise_cannot_cast(key.get(), "str");
    auto text = utf8(key.get());
    if (!text) return raised();
    if (!set_knob(out, *text, value.get())) return raised();
    if (PyDict_GET_SIZE(config) != size) {
      return raise(PyExc_RuntimeError, "dictionary changed size during iteration");
    }
  }
  return out;
}

}  // namespace korva::py
