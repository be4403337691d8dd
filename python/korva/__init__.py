from ._korva import __doc__, __version__, evaluate, format, lint, parse, run_backtest

__all__ = ["run_backtest", "parse", "format", "lint", "evaluate", "__version__"]
