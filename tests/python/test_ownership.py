"""Reference ownership: repeated calls, good and failing, leave no references behind."""

import gc
import sys

import numpy as np
import pandas as pd
import pytest

import korva

from conftest import DATA, panel


def rss_bytes():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    import resource

    return pages * resource.getpagesize()


def calls(market):
    """Good and failing calls over every conversion, each followed by its expected exception."""
    df = pd.DataFrame(np.arange(12.0).reshape(4, 3), index=[1, 2, 3, 4], columns=["a", "b", "c"])
    arr_panel = panel([1, 2, 3, 4], ["a", "b", "c"], np.ones((4, 3)))
    wide = panel(list(range(200)), [f"s{i}" for i in range(20)], [[float(i)] * 20 for i in range(200)])
    tree = korva.parse("close > sma(close, 3)")
    return [
        (lambda: korva.parse("sma(close, 20) > close"), None),
        (lambda: korva.parse("sma(close"), ValueError),
        (lambda: korva.format(tree), None),
        (lambda: korva.format({"a": [1, 2.5, None, True, "x"]}), None),
        (lambda: korva.format({"a": [1, (2,)]}), ValueError),
        (lambda: korva.format({"a": {1: 2}}), TypeError),
        (lambda: korva.format([1, 2**70]), OverflowError),
        (lambda: korva.format('{"op":'), ValueError),
        (lambda: korva.lint("let a = close\nclosee", series=["close"]), None),
        (lambda: korva.lint("x", series=["a", 1]), TypeError),
        (lambda: korva.evaluate(DATA, {"p": df}), None),
        (lambda: korva.evaluate(DATA, {"p": arr_panel}), None),
        (lambda: korva.evaluate(DATA, {"p": wide}), None),
        (lambda: korva.evaluate(DATA, {"p": panel(["2024-01-02", 5], ["a"], [[1.0], [None]])}), None),
        (lambda: korva.evaluate(DATA, {"p": panel(["x"], ["a"], [])}), ValueError),
        (lambda: korva.evaluate(DATA, {"p": panel([1], ["a"], [[1], [2]])}), ValueError),
        (lambda: korva.evaluate(DATA, {"p": panel([1], [2], [])}), TypeError),
        (lambda: korva.evaluate(DATA, {"p": panel([1], ["a"], [["s"]])}), ValueError),
        (lambda: korva.evaluate(DATA, {"p": panel([1], ["a"], np.ones((1, 2)))}), ValueError),
        (lambda: korva.evaluate(DATA, []), TypeError),
        (lambda: korva.evaluate(DATA, {}, industry={"a": 1}), TypeError),
        (lambda: korva.run_backtest(tree, market, config={"fee_ratio": 0.001}), None),
        (lambda: korva.run_backtest(tree, market, config={"bad": 1}), ValueError),
        (lambda: korva.run_backtest(tree, market, price_key="nope"), ValueError),
        (lambda: korva.run_backtest("close > 0", market, config={"bootstrap_samples": 5}), None),
    ]


def run_all(cases):
    for fn, exc in cases:
        if exc is None:
            fn()
        else:
            with pytest.raises(exc):
                fn()


def test_repeated_calls_do_not_grow_memory(market):
    close = market["close"]
    small = {"close": panel(close["dates"][:40], close["symbols"], close["data"][:40])}
    cases = calls(small)
    for _ in range(50):
        run_all(cases)
    rounds = 600
    rss_before = rss_bytes()
    growth = []
    for _ in range(2):
        gc.collect()
        blocks_before = sys.getallocatedblocks()
        for _ in range(rounds):
            run_all(cases)
        gc.collect()
        growth.append(sys.getallocatedblocks() - blocks_before)
    rss_grown = rss_bytes() - rss_before
    # One leaked object per round, in any single call, leaves at least `rounds` blocks
    # behind in each batch. Allocator and interpreter caches can still settle by a few
    # hundred blocks in one batch, but not steadily in both.
    assert min(growth) < rounds // 2, growth
    # The panels converted per round weigh several hundred kilobytes.
    assert rss_grown < 16 * 1024 * 1024, rss_grown


def test_argument_references_are_returned(market):
    df = pd.DataFrame(np.ones((3, 2)), index=[1, 2, 3], columns=["a", "b"])
    value = panel([1, 2], ["a"], [[1.0], [2.0]])
    bad = panel([1], ["a"], [[1.0], [2.0]])
    spec = {"op": "Data", "name": "p"}
    config = {"fee_ratio": 0.0}
    industry = {"a": "x"}
    watched = [df, value, bad, spec, config, industry, value["dates"], value["data"][0], market]
    counts = [sys.getrefcount(obj) for obj in watched]
    for _ in range(50):
        korva.evaluate(spec, {"p": df}, industry=industry)
        korva.evaluate(spec, {"p": value})
        with pytest.raises(ValueError):
            korva.evaluate(spec, {"p": bad})
        with pytest.raises(ValueError):
            korva.run_backtest(spec, {"p": value}, config=config, industry=industry)
        korva.run_backtest("close > 0", market, config=config)
        korva.format(spec)
    assert [sys.getrefcount(obj) for obj in watched] == counts


def test_results_are_fresh_objects():
    # Counted outside the asserts, whose rewriting keeps extra references.
    out = korva.parse("close")
    n_out = sys.getrefcount(out)  # the local name and the call argument
    again = korva.evaluate(DATA, {"p": panel([1], ["a"], [[1.0]])})
    n_data = sys.getrefcount(again["data"])  # the dict's and the call argument
    n_row = sys.getrefcount(again["data"][0])
    assert (n_out, n_data, n_row) == (2, 2, 2)
