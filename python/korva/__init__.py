"""korva: research engine for systematic equity strategies."""

from ._korva import __version__

__all__ = ["__version__"]
