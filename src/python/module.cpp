// The `korva._korva` extension module: parse, format, lint, run_backtest and evaluate.
//
// Each function binds its arguments, converts them into the engine's inputs (JSON text,
// panels, configuration), calls the language front end or the strategy run, and converts
// the result back. Every call keeps the interpreter lock for its whole duration and owns
// all the data it builds; nothing is shared between calls.
#include <array>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "brindle/linter.hpp"
#include "brindle/parser.hpp"
#include "brindle/printer.hpp"
#include "core/strategy.hpp"
#include "json/reader.hpp"
#include "json/value.hpp"
#include "python/binding.hpp"
#include "python/config.hpp"
#include "python/convert.hpp"
#include "python/panel_input.hpp"
#include "python/ref.hpp"

namespace korva::py {

namespace {

// ---------------------------------------------------------------------------------------
// Signatures and docstrings. The text before "--" becomes __text_signature__.

constexpr const char* kRunBacktestParams[] = {"spec", "panels", "config", "price_key", "industry"};
constexpr const char* kParseParams[] = {"src"};
constexpr const char* kFormatParams[] = {"tree"};
constexpr const char* kLintParams[] = {"src", "series"};
constexpr const char* kEvaluateParams[] = {"spec", "panels", "industry"};

const Signature kRunBacktest{"run_backtest()", kRunBacktestParams, 2};
const Signature kParse{"parse()", kParseParams, 1};
const Signature kFormat{"format()", kFormatParams, 1};
const Signature kLint{"lint()", kLintParams, 1};
const Signature kEvaluate{"evaluate()", kEvaluateParams, 2};

PyDoc_STRVAR(run_backtest_doc,
             "run_backtest(spec, panels, config=None, price_key=\"close\", industry=None)\n"
             "--\n"
             "\n"
             "Run a backtest. `spec` is brindle source, a JSON string, or an Expr dict;\n"
             "`panels` maps series names to DataFrames or `{dates, symbols, data}` dicts;\n"
             "`config` takes the `BacktestConfig` knobs by name. Returns the Report as a\n"
             "dict (the same JSON contract the WASM/server boundaries emit).");

PyDoc_STRVAR(parse_doc,
             "parse(src)\n"
             "--\n"
             "\n"
             "Parse brindle source into the JSON Expr tree (as a dict).");

PyDoc_STRVAR(format_doc,
             "format(tree)\n"
             "--\n"
             "\n"
             "Render an Expr tree (dict or JSON string) back to canonical brindle source.");

PyDoc_STRVAR(lint_doc,
             "lint(src, series=None)\n"
             "--\n"
             "\n"
             "Lint brindle source. `series` enables the unknown-series check; unused-`let`\n"
             "is always checked. Returns `[{\"line\", \"col\", \"message\"}, ...]`.");

PyDoc_STRVAR(evaluate_doc,
             "evaluate(spec, panels, industry=None)\n"
             "--\n"
             "\n"
             "Evaluate a strategy over the panels without backtesting it. Returns the signal\n"
             "panel as a `{dates, symbols, data}` dict.");

// ---------------------------------------------------------------------------------------
// Shared steps

// Runs a function body, turning its result into a new reference (or nullptr with an
// exception set). C++ exceptions never cross into the interpreter: running out of memory
// becomes MemoryError.
template <typename Body>
PyObject* guarded(Body body) {
  try {
    PyResult<Ref> result = body();
    if (!result) return nullptr;
    return result->release();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    return nullptr;
  }
}

std::unexpected<Raised> raise_engine(const EngineError& error) {
  return raise(PyExc_ValueError, error.display());
}

// White_Space code points (what "leading whitespace" means for a spec string).
bool is_unicode_space(Py_UCS4 ch) {
  return (ch >= 0x09 && ch <= 0x0D) || ch == 0x20 || ch == 0x85 || ch == 0xA0 || ch == 0x1680 ||
         (ch >= 0x2000 && ch <= 0x200A) || ch == 0x2028 || ch == 0x2029 || ch == 0x202F ||
         ch == 0x205F || ch == 0x3000;
}

// A str whose first non-blank character is "{" is JSON text, taken whole; any other str
// is brindle source; anything else is a tree converted to JSON, which must be an object.
PyResult<std::string> strategy_json(PyObject* spec) {
  if (PyUnicode_Check(spec)) {
    auto text = utf8(spec);
    if (!text) return raised();
    const int kind = PyUnicode_KIND(spec);
    const void* data = PyUnicode_DATA(spec);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(spec);
    Py_ssize_t i = 0;
    while (i < length && is_unicode_space(PyUnicode_READ(kind, data, i))) ++i;
    if (i < length && PyUnicode_READ(kind, data, i) == '{') return std::string(*text);
    auto tree = brindle::parse(*text);
    if (!tree) return raise(PyExc_ValueError, "brindle parse: " + tree.error().display());
    return json::write(*tree);
  }
  auto tree = py_to_json(spec);
  if (!tree) return raised();
  if (!tree->is_object()) {
    return raise(PyExc_ValueError, "spec must be brindle source, a JSON string, or an Expr dict");
  }
  return json::write(*tree);
}

// Every item of the `panels` dict, in order, into the context.
PyResult<void> read_panels(PyObject* panels, EvalContext& ctx) {
  const Py_ssize_t size = PyDict_GET_SIZE(panels);
  Py_ssize_t pos = 0;
  PyObject *k = nullptr, *v = nullptr;
  while (PyDict_Next(panels, &pos, &k, &v)) {
    // Reading a panel may run user code (data-frame methods, strftime) that edits the dict.
    Ref key = Ref::borrow(k);
    Ref value = Ref::borrow(v);
    if (!PyUnicode_Check(key.get())) return raise_cannot_cast(key.get(), "str");
    auto name = utf8(key.get());
    if (!name) return raised();
    std::string series(*name);
    auto panel = panel_from_py(series, value.get());
    if (!panel) return raised();
    if (PyDict_GET_SIZE(panels) != size) {
      return raise(PyExc_RuntimeError, "dictionary changed size during iteration");
    }
    ctx.panels.insert_or_assign(std::move(series), std::move(*panel));
  }
  return {};
}

// ---------------------------------------------------------------------------------------
// The functions

PyObject* run_backtest(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyResult<Ref> {
    std::array<PyObject*, 5> arg{};
    if (!bind(kRunBacktest, args, nargs, kwnames, arg)) return raised();
    auto panels = dict_arg("panels", arg[1]);
    if (!panels) return raised();
    auto config_dict = optional_dict_arg("config", arg[2]);
    if (!config_dict) return raised();
    std::string_view price_key = "close";
    if (arg[3] != nullptr) {
      auto key = str_arg("price_key", arg[3]);
      if (!key) return raised();
      price_key = *key;
    }
    auto industry = str_map_arg("industry", arg[4]);
    if (!industry) return raised();

    auto json = strategy_json(arg[0]);
    if (!json) return raised();
    auto config = config_from_py(*config_dict);
    if (!config) return raised();
    EvalContext ctx;
    ctx.industry = std::move(*industry);
    if (!read_panels(*panels, ctx)) return raised();

    auto report = run_backtest_json(*json, ctx, price_key, *config);
    if (!report) return raise_engine(report.error());
    return json_to_py(*report);
  });
}

PyObject* parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyResult<Ref> {
    std::array<PyObject*, 1> arg{};
    if (!bind(kParse, args, nargs, kwnames, arg)) return raised();
    auto src = str_arg("src", arg[0]);
    if (!src) return raised();
    auto tree = brindle::parse(*src);
    if (!tree) return raise(PyExc_ValueError, tree.error().display());
    return json_to_py(*tree);
  });
}

PyObject* format(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyResult<Ref> {
    std::array<PyObject*, 1> arg{};
    if (!bind(kFormat, args, nargs, kwnames, arg)) return raised();
    json::Value tree;
    if (PyUnicode_Check(arg[0])) {
      auto text = utf8(arg[0]);
      if (!text) return raised();
      auto value = json::read(*text);
      if (!value) return raise(PyExc_ValueError, value.error());
      tree = std::move(*value);
    } else {
      auto value = py_to_json(arg[0]);
      if (!value) return raised();
      tree = std::move(*value);
    }
    Ref out = Ref::steal(new_str(brindle::format(tree)));
    if (!out) return raised();
    return out;
  });
}

PyObject* lint(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyResult<Ref> {
    std::array<PyObject*, 2> arg{};
    if (!bind(kLint, args, nargs, kwnames, arg)) return raised();
    auto src = str_arg("src", arg[0]);
    if (!src) return raised();
    auto series = str_list_arg("series", arg[1]);
    if (!series) return raised();
    auto findings = brindle::lint(*src, series->has_value() ? &**series : nullptr);
    if (!findings) return raise(PyExc_ValueError, findings.error().display());
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return raised();
    for (const auto& finding : *findings) {
      Ref line = Ref::steal(PyLong_FromSize_t(finding.line));
      Ref col = Ref::steal(PyLong_FromSize_t(finding.col));
      Ref message = Ref::steal(new_str(finding.message));
      Ref item = Ref::steal(PyDict_New());
      if (!line || !col || !message || !item) return raised();
      if (PyDict_SetItemString(item.get(), "line", line.get()) < 0 ||
          PyDict_SetItemString(item.get(), "col", col.get()) < 0 ||
          PyDict_SetItemString(item.get(), "message", message.get()) < 0 ||
          PyList_Append(list.get(), item.get()) < 0) {
        return raised();
      }
    }
    return list;
  });
}

PyObject* evaluate(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyResult<Ref> {
    std::array<PyObject*, 3> arg{};
    if (!bind(kEvaluate, args, nargs, kwnames, arg)) return raised();
    auto panels = dict_arg("panels", arg[1]);
    if (!panels) return raised();
    auto industry = str_map_arg("industry", arg[2]);
    if (!industry) return raised();

    auto json = strategy_json(arg[0]);
    if (!json) return raised();
    EvalContext ctx;
    ctx.industry = std::move(*industry);
    if (!read_panels(*panels, ctx)) return raised();

    auto panel = run_strategy(*json, ctx);
    if (!panel) return raise_engine(panel.error());
    return panel_to_py(*panel);
  });
}

// ---------------------------------------------------------------------------------------
// Module

template <auto Fn>
PyCFunction fastcall() {
  // The detour through void(*)() is the sanctioned way to store a METH_FASTCALL function.
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Fn));
}

constexpr int kFlags = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"run_backtest", fastcall<run_backtest>(), kFlags, run_backtest_doc},
    {"parse", fastcall<parse>(), kFlags, parse_doc},
    {"format", fastcall<format>(), kFlags, format_doc},
    {"lint", fastcall<lint>(), kFlags, lint_doc},
    {"evaluate", fastcall<evaluate>(), kFlags, evaluate_doc},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "_korva",
    "",
    0,  // no per-module state; a non-negative size makes every import run PyInit__korva
    kMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The module, created once per process and handed out again on re-import.
PyObject* g_module = nullptr;

PyObject* init_module() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError, "korva does not support sub-interpreters");
    return nullptr;
  }
  if (g_module != nullptr) {
    Py_INCREF(g_module);
    return g_module;
  }
  for (const Signature* sig : {&kRunBacktest, &kParse, &kFormat, &kLint, &kEvaluate}) {
    if (!intern_params(*sig)) return nullptr;
  }
  if (!init_panel_input()) return nullptr;
  Ref module = Ref::steal(PyModule_Create(&kModule));
  if (!module) return nullptr;
  if (PyModule_AddStringConstant(module.get(), "__version__", "0.2.0") < 0) return nullptr;
  Py_INCREF(module.get());
  g_module = module.get();
  return module.release();
}

}  // namespace

}  // namespace korva::py

PyMODINIT_FUNC PyInit__korva() {
  return korva::py::init_module();
}
