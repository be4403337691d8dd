import math

import pytest

import korva

DATA = {"op": "Data", "name": "p"}


def panel(dates, symbols, data, **extra):
    """A panel in the dict form."""
    out = {"dates": dates, "symbols": symbols, "data": data}
    out.update(extra)
    return out


def read_back(value, name="p"):
    """The panel korva reads from `value`, returned unchanged by a bare series leaf."""
    return korva.evaluate({"op": "Data", "name": name}, {name: value})


def cells_equal(a, b):
    """Row lists equal cell by cell, NaN equal to NaN."""
    if len(a) != len(b):
        return False
    for row_a, row_b in zip(a, b):
        if len(row_a) != len(row_b):
            return False
        for x, y in zip(row_a, row_b):
            if not (x == y or (math.isnan(x) and math.isnan(y))):
                return False
    return True


def assert_same_panel(a, b):
    assert a["dates"] == b["dates"]
    assert a["symbols"] == b["symbols"]
    assert cells_equal(a["data"], b["data"]), (a["data"], b["data"])


@pytest.fixture
def small_panel():
    return panel([20240102, 20240103, 20240104], ["AAA", "BBB"], [[1.0, 2.0], [1.5, None], [2.0, 3.0]])


@pytest.fixture
def market():
    """Three symbols over 300 weekdays with a steady drift; enough history for a backtest."""
    import datetime

    start = datetime.date(2022, 1, 3)
    dates = []
    day = start
    while len(dates) < 300:
        if day.weekday() < 5:
            dates.append(int(day.strftime("%Y%m%d")))
        day += datetime.timedelta(days=1)
    symbols = ["AAA", "BBB", "CCC"]
    close = []
    for i in range(len(dates)):
        close.append([100.0 + i * 0.5, 50.0 + (i % 7) - i * 0.05, 20.0 + (i % 11) * 0.3])
    return {"close": panel(dates, symbols, close)}
