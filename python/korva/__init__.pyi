from ._korva import (
    __version__ as __version__,
    evaluate as evaluate,
    format as format,
    lint as lint,
    parse as parse,
    run_backtest as run_backtest,
)

__all__ = ["run_backtest", "parse", "format", "lint", "evaluate", "__version__"]
