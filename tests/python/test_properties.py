"""Property checks over generated inputs: conversions round-trip, and malformed input
raises one of the documented exceptions instead of crashing."""

import json
import math

import numpy as np
from hypothesis import given, settings
from hypothesis import strategies as st

import korva

from conftest import assert_same_panel, panel, read_back

INT64 = st.integers(min_value=-(2**63), max_value=2**63 - 1)
FINITE = st.floats(allow_nan=False, allow_infinity=False)
TEXT = st.text(st.characters(blacklist_categories=("Cs",)), max_size=8)

JSONABLE = st.recursive(
    st.none() | st.booleans() | INT64 | FINITE | TEXT,
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(TEXT, inner, max_size=4),
    max_leaves=25,
)


def same_kinds(a, b):
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same_kinds(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same_kinds(a[k], b[k]) for k in a)
    if isinstance(a, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    return a == b


def sorted_keys(v):
    if isinstance(v, dict):
        return {k: sorted_keys(v[k]) for k in sorted(v, key=lambda k: k.encode())}
    if isinstance(v, list):
        return [sorted_keys(x) for x in v]
    return v


@settings(max_examples=150, deadline=None)
@given(JSONABLE)
def test_values_round_trip_with_their_kinds(value):
    # Inside a list the printer writes the converted value as compact JSON.
    text = korva.format([value])
    back = json.loads(text)
    assert same_kinds(back, [sorted_keys(value)])


ANY = st.recursive(
    st.none()
    | st.booleans()
    | st.integers()
    | st.floats()
    | st.text(max_size=5)
    | st.binary(max_size=3)
    | st.tuples(st.integers()),
    lambda inner: st.lists(inner, max_size=3)
    | st.dictionaries(st.text(max_size=3) | st.integers(), inner, max_size=3),
    max_leaves=15,
)

DOCUMENTED = (ValueError, TypeError, OverflowError, RecursionError, UnicodeEncodeError)


@settings(max_examples=150, deadline=None)
@given(ANY)
def test_arbitrary_values_raise_documented_errors(value):
    for call in (
        lambda: korva.format(value),
        lambda: korva.evaluate(value, {}),
        lambda: korva.run_backtest(value, {"close": value}),
        lambda: korva.evaluate({"op": "Data", "name": "p"}, {"p": value}),
        lambda: korva.evaluate({"op": "Data", "name": "p"}, {"p": {"dates": value, "symbols": [], "data": []}}),
        lambda: korva.evaluate({"op": "Data", "name": "p"}, {"p": {"dates": [1, 2], "symbols": ["a", "b"], "data": value}}),
        lambda: korva.run_backtest({"op": "Data", "name": "p"}, {}, config=value if isinstance(value, dict) else None),
        lambda: korva.lint("close", series=value),
    ):
        try:
            call()
        except DOCUMENTED:
            pass


CELL = st.one_of(st.none(), st.floats(width=64), st.integers(-(10**6), 10**6), st.booleans())


@settings(max_examples=200, deadline=None)
@given(
    st.integers(0, 5),
    st.integers(0, 5),
    st.lists(st.lists(CELL, max_size=7), max_size=7),
)
def test_ragged_rows_against_the_buffer_path(ndates, nsym, rows):
    dates = list(range(ndates))
    symbols = [f"s{i}" for i in range(nsym)]

    def outcome(data):
        try:
            return read_back(panel(dates, symbols, data))
        except ValueError as e:
            return str(e)

    generic = outcome(rows)
    width = max((len(r) for r in rows), default=0)
    if all(len(r) == width for r in rows):
        arr = np.array([[np.nan if c is None else float(c) for c in r] for r in rows], dtype=np.float64)
        arr = arr.reshape(len(rows), width)
        fast = outcome(arr)
        if isinstance(generic, str):
            assert fast == generic
        else:
            assert_same_panel(fast, generic)
