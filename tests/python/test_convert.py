"""Python values to JSON values (strategy trees) and back (parsed trees, reports).

`format` of a value that is not a node prints it as compact JSON (or as a literal for
numbers), which shows exactly what the conversion produced."""

import datetime
import decimal
import enum
import math

import numpy as np
import pytest

import korva

from conftest import read_back


class Color(enum.IntEnum):
    RED = 7


class F(float):
    pass


PY_TO_JSON = [
    (None, "null"),
    (True, "true"),
    (False, "false"),
    (1, "1"),
    (0, "0"),
    (-3, "-3"),
    (2**63 - 1, "9223372036854775807"),
    (-(2**63), "-9223372036854775808"),
    (Color.RED, "7"),
    (20.0, "20.0"),
    (0.5, "0.5"),
    (F(2.5), "2.5"),
    (np.float64(1.25), "1.25"),
    ([1, 2.0, True, None], "[1,2.0,true,null]"),
    ({"b": 1, "a": [{"d": None, "c": "x"}]}, '{"a":[{"c":"x","d":null}],"b":1}'),
    ({"z": {}, "é": [], "A": 0}, '{"A":0,"z":{},"é":[]}'),
    ([], "[]"),
]


@pytest.mark.parametrize("value,text", PY_TO_JSON)
def test_py_to_json(value, text):
    assert korva.format(value) == text


def test_bool_stays_apart_from_int():
    assert korva.format([True, 1, False, 0]) == "[true,1,false,0]"


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 10**30, [1, {"k": 2**64}]])
def test_int_out_of_range_overflows(value):
    with pytest.raises(OverflowError):
        korva.format(value)


@pytest.mark.parametrize(
    "value",
    [
        float("nan"),
        float("inf"),
        -float("inf"),
        {"op": "Const", "value": float("nan")},
        {"a": [[{"b": [1, float("-inf")]}]]},
        [np.float64("nan")],
    ],
)
def test_non_finite_floats_refused(value):
    with pytest.raises(ValueError) as info:
        korva.format(value)
    assert str(info.value) == "non-finite numbers are not valid in a spec"


@pytest.mark.parametrize(
    "value,name",
    [
        ((1, 2), "tuple"),
        ({1, 2}, "set"),
        (b"x", "bytes"),
        (decimal.Decimal("1.5"), "Decimal"),
        (datetime.date(2024, 1, 31), "date"),
        (np.int64(3), "int64"),
        (object(), "object"),
        ({"op": "Data", "name": ("x",)}, "tuple"),
        ([1, [2, frozenset()]], "frozenset"),
        (1 + 2j, "complex"),
    ],
)
def test_unsupported_values(value, name):
    with pytest.raises(ValueError) as info:
        korva.format(value)
    assert str(info.value) == f"unsupported value in spec: {name}"


@pytest.mark.parametrize(
    "value,name",
    [({1: 2}, "int"), ({"a": {None: 1}}, "NoneType"), ({(1,): 1}, "tuple"), ({b"k": 1}, "bytes")],
)
def test_non_str_keys(value, name):
    with pytest.raises(TypeError) as info:
        korva.format(value)
    assert str(info.value) == f"'{name}' object cannot be cast as 'str'"


def test_first_failure_in_dict_order_wins():
    with pytest.raises(ValueError, match="unsupported value in spec: tuple"):
        korva.format({"b": (1,), "a": float("nan")})
    with pytest.raises(ValueError, match="non-finite"):
        korva.format({"a": float("nan"), "b": (1,)})
    with pytest.raises(TypeError):
        korva.format({1: 1, "b": (1,)})


def test_str_values_are_read_leniently():
    assert korva.format({"op": "Data", "name": "a\ud800b"}) == "a\ufffdb"
    assert korva.format({"op": "Data", "name": "\udcff"}) == "\ufffd"


def test_str_keys_are_read_strictly():
    with pytest.raises(UnicodeEncodeError):
        korva.format({"a\ud800": 1})


def test_str_subclass_value_uses_its_str():
    class Shout(str):
        def __str__(self):
            return self.upper()

    assert korva.format({"op": "Data", "name": Shout("close")}) == "CLOSE"
    assert korva.format([Shout("ab")]) == '["AB"]'


def test_str_subclass_whose_str_fails_is_unraisable(monkeypatch):
    class Broken(str):
        def __str__(self):
            raise RuntimeError("no text")

    seen = []
    monkeypatch.setattr("sys.unraisablehook", lambda u: seen.append(u))
    assert korva.format({"op": "Data", "name": Broken("x")}) == "<unprintable Broken object>"
    assert len(seen) == 1
    assert isinstance(seen[0].exc_value, RuntimeError)


def test_str_keys_of_a_subclass_keep_their_own_text():
    class Shout(str):
        def __str__(self):
            return self.upper()

    assert korva.format({Shout("k"): 1}) == '{"k":1}'


def test_dict_and_list_subclasses_are_accepted():
    class D(dict):
        pass

    class L(list):
        pass

    assert korva.format(D(b=L([1]), a=2)) == '{"a":2,"b":[1]}'


def test_average_with_float_count_is_refused_by_the_tree_reader(small_panel):
    tree = {"op": "Average", "of": {"op": "Data", "name": "p"}, "n": 20.0}
    with pytest.raises(ValueError) as info:
        korva.evaluate(tree, {"p": small_panel})
    assert str(info.value).startswith("eval error: invalid type: floating point `20.0`, expected usize")
    tree["n"] = 2
    out = korva.evaluate(tree, {"p": small_panel})
    assert out["dates"] == small_panel["dates"]


def test_bool_is_not_a_count(small_panel):
    tree = {"op": "Shift", "of": {"op": "Data", "name": "p"}, "n": True}
    with pytest.raises(ValueError, match="invalid type: boolean `true`"):
        korva.evaluate(tree, {"p": small_panel})


# ---------------------------------------------------------------------------------------
# JSON to Python


def test_parsed_tree_keys_iterate_in_ascending_order():
    tree = korva.parse("sma(close, 20)")
    assert list(tree) == ["n", "of", "op"]
    assert tree == {"n": 20, "of": {"name": "close", "op": "Data"}, "op": "Average"}
    assert type(tree["n"]) is int


def test_parsed_numbers_keep_their_kind():
    tree = korva.parse("close > 1.5 and volume > 2")
    assert list(tree) == ["l", "op", "r"]
    assert type(tree["l"]["r"]["value"]) is float
    assert type(tree["r"]["r"]["value"]) is int


def test_json_round_trip_through_format():
    tree = korva.parse("rank(close, pct=false)")
    assert tree["pct"] is False
    assert korva.format(tree) == "rank(close, pct=false)"


def test_json_string_and_dict_format_the_same():
    import json

    tree = {"op": "Gt", "l": {"op": "Data", "name": "a"}, "r": {"op": "Const", "value": 1.5}}
    assert korva.format(tree) == korva.format(json.dumps(tree)) == "(a > 1.5)"


# ---------------------------------------------------------------------------------------
# Deep nesting never exhausts the stack.


def nested_dicts(depth):
    tree = {"op": "Data", "name": "p"}
    for _ in range(depth):
        tree = {"op": "Neg", "of": tree}
    return tree


def nested_lists(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


@pytest.mark.parametrize("make", [nested_dicts, nested_lists])
def test_deep_nesting_raises(make):
    deep = make(100_000)
    with pytest.raises((RecursionError, ValueError)):
        korva.format(deep)
    with pytest.raises((RecursionError, ValueError)):
        korva.run_backtest(deep, {})
    with pytest.raises((RecursionError, ValueError)):
        korva.evaluate(deep, {})


def test_deep_nesting_with_huge_recursion_limit_runs_in_a_subprocess():
    import subprocess
    import sys

    code = """
import sys
import korva
sys.setrecursionlimit(10**7)
tree = {"op": "Data", "name": "p"}
for _ in range(100_000):
    tree = {"op": "Neg", "of": tree}
value = []
for _ in range(100_000):
    value = [value]
for call in (lambda: korva.format(tree), lambda: korva.run_backtest(tree, {}),
             lambda: korva.evaluate(value, {}), lambda: korva.format(value)):
    try:
        call()
    except (RecursionError, ValueError) as e:
        print(type(e).__name__)
"""
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert len(out.stdout.split()) == 4


def test_moderate_nesting_still_converts():
    tree = nested_dicts(50)
    text = korva.format(tree)
    assert text == "(-" * 50 + "p" + ")" * 50
    out = read_back({"dates": [1], "symbols": ["a"], "data": [[2.0]]})
    assert korva.evaluate(tree, {"p": {"dates": [1], "symbols": ["a"], "data": [[2.0]]}}) == out


def test_mutating_dict_during_conversion_is_reported():
    victim = {}

    class Sneaky(str):
        def __str__(self):
            victim["added"] = 1
            return "x"

    victim["a"] = Sneaky("s")
    with pytest.raises(RuntimeError, match="changed size"):
        korva.format(victim)


def test_nan_report_values_become_none(market):
    # A flat price has no drawdown and no losing trades: several metrics are undefined.
    report = korva.run_backtest('close > 0', market)
    metrics = report["metrics"]
    assert all(v is None or (type(v) is float and math.isfinite(v)) for v in metrics.values())
    assert list(report) == sorted(report)
    assert list(metrics) == sorted(metrics)
    assert report["rolling_sharpe"][0] is None
    assert type(report["dates"][0]) is int
    assert type(metrics["num_trades"]) is float


def test_large_dict_comes_out_sorted():
    import json

    keys = [f"k{i:05d}" for i in range(5000)]
    value = {k: i for i, k in reversed(list(enumerate(keys)))}
    text = korva.format([value])
    back = json.loads(text)[0]
    assert list(back) == keys
    assert back == value
