"""The type stubs describe the real module."""

import ast
import inspect
import pathlib

import pytest

import korva
import korva._korva as ext

STUBS = pathlib.Path(korva.__file__).with_name("_korva.pyi")


def stub_functions():
    tree = ast.parse(STUBS.read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def test_stubs_are_shipped():
    assert STUBS.exists()
    assert STUBS.with_name("__init__.pyi").exists()
    assert STUBS.with_name("py.typed").exists()


def test_stub_names_match_module():
    public = [name for name in vars(ext) if not name.startswith("_")]
    assert sorted(stub_functions()) == sorted(public)


@pytest.mark.parametrize("name", ["run_backtest", "parse", "format", "lint", "evaluate"])
def test_stub_parameters_match(name):
    node = stub_functions()[name]
    args = node.args
    assert not args.posonlyargs and not args.kwonlyargs and args.vararg is None and args.kwarg is None
    names = [a.arg for a in args.args]
    defaults = [None] * (len(names) - len(args.defaults)) + [ast.literal_eval(d) for d in args.defaults]
    has_default = [False] * (len(names) - len(args.defaults)) + [True] * len(args.defaults)
    sig = inspect.signature(getattr(korva, name))
    assert names == list(sig.parameters)
    for pname, default, present in zip(names, defaults, has_default):
        real = sig.parameters[pname].default
        if present:
            assert real == default
        else:
            assert real is inspect.Parameter.empty


def test_init_stub_reexports_everything():
    tree = ast.parse(STUBS.with_name("__init__.pyi").read_text())
    imported = {alias.name for node in tree.body if isinstance(node, ast.ImportFrom) for alias in node.names}
    assert imported == {"__version__", "run_backtest", "parse", "format", "lint", "evaluate"}
