"""Argument binding: counts, names, types, and how conversion errors are raised."""

import pytest

import korva

from conftest import DATA

P = {"p": {"dates": [1], "symbols": ["a"], "data": [[1.0]]}}


def call(fn, *args, **kwargs):
    return getattr(korva, fn)(*args, **kwargs)


BINDING_ERRORS = [
    # too many positional arguments
    ("parse", ("x", "y"), {}, "parse() takes 1 positional arguments but 2 were given"),
    ("format", ({}, 1, 2), {}, "format() takes 1 positional arguments but 3 were given"),
    ("lint", ("x", None, 3), {}, "lint() takes from 1 to 2 positional arguments but 3 were given"),
    (
        "run_backtest",
        ("x", {}, None, "close", None, 6),
        {},
        "run_backtest() takes from 2 to 5 positional arguments but 6 were given",
    ),
    (
        "evaluate",
        ("x", {}, None, 4),
        {},
        "evaluate() takes from 2 to 3 positional arguments but 4 were given",
    ),
    # missing
    ("parse", (), {}, "parse() missing 1 required positional argument: 'src'"),
    ("format", (), {}, "format() missing 1 required positional argument: 'tree'"),
    ("lint", (), {"series": []}, "lint() missing 1 required positional argument: 'src'"),
    (
        "run_backtest",
        (),
        {},
        "run_backtest() missing 2 required positional arguments: 'spec' and 'panels'",
    ),
    ("run_backtest", ("x",), {}, "run_backtest() missing 1 required positional argument: 'panels'"),
    (
        "run_backtest",
        (),
        {"panels": {}},
        "run_backtest() missing 1 required positional argument: 'spec'",
    ),
    # unknown keyword, also when another check would fail later
    ("parse", (), {"source": "x"}, "parse() got an unexpected keyword argument 'source'"),
    ("run_backtest", ("x", {}), {"cfg": {}}, "run_backtest() got an unexpected keyword argument 'cfg'"),
    ("lint", ("x",), {"Series": None}, "lint() got an unexpected keyword argument 'Series'"),
    # position and keyword
    ("parse", ("x",), {"src": "y"}, "parse() got multiple values for argument 'src'"),
    ("run_backtest", ("x", {}), {"panels": {}}, "run_backtest() got multiple values for argument 'panels'"),
    ("lint", ("x", None), {"series": None}, "lint() got multiple values for argument 'series'"),
    # wrong types
    ("parse", (1,), {}, "argument 'src': 'int' object cannot be cast as 'str'"),
    ("parse", (b"x",), {}, "argument 'src': 'bytes' object cannot be cast as 'str'"),
    ("lint", (None,), {}, "argument 'src': 'NoneType' object cannot be cast as 'str'"),
    ("lint", ("x",), {"series": "close"}, "argument 'series': Can't extract `str` to `Vec`"),
    ("lint", ("x",), {"series": {"close"}}, "argument 'series': 'set' object cannot be cast as 'Sequence'"),
    ("lint", ("x",), {"series": 5}, "argument 'series': 'int' object cannot be cast as 'Sequence'"),
    ("lint", ("x",), {"series": {"close": 1}}, "argument 'series': 'dict' object cannot be cast as 'Sequence'"),
    ("lint", ("x",), {"series": ["close", 3]}, "argument 'series': 'int' object cannot be cast as 'str'"),
    ("lint", ("x",), {"series": ("close", None)}, "argument 'series': 'NoneType' object cannot be cast as 'str'"),
    ("run_backtest", ("x", []), {}, "argument 'panels': 'list' object cannot be cast as 'dict'"),
    ("run_backtest", ("x", None), {}, "argument 'panels': 'NoneType' object cannot be cast as 'dict'"),
    ("run_backtest", ("x", {}), {"config": []}, "argument 'config': 'list' object cannot be cast as 'dict'"),
    ("run_backtest", ("x", {}), {"price_key": None}, "argument 'price_key': 'NoneType' object cannot be cast as 'str'"),
    ("run_backtest", ("x", {}), {"price_key": 1}, "argument 'price_key': 'int' object cannot be cast as 'str'"),
    ("run_backtest", ("x", {}), {"industry": []}, "argument 'industry': 'list' object cannot be cast as 'dict'"),
    ("run_backtest", ("x", {}), {"industry": {"A": 1}}, "argument 'industry': 'int' object cannot be cast as 'str'"),
    ("run_backtest", ("x", {}), {"industry": {1: "tech"}}, "argument 'industry': 'int' object cannot be cast as 'str'"),
    ("evaluate", ("x", ()), {}, "argument 'panels': 'tuple' object cannot be cast as 'dict'"),
    ("evaluate", ("x", {}), {"industry": {"A": None}}, "argument 'industry': 'NoneType' object cannot be cast as 'str'"),
    # argument types are checked in parameter order, before the spec is looked at
    ("run_backtest", (3.5, []), {"config": []}, "argument 'panels': 'list' object cannot be cast as 'dict'"),
    ("run_backtest", ("((", {}), {"config": 1, "price_key": 1}, "argument 'config': 'int' object cannot be cast as 'dict'"),
    ("run_backtest", ("((", {}), {"price_key": 1, "industry": 1}, "argument 'price_key': 'int' object cannot be cast as 'str'"),
    ("run_backtest", ((1, 2), {}), {"industry": {"A": 2}}, "argument 'industry': 'int' object cannot be cast as 'str'"),
]


@pytest.mark.parametrize("fn,args,kwargs,message", BINDING_ERRORS)
def test_binding_errors(fn, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        call(fn, *args, **kwargs)
    assert type(info.value) is TypeError
    assert str(info.value) == message


@pytest.mark.parametrize(
    "fn,args,kwargs,inner",
    [
        ("run_backtest", ("x", []), {}, "'list' object cannot be cast as 'dict'"),
        ("lint", ("x",), {"series": "close"}, "Can't extract `str` to `Vec`"),
        ("lint", ("x",), {"series": [1]}, "'int' object cannot be cast as 'str'"),
        ("run_backtest", ("x", {}), {"industry": {"A": 1}}, "'int' object cannot be cast as 'str'"),
        ("parse", (1,), {}, "'int' object cannot be cast as 'str'"),
    ],
)
def test_argument_type_error_carries_its_cause(fn, args, kwargs, inner):
    with pytest.raises(TypeError) as info:
        call(fn, *args, **kwargs)
    cause = info.value.__cause__
    assert type(cause) is TypeError
    assert str(cause) == inner


class Boom(Exception):
    pass


class BadSequence:
    """A registered Sequence whose iteration raises."""

    def __init__(self, exc):
        self.exc = exc

    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise self.exc


def test_user_errors_propagate_unchanged():
    import collections.abc

    collections.abc.Sequence.register(BadSequence)
    with pytest.raises(Boom) as info:
        korva.lint("close", series=BadSequence(Boom("x")))
    assert str(info.value) == "x"
    # A ValueError of user code is not re-labelled either.
    with pytest.raises(ValueError) as info:
        korva.lint("close", series=BadSequence(ValueError("mine")))
    assert str(info.value) == "mine"
    # A plain TypeError raised while converting an argument gets the prefix.
    with pytest.raises(TypeError) as info:
        korva.lint("close", series=BadSequence(TypeError("inner")))
    assert str(info.value) == "argument 'series': inner"
    assert str(info.value.__cause__) == "inner"


def test_lone_surrogate_in_str_argument_raises_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        korva.parse("close\ud800")
    with pytest.raises(UnicodeEncodeError):
        korva.lint("close", series=["a\udc00"])


@pytest.mark.parametrize(
    "fn,args,kwargs",
    [
        ("parse", (), {"src": "close"}),
        ("format", (), {"tree": DATA}),
        ("lint", ("close",), {"series": ["close"]}),
        ("lint", (), {"src": "close", "series": None}),
        ("evaluate", (), {"spec": DATA, "panels": P, "industry": None}),
        ("evaluate", (DATA,), {"panels": P}),
    ],
)
def test_every_parameter_by_keyword(fn, args, kwargs):
    call(fn, *args, **kwargs)


def test_defaults_only_when_omitted():
    # config=None and industry=None are accepted: no TypeError before the engine runs.
    with pytest.raises(ValueError):
        korva.run_backtest(DATA, {}, config=None, industry=None)
    with pytest.raises(ValueError):
        korva.evaluate(DATA, {}, industry=None)


def test_str_subclass_arguments_are_accepted():
    class S(str):
        pass

    assert korva.parse(S("close")) == {"name": "close", "op": "Data"}
    assert korva.lint(S("close"), series=[S("close")]) == []
