"""korva quickstart: a momentum strategy on a small synthetic market.

Builds three years of daily prices for 50 symbols (a seeded random walk, so every run
prints the same numbers), writes the strategy in brindle, runs the backtest and prints
the headline metrics. Needs nothing beyond `pip install .`: panels are plain dicts of
{"dates", "symbols", "data"}; a pandas DataFrame indexed by date works the same way.
"""

import datetime
import math
import random

import korva

SYMBOLS = [f"S{i:02d}" for i in range(50)]


def trading_days(start, count):
    """`count` weekdays from `start`, as YYYYMMDD integers."""
    days, day = [], start
    while len(days) < count:
        if day.weekday() < 5:
            days.append(int(day.strftime("%Y%m%d")))
        day += datetime.timedelta(days=1)
    return days


def synthetic_market(days, seed=7):
    """Close prices and volumes: each symbol drifts at its own rate with its own noise."""
    rng = random.Random(seed)
    drift = [rng.uniform(-0.0002, 0.0008) for _ in SYMBOLS]
    vol = [rng.uniform(0.01, 0.03) for _ in SYMBOLS]
    price = [rng.uniform(20.0, 200.0) for _ in SYMBOLS]
    close, volume = [], []
    for _ in days:
        price = [p * math.exp(d + v * rng.gauss(0.0, 1.0)) for p, d, v in zip(price, drift, vol)]
        close.append([round(p, 4) for p in price])
        volume.append([float(rng.randint(50_000, 500_000)) for _ in SYMBOLS])
    # An equal-weight index of the universe, as the benchmark.
    index = [[sum(row) / len(row)] for row in close]
    return {
        "close": {"dates": days, "symbols": SYMBOLS, "data": close},
        "volume": {"dates": days, "symbols": SYMBOLS, "data": volume},
        "index": {"dates": days, "symbols": ["INDEX"], "data": index},
    }


STRATEGY = """
let momentum = pct_change(close, 60)
let uptrend = close > sma(close, 100)
rebalance(normalize_row(is_largest(momentum, 10) and uptrend), freq="ME")
"""


def main():
    days = trading_days(datetime.date(2021, 1, 4), 3 * 252)
    panels = synthetic_market(days)

    print("strategy, canonical form:")
    print(korva.format(korva.parse(STRATEGY)))
    for finding in korva.lint(STRATEGY, series=list(panels)):
        print(f"lint {finding['line']}:{finding['col']}: {finding['message']}")

    report = korva.run_backtest(
        STRATEGY,
        panels,
        config={"fee_ratio": 0.001, "slippage_ratio": 0.0005, "benchmark_key": "index"},
    )
    m = report["metrics"]

    def pct(x):
        return "n/a" if x is None else f"{100 * x:7.2f}%"

    def num(x):
        return "n/a" if x is None else f"{x:8.3f}"

    print()
    print(f"period            {report['dates'][0]} .. {report['dates'][-1]} ({len(report['dates'])} days)")
    print(f"final equity      {num(report['equity'][-1])}")
    print(f"total return      {pct(m['total_return'])}")
    print(f"CAGR              {pct(m['cagr'])}")
    print(f"volatility (ann.) {pct(m['ann_volatility'])}")
    print(f"Sharpe            {num(m['sharpe'])}")
    print(f"max drawdown      {pct(m['max_drawdown'])}")
    print(f"trades            {int(m['num_trades']):9d}")
    print(f"win rate          {pct(m['win_rate'])}")
    print(f"benchmark return  {pct(m.get('benchmark_return'))}")
    print(f"alpha / beta      {num(m.get('alpha'))} / {num(m.get('beta'))}")
    print()
    print("yearly returns:", ", ".join(f"{r['period']} {pct(r['ret']).strip()}" for r in report["yearly_returns"]))


if __name__ == "__main__":
    main()
