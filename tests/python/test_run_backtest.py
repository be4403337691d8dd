"""run_backtest and evaluate end to end: spec forms, configuration, order of errors."""

import json
import math

import pytest

import korva

from conftest import DATA, panel

P = {"p": panel([1, 2], ["a"], [[1.0], [2.0]])}


# ---------------------------------------------------------------------------------------
# The spec


def test_spec_forms_agree(market):
    src = "close > sma(close, 5)"
    tree = korva.parse(src)
    text = json.dumps(tree)
    by_source = korva.run_backtest(src, market)
    assert korva.run_backtest(tree, market) == by_source
    assert korva.run_backtest(text, market) == by_source
    assert korva.run_backtest(" \n\t\r " + text, market) == by_source
    assert korva.evaluate(src, market) == korva.evaluate(tree, market) == korva.evaluate(text, market)


def test_unicode_space_before_brace_still_means_json():
    # The text goes to the JSON reader whole, which does not skip U+3000.
    with pytest.raises(ValueError) as info:
        korva.evaluate("\u3000" + json.dumps(DATA), P)
    assert str(info.value).startswith("eval error: ")


def test_invalid_json_string_is_an_eval_error():
    with pytest.raises(ValueError) as info:
        korva.evaluate('  {"op": ', P)
    assert str(info.value).startswith("eval error: ")


def test_invalid_brindle_is_a_parse_error():
    with pytest.raises(ValueError) as info:
        korva.run_backtest("sma(close", P)
    assert str(info.value).startswith("brindle parse: 1:")
    with pytest.raises(ValueError) as info:
        korva.evaluate("5", P)
    assert str(info.value) == "brindle parse: 1:2: a strategy must be an expression, not a bare constant"
    with pytest.raises(ValueError) as info:
        korva.parse("5")
    assert str(info.value) == "1:2: a strategy must be an expression, not a bare constant"


@pytest.mark.parametrize("spec", [[1, 2], [], 5, 2.5, True, None])
def test_non_object_specs(spec):
    for fn in (korva.run_backtest, korva.evaluate):
        with pytest.raises(ValueError) as info:
            fn(spec, P)
        assert str(info.value) == "spec must be brindle source, a JSON string, or an Expr dict"


def test_tuple_spec_is_unsupported():
    with pytest.raises(ValueError) as info:
        korva.run_backtest(("Data", "p"), P)
    assert str(info.value) == "unsupported value in spec: tuple"


def test_unknown_series_is_an_engine_error():
    with pytest.raises(ValueError) as info:
        korva.evaluate({"op": "Data", "name": "nope"}, P)
    assert str(info.value).startswith("eval error: ")
    assert "nope" in str(info.value)


def test_dict_spec_errors_point_into_compact_json():
    with pytest.raises(ValueError) as info:
        korva.evaluate({"op": "average", "of": DATA}, P)
    message = str(info.value)
    assert message.startswith("eval error: unknown variant `average`, expected one of `Data`")
    assert "line 1 " in message


def test_unknown_price_series(market):
    with pytest.raises(ValueError) as info:
        korva.run_backtest("close > 0", market, price_key="Close")
    assert str(info.value) == "eval error: unknown price series 'Close'"


def test_report_shape(market):
    report = korva.run_backtest("close > sma(close, 5)", market)
    assert list(report) == sorted(report)
    assert "benchmark" not in report and "bootstrap" not in report
    assert len(report["dates"]) == len(report["equity"]) == len(market["close"]["dates"])
    assert report["dates"] == market["close"]["dates"]
    assert report["equity"][0] == 1.0


def test_industry_map_reaches_the_engine(market):
    industry = {"AAA": "tech", "BBB": "tech", "CCC": "food"}
    spec = "neutralize_industry(close)"
    out = korva.evaluate(spec, market, industry=industry)
    row = out["data"][10]
    assert math.isclose(row[0] + row[1], 0.0, abs_tol=1e-9)
    assert math.isclose(row[2], 0.0, abs_tol=1e-9)


# ---------------------------------------------------------------------------------------
# Configuration


CONFIG_ERRORS = [
    ({"Fee_Ratio": 0.1}, ValueError, "unknown config key `Fee_Ratio`"),
    ({"fee": 0.1}, ValueError, "unknown config key `fee`"),
    ({1: 0.1}, TypeError, "'int' object cannot be cast as 'str'"),
    ({"fee_ratio": "0.1"}, TypeError, "must be real number, not str"),
    ({"fee_ratio": None}, TypeError, "must be real number, not NoneType"),
    ({"bootstrap_samples": 100.0}, TypeError, "'float' object cannot be interpreted as an integer"),
    ({"delist_after": -1}, OverflowError, None),
    ({"bootstrap_block": 2**64}, OverflowError, None),
    ({"benchmark_key": 5}, TypeError, "'int' object cannot be cast as 'str'"),
    # items are visited in dict order
    ({"fee_ratio": "x", "nope": 1}, TypeError, "must be real number, not str"),
    ({"nope": 1, "fee_ratio": "x"}, ValueError, "unknown config key `nope`"),
]


@pytest.mark.parametrize("config,exc,message", CONFIG_ERRORS)
def test_config_errors(config, exc, message, market):
    with pytest.raises(exc) as info:
        korva.run_backtest("close > 0", market, config=config)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message
    assert info.value.__cause__ is None


def test_config_errors_come_after_the_spec_and_before_panels():
    with pytest.raises(ValueError, match="brindle parse"):
        korva.run_backtest("((", {"p": {}}, config={"bad": 1})
    with pytest.raises(ValueError, match="unknown config key"):
        korva.run_backtest(DATA, {"p": {}}, config={"bad": 1})
    with pytest.raises(ValueError, match="missing key `dates`"):
        korva.run_backtest({"op": "Data", "name": "missing"}, {"p": {}}, config={"fee_ratio": 0})


def test_empty_config_and_none_agree(market):
    spec = "close > sma(close, 5)"
    base = korva.run_backtest(spec, market)
    assert korva.run_backtest(spec, market, config={}) == base
    assert korva.run_backtest(spec, market, config={"benchmark_key": None}) == base
    assert korva.run_backtest(spec, market, config={"fee_ratio": 0, "delist_after": 0}) == base


def test_config_values_take_effect(market):
    spec = "close > sma(close, 5)"
    base = korva.run_backtest(spec, market)
    costly = korva.run_backtest(spec, market, config={"fee_ratio": 1, "tax_ratio": True})
    assert costly["equity"][-1] < base["equity"][-1]
    with_bench = korva.run_backtest(spec, market, config={"benchmark_key": "close"})
    assert "benchmark" in with_bench
    assert "alpha" in with_bench["metrics"]
    boot = korva.run_backtest(spec, market, config={"bootstrap_samples": 20})
    assert "bootstrap" in boot
    assert korva.run_backtest(spec, market, config={"bootstrap_samples": 20}) == boot


def test_unknown_benchmark_is_reported_after_simulation(market):
    with pytest.raises(ValueError) as info:
        korva.run_backtest("close > 0", market, config={"benchmark_key": "spx"})
    assert str(info.value) == "eval error: unknown benchmark series 'spx'"


def test_nan_config_values_do_not_crash(market):
    report = korva.run_backtest(
        "close > 0", market, config={"position_limit": float("nan"), "fee_ratio": float("inf")}
    )
    assert len(report["equity"]) == len(market["close"]["dates"])
