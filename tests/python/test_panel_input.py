"""Panels from data frames and dicts: dates, symbols, cells and every error."""

import datetime
import math
import warnings

import numpy as np
import pandas as pd
import pytest

import korva

from conftest import DATA, assert_same_panel, cells_equal, panel, read_back

NAN = float("nan")


# ---------------------------------------------------------------------------------------
# Dates


class Idx:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Stamp:
    """A date-like object whose strftime returns a fixed value."""

    def __init__(self, text):
        self.text = text

    def strftime(self, fmt):
        assert fmt == "%Y%m%d"
        return self.text


DATES_OK = [
    ([20240131, 20240201], [20240131, 20240201]),
    (["2024-01-31", "2024/02/01"], [20240131, 20240201]),
    (["Jan 31 2024"], [312024]),
    ([5, 20241399, -7, 0], [5, 20241399, -7, 0]),
    ([True, False], [1, 0]),
    ([Idx(20240105)], [20240105]),
    ([np.int64(20240105), np.int32(7)], [20240105, 7]),
    ([datetime.date(2024, 1, 31), datetime.datetime(2024, 2, 1, 13, 30)], [20240131, 20240201]),
    ([pd.Timestamp("2024-03-05")], [20240305]),
    ([Stamp("+12"), Stamp("-2147483648"), Stamp("2147483647")], [12, -2147483648, 2147483647]),
    ([20240102, 20240101, 20240102], [20240102, 20240101, 20240102]),
    (["2147483647"], [2147483647]),
    ((d for d in [3, 1]), [3, 1]),
]


@pytest.mark.parametrize("dates,expected", DATES_OK)
def test_date_forms(dates, expected):
    dates = list(dates)
    out = read_back(panel(dates, [], []))
    assert out["dates"] == expected


def test_digit_filtering_keeps_ascii_only():
    assert read_back(panel(["2024-0١-31"], [], []))["dates"] == [2024031]


BAD_DATES = [
    ("abc", ValueError, "bad date `abc`: cannot parse integer from empty string"),
    ("", ValueError, "bad date ``: cannot parse integer from empty string"),
    ("99999999999", ValueError, "bad date `99999999999`: number too large to fit in target type"),
    ("-2147483649", ValueError, "bad date `-2147483649`: number too large to fit in target type"),
    (Stamp("2024-01-31"), ValueError, "bad date `2024-01-31`: invalid digit found in string"),
    (Stamp(""), ValueError, "bad date ``: cannot parse integer from empty string"),
    (Stamp("-"), ValueError, "bad date `-`: invalid digit found in string"),
    (Stamp("+"), ValueError, "bad date `+`: invalid digit found in string"),
    (Stamp("2147483648"), ValueError, "bad date `2147483648`: number too large to fit in target type"),
    (Stamp("-2147483649"), ValueError, "bad date `-2147483649`: number too small to fit in target type"),
    (Stamp(" 1"), ValueError, "bad date ` 1`: invalid digit found in string"),
    (Stamp("99999999999x"), ValueError, "bad date `99999999999x`: number too large to fit in target type"),
    (20240131.0, ValueError, "cannot interpret `float` as a YYYYMMDD date"),
    (2**31, ValueError, "cannot interpret `int` as a YYYYMMDD date"),
    (-(2**31) - 1, ValueError, "cannot interpret `int` as a YYYYMMDD date"),
    (None, ValueError, "cannot interpret `NoneType` as a YYYYMMDD date"),
    (b"20240101", ValueError, "cannot interpret `bytes` as a YYYYMMDD date"),
    (np.datetime64("2024-01-31"), ValueError, "cannot interpret `datetime64` as a YYYYMMDD date"),
    (Stamp(20240101), TypeError, "'int' object cannot be cast as 'str'"),
]


@pytest.mark.parametrize("date,exc,message", BAD_DATES)
def test_bad_dates(date, exc, message):
    with pytest.raises(exc) as info:
        read_back(panel([20240101, date], [], []))
    assert type(info.value) is exc
    assert str(info.value) == message


def test_strftime_errors_propagate():
    class Boom(Exception):
        pass

    class Bad:
        def strftime(self, fmt):
            raise Boom("strftime failed")

    with pytest.raises(Boom, match="strftime failed"):
        read_back(panel([Bad()], [], []))


def test_index_conversion_failure_falls_through():
    class Weird:
        def __index__(self):
            raise RuntimeError("nope")

    with pytest.raises(ValueError, match="cannot interpret `Weird` as a YYYYMMDD date"):
        read_back(panel([Weird()], [], []))


# ---------------------------------------------------------------------------------------
# Dict form


def test_dict_form_reads_rows():
    out = read_back(panel([1, 2, 3], ["a", "b"], [[1.0, 2], [None, True]]))
    assert out["dates"] == [1, 2, 3]
    assert out["symbols"] == ["a", "b"]
    assert cells_equal(out["data"], [[1.0, 2.0], [NAN, 1.0], [NAN, NAN]])
    assert list(out) == ["data", "dates", "symbols"]


def test_short_rows_and_missing_rows_stay_nan():
    out = read_back(panel([1, 2], ["a", "b", "c"], [[1.0]]))
    assert cells_equal(out["data"], [[1.0, NAN, NAN], [NAN, NAN, NAN]])


def test_cells_keep_nan_and_infinities():
    out = read_back(panel([1], ["a", "b", "c"], [[NAN, float("inf"), -float("inf")]]))
    row = out["data"][0]
    assert math.isnan(row[0]) and row[1] == float("inf") and row[2] == -float("inf")


def test_cells_accept_float_and_index_conversions():
    class Fl:
        def __float__(self):
            return 2.5

    out = read_back(panel([1], ["a", "b", "c", "d"], [[Fl(), Idx(3), np.float32(0.5), np.int8(-2)]]))
    assert out["data"] == [[2.5, 3.0, 0.5, -2.0]]


def test_generators_and_tuples_are_iterated():
    out = read_back(
        {
            "dates": (d for d in [1, 2]),
            "symbols": iter(["a", "b"]),
            "data": ((x for x in row) for row in [(1, 2), (3,)]),
        }
    )
    assert cells_equal(out["data"], [[1.0, 2.0], [3.0, NAN]])


def test_extra_keys_are_ignored_and_subclasses_accepted():
    class D(dict):
        def __missing__(self, key):
            raise AssertionError("exact lookup expected")

    out = read_back(D(dates=[1], symbols=["a"], data=[[1]], meta="x"))
    assert out["data"] == [[1.0]]


def test_repeated_symbols_and_dates_are_kept():
    out = read_back(panel([2, 1, 2], ["a", "a"], [[1, 2], [3, 4], [5, 6]]))
    assert out["dates"] == [2, 1, 2]
    assert out["symbols"] == ["a", "a"]


PANEL_ERRORS = [
    ([1], ValueError, "panel `p` must be a DataFrame or a dict with dates/symbols/data"),
    (None, ValueError, "panel `p` must be a DataFrame or a dict with dates/symbols/data"),
    (pd.Series([1.0, 2.0]), ValueError, "panel `p` must be a DataFrame or a dict with dates/symbols/data"),
    ({}, ValueError, "panel `p`: missing key `dates`"),
    ({"symbols": [], "data": []}, ValueError, "panel `p`: missing key `dates`"),
    ({"dates": [], "data": []}, ValueError, "panel `p`: missing key `symbols`"),
    ({"dates": [1], "symbols": ["a"]}, ValueError, "panel `p`: missing key `data`"),
    ({"Dates": [], "symbols": [], "data": []}, ValueError, "panel `p`: missing key `dates`"),
    # the third key is only looked up once the first two converted
    ({"dates": ["x"], "symbols": []}, ValueError, "bad date `x`: cannot parse integer from empty string"),
    ({"dates": [1], "symbols": [1]}, TypeError, "'int' object cannot be cast as 'str'"),
    ({"dates": [1], "symbols": ["a", None], "data": []}, TypeError, "'NoneType' object cannot be cast as 'str'"),
    (panel([1], ["a"], [[1], []]), ValueError, "panel `p`: more data rows than dates"),
    (panel([], ["a"], [[]]), ValueError, "panel `p`: more data rows than dates"),
    (panel([1, 2], ["a"], [[1], [2, 3]]), ValueError, "panel `p`: row 1 has more cells than symbols"),
    (panel([1], [], [[None]]), ValueError, "panel `p`: row 0 has more cells than symbols"),
    (panel([1], ["a"], [["1.5"]]), ValueError, "panel cells must be numbers or None"),
    (panel([1], ["a", "b"], [[1, [2]]]), ValueError, "panel cells must be numbers or None"),
    (panel([1], ["a"], [[1 + 1j]]), ValueError, "panel cells must be numbers or None"),
    # a bad cell is met before the row turns out too long
    (panel([1], ["a"], [["x", 1]]), ValueError, "panel cells must be numbers or None"),
    (panel(5, [], []), TypeError, "'int' object is not iterable"),
    (panel([1], None, []), TypeError, "'NoneType' object is not iterable"),
    (panel([1], ["a"], 3), TypeError, "'int' object is not iterable"),
    (panel([1], ["a"], [5]), TypeError, "'int' object is not iterable"),
]


@pytest.mark.parametrize("value,exc,message", PANEL_ERRORS)
def test_panel_errors(value, exc, message):
    with pytest.raises(exc) as info:
        read_back(value)
    assert type(info.value) is exc
    assert str(info.value) == message


def test_panel_name_in_messages_and_order_of_panels():
    good = panel([1], ["a"], [[1]])
    with pytest.raises(ValueError) as info:
        korva.evaluate(DATA, {"p": good, "my series": {}, "later": 5})
    assert str(info.value) == "panel `my series`: missing key `dates`"


def test_panel_name_must_be_str():
    with pytest.raises(TypeError) as info:
        korva.evaluate(DATA, {1: panel([1], ["a"], [[1]])})
    assert str(info.value) == "'int' object cannot be cast as 'str'"
    assert info.value.__cause__ is None


def test_panel_errors_come_before_engine_errors():
    with pytest.raises(ValueError, match="missing key `dates`"):
        korva.evaluate({"op": "Data", "name": "missing"}, {"p": {}})


# ---------------------------------------------------------------------------------------
# Data frames


def test_frame_with_datetime_index():
    df = pd.DataFrame(
        {"AAA": [1.0, NAN], "BBB": [3.0, 4.0]},
        index=pd.to_datetime(["2024-01-31", "2024-02-01"]),
    )
    out = read_back(df)
    assert out["dates"] == [20240131, 20240201]
    assert out["symbols"] == ["AAA", "BBB"]
    assert cells_equal(out["data"], [[1.0, 3.0], [NAN, 4.0]])


def test_frame_with_int_index_and_int_columns():
    df = pd.DataFrame([[1, 2], [3, 4]], index=[20240131, 20240201], columns=[10, 20])
    out = read_back(df)
    assert out["dates"] == [20240131, 20240201]
    assert out["symbols"] == ["10", "20"]
    assert out["data"] == [[1.0, 2.0], [3.0, 4.0]]


def test_frame_with_mixed_columns_goes_through_objects():
    df = pd.DataFrame({"a": [1.0, None], "b": [True, False], "c": [1, 2]}, index=[1, 2])
    out = read_back(df)
    assert cells_equal(out["data"], [[1.0, 1.0, 1.0], [NAN, 0.0, 2.0]])


def test_frame_with_text_cell_fails():
    df = pd.DataFrame({"a": ["x"]}, index=[1])
    with pytest.raises(ValueError, match="^panel cells must be numbers or None$"):
        read_back(df)


def outcome(value):
    try:
        return ("ok", read_back(value))
    except Exception as e:  # noqa: BLE001 - the outcome is compared whole
        return (type(e), str(e))


def assert_same_outcome(got, want):
    if got[0] == "ok" and want[0] == "ok":
        assert_same_panel(got[1], want[1])
    else:
        assert got == want


@pytest.mark.parametrize(
    "column",
    [
        pd.array([1, None], dtype="Int64"),
        pd.array([True, None], dtype="boolean"),
        pd.array([1.5, None], dtype="Float64"),
        pd.Categorical([1.0, 2.0]),
    ],
)
def test_extension_dtypes_read_like_their_tolist(column):
    df = pd.DataFrame({"a": column}, index=[1, 2])
    generic = FakeFrame(list(df.index), list(df.columns), df.to_numpy().tolist())
    got, want = outcome(df), outcome(generic)
    if got[0] == "ok":
        assert want[0] == "ok"
        assert_same_panel(got[1], want[1])
    else:
        assert got == want


def test_frame_column_labels_use_str():
    class Label:
        def __str__(self):
            return "custom"

    df = pd.DataFrame([[1.0]], index=[1], columns=[Label()])
    assert read_back(df)["symbols"] == ["custom"]

    class Bad:
        def __str__(self):
            raise KeyError("label")

    df = pd.DataFrame([[1.0]], index=[1], columns=[Bad()])
    with pytest.raises(KeyError):
        read_back(df)


class FakeFrame:
    """Just enough of the data-frame protocol, with the rows as plain lists."""

    def __init__(self, index, columns, rows):
        self.index = index
        self.columns = columns
        self.rows = rows
        self.calls = []

    def to_numpy(self, *args, **kwargs):
        self.calls.append(("to_numpy", args, kwargs))
        return self

    def tolist(self, *args, **kwargs):
        self.calls.append(("tolist", args, kwargs))
        return self.rows


def test_duck_typed_frame():
    frame = FakeFrame(["2024-01-02"], ["x"], [[7]])
    out = read_back(frame)
    assert out == {"data": [[7.0]], "dates": [20240102], "symbols": ["x"]}
    assert frame.calls == [("to_numpy", (), {}), ("tolist", (), {})]


def test_frame_attribute_errors_propagate():
    class Raising:
        @property
        def columns(self):
            raise KeyError("columns broke")

    with pytest.raises(KeyError):
        read_back(Raising())

    class NoIndex:
        columns = ["a"]

    with pytest.raises(ValueError, match="must be a DataFrame"):
        read_back(NoIndex())

    class NoToNumpy:
        columns = ["a"]
        index = [1]

    with pytest.raises(AttributeError):
        read_back(NoToNumpy())


def test_frame_with_more_rows_than_dates_via_fake():
    with pytest.raises(ValueError, match=r"^panel `p`: more data rows than dates$"):
        read_back(FakeFrame([1], ["a"], [[1], [2]]))


# ---------------------------------------------------------------------------------------
# Buffer fast path against the generic path


def random_matrix(rows, cols, seed=7):
    rng = np.random.default_rng(seed)
    m = rng.normal(size=(rows, cols))
    m[rng.random(size=(rows, cols)) < 0.2] = np.nan
    return m


def as_lists(m):
    return [[None if (isinstance(x, float) and math.isnan(x)) else x for x in row] for row in m.tolist()]


def three_ways(m, dates, symbols):
    """The same data as a DataFrame, a dict of lists and a dict holding the array."""
    df = pd.DataFrame(m, index=dates, columns=symbols)
    return [
        read_back(df),
        read_back(panel(dates, symbols, as_lists(m))),
        read_back(panel(dates, symbols, m)),
    ]


def test_fast_path_matches_generic_path_float64():
    m = random_matrix(40, 7)
    dates = list(range(20200101, 20200141))
    symbols = [f"S{i}" for i in range(7)]
    a, b, c = three_ways(m, dates, symbols)
    assert_same_panel(a, b)
    assert_same_panel(a, c)
    assert cells_equal(a["data"], m.tolist())


ARRAYS = [
    ("C float64", lambda m: np.ascontiguousarray(m)),
    ("F float64", lambda m: np.asfortranarray(m)),
    ("strided", lambda m: np.repeat(np.repeat(m, 2, axis=0), 3, axis=1)[::2, ::3]),
    ("negative strides", lambda m: np.ascontiguousarray(m[::-1, ::-1])[::-1, ::-1]),
    ("float32", lambda m: m.astype(np.float32)),
    ("F float32", lambda m: np.asfortranarray(m.astype(np.float32))),
    ("int64", lambda m: np.nan_to_num(m * 1000).astype(np.int64)),
    ("int32", lambda m: np.nan_to_num(m * 1000).astype(np.int32)),
    ("int16", lambda m: np.nan_to_num(m * 100).astype(np.int16)),
    ("int8", lambda m: np.nan_to_num(m * 10).astype(np.int8)),
    ("uint8", lambda m: np.abs(np.nan_to_num(m * 10)).astype(np.uint8)),
    ("uint64", lambda m: (np.abs(np.nan_to_num(m)) * 1e18).astype(np.uint64)),
    ("bool", lambda m: np.nan_to_num(m) > 0),
    ("float16 (generic)", lambda m: m.astype(np.float16)),
    ("big endian (generic)", lambda m: m.astype(">f8")),
    ("object (generic)", lambda m: m.astype(object)),
]


@pytest.mark.parametrize("name,convert", ARRAYS, ids=[a[0] for a in ARRAYS])
def test_array_kinds_read_like_their_lists(name, convert):
    arr = convert(random_matrix(70, 90, seed=3))
    dates = list(range(70))
    symbols = [f"S{i}" for i in range(90)]
    from_array = read_back(panel(dates, symbols, arr))
    from_lists = read_back(panel(dates, symbols, arr.tolist()))
    from_frame = read_back(pd.DataFrame(arr, index=dates, columns=symbols))
    assert_same_panel(from_array, from_lists)
    assert_same_panel(from_frame, from_lists)


def test_array_smaller_than_labels_leaves_nan():
    arr = np.array([[1.0, 2.0]])
    out = read_back(panel([1, 2], ["a", "b", "c"], arr))
    assert cells_equal(out["data"], [[1.0, 2.0, NAN], [NAN, NAN, NAN]])


@pytest.mark.parametrize(
    "dates,symbols,shape,message",
    [
        ([1], ["a"], (2, 1), "panel `p`: more data rows than dates"),
        ([1], ["a"], (2, 2), "panel `p`: row 0 has more cells than symbols"),
        ([1, 2], ["a"], (2, 2), "panel `p`: row 0 has more cells than symbols"),
        ([], [], (1, 1), "panel `p`: more data rows than dates"),
        ([], ["a", "b"], (1, 5), "panel `p`: more data rows than dates"),
        ([1], [], (1, 0), None),
        ([1], [], (2, 0), "panel `p`: more data rows than dates"),
        ([], [], (0, 3), None),
    ],
)
def test_array_shape_errors_match_list_errors(dates, symbols, shape, message):
    arr = np.ones(shape)
    for data in (arr, arr.tolist(), np.asfortranarray(arr)):
        if message is None:
            read_back(panel(dates, symbols, data))
        else:
            with pytest.raises(ValueError) as info:
                read_back(panel(dates, symbols, data))
            assert str(info.value) == message


def test_frame_shape_errors_match():
    df = pd.DataFrame(np.ones((3, 2)), index=[1, 2, 3], columns=["a", "b"])
    assert read_back(df)["data"] == [[1.0, 1.0]] * 3


def test_one_and_three_dimensional_arrays_use_iteration():
    with pytest.raises(TypeError):
        read_back(panel([1], ["a"], np.array([1.0])))  # rows are numbers: not iterable
    arr3 = np.ones((1, 1, 1))
    with pytest.raises(ValueError, match="panel cells must be numbers or None"):
        read_back(panel([1], ["a"], arr3))


def test_memoryview_and_bytes_like_are_iterated():
    # Only plain arrays are read from their buffer; a two-dimensional memoryview is
    # iterated like any other object, and it refuses iteration.
    mv = memoryview(np.arange(6, dtype=np.float64).reshape(2, 3))
    with pytest.raises(NotImplementedError):
        read_back(panel([1, 2], ["a", "b", "c"], mv))
    # a one-dimensional buffer is iterated: its items are ints, not rows
    with pytest.raises(TypeError):
        read_back(panel([1], ["a"], b"\x01"))


class ListOverride(np.ndarray):
    def tolist(self):
        return [[9.0, 9.0]]


ARRAY_SUBCLASSES = [
    ("masked", lambda: np.ma.masked_array([[1.0, 2.0], [3.0, 4.0]], mask=[[0, 1], [0, 0]])),
    ("matrix", lambda: np.matrix([[1.0, 2.0], [3.0, 4.0]])),
    ("tolist override", lambda: np.array([[1.0, 2.0]]).view(ListOverride)),
]


@pytest.mark.parametrize("name,make", ARRAY_SUBCLASSES, ids=[a[0] for a in ARRAY_SUBCLASSES])
def test_array_subclasses_read_like_iteration_and_tolist(name, make):
    # Subclasses change what iteration and tolist() yield, so their buffer is not used:
    # the dict form sees what iterating gives, the frame form what tolist() gives.
    arr = make()
    dates, symbols = [1, 2], ["a", "b"]
    rows = [list(row) for row in arr]
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert_same_outcome(outcome(panel(dates, symbols, arr)), outcome(panel(dates, symbols, rows)))
        frame = FakeFrame(dates, symbols, None)
        frame.to_numpy = lambda: arr
        assert_same_outcome(outcome(frame), outcome(FakeFrame(dates, symbols, arr.tolist())))


def test_frame_with_datetime_index_and_array_fast_path_agree():
    m = random_matrix(30, 5)
    idx = pd.date_range("2024-01-01", periods=30, freq="B")
    df = pd.DataFrame(m, index=idx, columns=list("abcde"))
    dates = [int(d.strftime("%Y%m%d")) for d in idx]
    assert_same_panel(read_back(df), read_back(panel(dates, list("abcde"), as_lists(m))))


def test_evaluate_result_is_accepted_back_as_panel():
    m = random_matrix(10, 4)
    first = read_back(panel(list(range(10)), list("abcd"), m))
    again = read_back(first)
    assert_same_panel(first, again)


def test_impossible_matrix_is_a_memory_error():
    # A million dates by a million symbols would need 8 TB.
    dates = list(range(1_000_000))
    symbols = ["s"] * 1_000_000
    with pytest.raises(MemoryError):
        read_back(panel(dates, symbols, []))
