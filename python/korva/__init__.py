from ._korva import __doc__, __version__, evaluate, format, lint, parse, run_backtest

# The functions belong to the public module: help(), pickling and reprs name `korva`.
for _fn in (run_backtest, parse, format, lint, evaluate):
    _fn.__module__ = __name__
del _fn

__all__ = ["run_backtest", "parse", "format", "lint", "evaluate", "__version__"]
