"""Panel input speed: a 5040 x 3000 float64 DataFrame with NaNs read by korva.

Compares, in the same run:
  baseline  df.to_numpy().tolist() alone (what reading through Python lists costs before
            a single cell is converted),
  fast      korva reading the frame through its buffer (evaluate of a tiny series with the
            big frame as a second input, so the result conversion stays negligible), once
            with YYYYMMDD integer dates and once with a DatetimeIndex (one strftime call
            per date on top),
  generic   korva reading the same cells from ready-made lists (for reference).

Run: python bench/convert.py [rows cols]
"""

import gc
import sys
import time

import numpy as np
import pandas as pd

import korva


def best_of(n, fn):
    times = []
    for _ in range(n):
        gc.collect()
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def main():
    rows, cols = (int(sys.argv[1]), int(sys.argv[2])) if len(sys.argv) == 3 else (5040, 3000)
    rng = np.random.default_rng(1)
    values = rng.normal(100.0, 10.0, size=(rows, cols))
    values[rng.random(size=(rows, cols)) < 0.05] = np.nan
    index = pd.bdate_range("2005-01-03", periods=rows)
    dates = [int(d.strftime("%Y%m%d")) for d in index]
    columns = [f"S{i:04d}" for i in range(cols)]
    df = pd.DataFrame(values, index=index, columns=columns)
    df_int = pd.DataFrame(values, index=dates, columns=columns)
    tiny = {"dates": [20050103], "symbols": ["X"], "data": [[1.0]]}
    spec = {"op": "Data", "name": "tiny"}

    def baseline():
        df.to_numpy().tolist()

    def read(frame):
        out = korva.evaluate(spec, {"big": frame, "tiny": tiny})
        assert out["data"] == [[1.0]]

    print(f"frame {rows} x {cols} float64, {np.isnan(values).mean():.1%} NaN")
    t_base = best_of(3, baseline)
    t_fast = best_of(5, lambda: read(df_int))
    t_fast_dt = best_of(5, lambda: read(df))
    print(f"baseline  to_numpy().tolist()   {t_base * 1e3:9.1f} ms")
    print(f"fast      korva, int dates      {t_fast * 1e3:9.1f} ms   ({t_base / t_fast:5.1f}x faster)")
    print(f"fast      korva, DatetimeIndex  {t_fast_dt * 1e3:9.1f} ms   ({t_base / t_fast_dt:5.1f}x faster)")

    lists = values.tolist()
    generic_panel = {"dates": dates, "symbols": list(df.columns), "data": lists}

    def generic():
        korva.evaluate(spec, {"big": generic_panel, "tiny": tiny})

    t_generic = best_of(3, generic)
    print(f"generic   korva from lists      {t_generic * 1e3:9.1f} ms   (lists already built)")
    print(f"ratio baseline / fast = {t_base / t_fast:.1f} (target >= 10); "
          f"with DatetimeIndex {t_base / t_fast_dt:.1f}")


if __name__ == "__main__":
    main()
