"""Prints korva's version (a full backtest example follows with the Python API)."""

import korva

print("korva", korva.__version__)
