from collections.abc import Sequence
from typing import Any, Optional, Union

__version__: str

_Tree = dict[str, Any]
_Panel = Any  # a DataFrame-like object or a {"dates", "symbols", "data"} dict

def run_backtest(
    spec: Union[str, _Tree],
    panels: dict[str, _Panel],
    config: Optional[dict[str, Any]] = None,
    price_key: str = "close",
    industry: Optional[dict[str, str]] = None,
) -> dict[str, Any]:
    """Run a backtest. `spec` is brindle source, a JSON string, or an Expr dict;
    `panels` maps series names to DataFrames or `{dates, symbols, data}` dicts;
    `config` takes the `BacktestConfig` knobs by name. Returns the Report as a
    dict (the same JSON contract the WASM/server boundaries emit)."""

def parse(src: str) -> _Tree:
    """Parse brindle source into the JSON Expr tree (as a dict)."""

def format(tree: Union[str, _Tree]) -> str:
    """Render an Expr tree (dict or JSON string) back to canonical brindle source."""

def lint(src: str, series: Optional[Sequence[str]] = None) -> list[dict[str, Any]]:
    """Lint brindle source. `series` enables the unknown-series check; unused-`let`
    is always checked. Returns `[{"line", "col", "message"}, ...]`."""

def evaluate(
    spec: Union[str, _Tree],
    panels: dict[str, _Panel],
    industry: Optional[dict[str, str]] = None,
) -> dict[str, Any]:
    """Evaluate a strategy over the panels without backtesting it. Returns the signal
    panel as a `{dates, symbols, data}` dict."""
