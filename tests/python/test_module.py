"""The module object: attributes, registration order, docstrings and signatures."""

import inspect
import pickle
import subprocess
import sys
import textwrap
import types

import pytest

import korva
import korva._korva as ext

FUNCTIONS = ["run_backtest", "parse", "format", "lint", "evaluate"]


def test_version_and_doc():
    assert korva.__version__ == "0.2.0"
    assert type(korva.__version__) is str
    assert korva.__doc__ == ""
    assert ext.__doc__ == ""
    assert korva.__name__ == "korva"


def test_functions_registered_in_order():
    names = [name for name in vars(ext) if not name.startswith("__")]
    assert names == FUNCTIONS


@pytest.mark.parametrize("name", FUNCTIONS)
def test_package_reexports_the_builtins(name):
    fn = getattr(korva, name)
    assert fn is getattr(ext, name)
    assert isinstance(fn, types.BuiltinFunctionType)
    assert fn.__module__ == "korva"
    assert pickle.loads(pickle.dumps(fn)) is fn


DOCS = {
    "parse": ("(src)", "Parse brindle source into the JSON Expr tree (as a dict)."),
    "format": (
        "(tree)",
        "Render an Expr tree (dict or JSON string) back to canonical brindle source.",
    ),
    "lint": (
        "(src, series=None)",
        "Lint brindle source. `series` enables the unknown-series check; unused-`let`\n"
        'is always checked. Returns `[{"line", "col", "message"}, ...]`.',
    ),
    "run_backtest": (
        '(spec, panels, config=None, price_key="close", industry=None)',
        "Run a backtest. `spec` is brindle source, a JSON string, or an Expr dict;\n"
        "`panels` maps series names to DataFrames or `{dates, symbols, data}` dicts;\n"
        "`config` takes the `BacktestConfig` knobs by name. Returns the Report as a\n"
        "dict (the same JSON contract the WASM/server boundaries emit).",
    ),
    "evaluate": (
        "(spec, panels, industry=None)",
        "Evaluate a strategy over the panels without backtesting it. Returns the signal\n"
        "panel as a `{dates, symbols, data}` dict.",
    ),
}


@pytest.mark.parametrize("name", FUNCTIONS)
def test_docstring_and_text_signature(name):
    fn = getattr(korva, name)
    signature, doc = DOCS[name]
    assert fn.__text_signature__ == signature
    assert fn.__doc__ == doc


def test_inspect_signature_shows_defaults():
    sig = inspect.signature(korva.run_backtest)
    assert list(sig.parameters) == ["spec", "panels", "config", "price_key", "industry"]
    assert sig.parameters["price_key"].default == "close"
    assert sig.parameters["config"].default is None
    assert sig.parameters["industry"].default is None
    assert sig.parameters["spec"].default is inspect.Parameter.empty
    for fn in (korva.run_backtest, korva.parse, korva.format, korva.lint, korva.evaluate):
        for p in inspect.signature(fn).parameters.values():
            assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD


def test_reimport_gives_working_module():
    import importlib

    saved = sys.modules.pop("korva._korva")
    try:
        again = importlib.import_module("korva._korva")
        assert again.__version__ == "0.2.0"
        assert again.parse is not None
    finally:
        sys.modules["korva._korva"] = saved


@pytest.mark.parametrize("main_first", [False, True])
def test_sub_interpreter_is_refused(main_first):
    interpreters = pytest.importorskip("_xxsubinterpreters")
    del interpreters
    code = ("import korva\n" if main_first else "") + textwrap.dedent(
        """
        import _xxsubinterpreters as interpreters
        sub = interpreters.create()
        try:
            interpreters.run_string(sub, "import korva._korva")
        except Exception as e:
            print("refused", e)
        else:
            print("imported")
        """
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    assert "refused" in out.stdout
    assert "ImportError" in out.stdout
