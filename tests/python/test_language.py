"""parse, format and lint as seen from Python."""

import json

import pytest

import korva


def test_parse_returns_sorted_dict():
    tree = korva.parse("close > sma(close, 20) and volume > 0")
    assert tree["op"] == "And"
    assert list(tree) == ["l", "op", "r"]
    assert tree["r"] == {"l": {"name": "volume", "op": "Data"}, "op": "Gt", "r": {"op": "Const", "value": 0}}


def test_parse_error_has_no_prefix():
    with pytest.raises(ValueError) as info:
        korva.parse("foo(close)")
    assert str(info.value) == "1:1: unknown op `foo`"


def test_format_from_dict_and_from_json_text():
    tree = {"op": "Average", "of": {"op": "Data", "name": "close"}, "n": 20}
    assert korva.format(tree) == "sma(close, 20)"
    assert korva.format(json.dumps(tree)) == "sma(close, 20)"
    assert korva.format("  " + json.dumps(tree) + "\n") == "sma(close, 20)"


@pytest.mark.parametrize(
    "text,start",
    [("", "EOF while parsing a value"), ('{"op":', "EOF while parsing a value"), ("{,}", "key must be a string"), ("[1,]", "trailing comma")],
)
def test_format_reports_json_reader_errors(text, start):
    with pytest.raises(ValueError) as info:
        korva.format(text)
    assert str(info.value).startswith(start)
    assert " at line 1 column " in str(info.value)


def test_format_never_validates_the_tree():
    assert korva.format({"op": "Foo"}) == "(/* unprintable op Foo */)"
    assert korva.format(5) == "5"
    assert korva.format({"a": 1}) == '{"a":1}'


def test_parse_format_round_trip():
    src = "rank(close, pct=true, ascending=false)"
    assert korva.format(korva.parse(src)) == src


def test_lint_findings():
    findings = korva.lint("sma(closee, 5) > volum", series=["close", "volume"])
    assert findings == [
        {"line": 1, "col": 5, "message": "unknown series `closee` \u2014 did you mean `close`?"},
        {"line": 1, "col": 18, "message": "unknown series `volum` \u2014 did you mean `volume`?"},
    ]
    assert [list(f) for f in findings] == [["line", "col", "message"]] * 2
    assert all(type(f["line"]) is int and type(f["col"]) is int for f in findings)


def test_lint_series_forms():
    assert korva.lint("xyz") == []
    assert korva.lint("xyz", None) == []
    assert korva.lint("xyz", series=[]) == [{"line": 1, "col": 1, "message": "unknown series `xyz`"}]
    assert korva.lint("xyz", series=("xyz",)) == []
    assert korva.lint("let a = close\nclose") == [{"line": 1, "col": 5, "message": "unused let binding `a`"}]


def test_lint_parse_error():
    with pytest.raises(ValueError) as info:
        korva.lint("(close")
    assert str(info.value).startswith("1:")
    assert "expected `)`" in str(info.value)
