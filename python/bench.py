#!/usr/bin/env python3
"""Times lib_parse.evaluate against numexpr, numpy and pandas' DataFrame.eval
on float32 columns; every result is first checked against numpy in float32.

    python3 python/bench.py [--rows 1000000 10000000] [--repeat 5]

Prints, per text and row count, the best time of each engine in ms and its
time over lib_parse's: at one thread each (numexpr.set_num_threads(1),
lib_parse.set_num_threads(1)), then with numexpr's default threads against
lib_parse on every core. numpy is single-threaded; pandas uses numexpr.
"""
import argparse
import os
import platform
import sys
import time

import numpy as np

# This folder holds the package's sources without the built extension: the
# installed package, or the one PYTHONPATH names, is the one to time.
sys.path = [p for p in sys.path if os.path.abspath(p or ".") != os.path.dirname(os.path.abspath(__file__))]
import lib_parse  # noqa: E402

try:
    import numexpr
except ImportError:  # the table says so
    numexpr = None
try:
    import pandas
except ImportError:
    pandas = None


def sum64():
    """64 products of x, y and constants, added and subtracted."""
    terms = []
    for i in range(64):
        factor = "x*y*" if i % 4 == 3 else ("x*" if i % 2 == 0 else "y*")
        terms.append(("" if i == 0 else ("-" if i % 3 == 2 else "+")) + factor + repr(1.0 + (i + 1) / 128.0))
    return "".join(terms)


# name: (lib_parse text, numexpr/pandas text (None: pandas cannot), numpy function, exact in numpy)
CASES = {
    "x+y": ("x+y", "x+y", "x+y", lambda x, y: x + y, True),
    "ratio": ("(x+1)*(y-2)/(x*y+3)", "(x+1)*(y-2)/(x*y+3)", "(x+1)*(y-2)/(x*y+3)",
              lambda x, y: (x + 1) * (y - 2) / (x * y + 3), True),
    "cos": ("2*(x+1)-cos(y)", "2*(x+1)-cos(y)", "2*(x+1)-cos(y)", lambda x, y: 2 * (x + 1) - np.cos(y), False),
    "hypot": ("sqrt(x^2+y^2)", "sqrt(x**2+y**2)", "sqrt(x**2+y**2)", lambda x, y: np.sqrt(x * x + y * y), True),
    "select": ("x > 0 ? log(x) : 0", "where(x > 0, log(x), 0)", None,
               lambda x, y: np.where(x > 0, np.log(np.where(x > 0, x, 1)), np.float32(0)), False),
    "sum64": (sum64(), sum64(), sum64(), None, True),
}


def numpy_sum64(x, y):
    total = None
    for i in range(64):
        factor = (x * y if i % 4 == 3 else (x if i % 2 == 0 else y)) * np.float32(1.0 + (i + 1) / 128.0)
        total = factor if total is None else (total - factor if i % 3 == 2 else total + factor)
    return total


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def check(engine, name, got, expected, exact):
    """A mark for ENGINE's values of NAME against numpy's: "" when they
    agree (to the bit where the text is exact in float32), else what
    differs. lib_parse's must agree."""
    got = np.asarray(got)
    if got.dtype != np.float32:
        return f"{engine} gives {got.dtype}"
    if exact and np.array_equal(got, expected, equal_nan=True):
        return ""
    if not exact and np.allclose(got, expected, rtol=2e-6, atol=1e-6, equal_nan=True):
        return ""
    if engine == "lib_parse":
        raise SystemExit(f"{name}: lib_parse's values differ from numpy's")
    return f"{engine}: {np.count_nonzero(got != expected):,} rows differ"


def run(rows, repeat, threads_label, lp_threads, ne_threads):
    gen = np.random.default_rng(42)
    x = gen.uniform(-10, 10, rows).astype(np.float32)
    y = gen.uniform(0.5, 10, rows).astype(np.float32)
    frame = pandas.DataFrame({"x": x, "y": y}) if pandas else None
    lib_parse.set_num_threads(lp_threads)
    if numexpr:
        numexpr.set_num_threads(ne_threads)
    print(f"\n{rows:,} rows, {threads_label}: best of {repeat}, ms (time / lib_parse's)")
    print(f"{'text':8} {'lib_parse':>10} {'numexpr':>16} {'numpy':>16} {'pandas.eval':>16}")
    for name, (text, ne_text, pd_text, numpy_fn, exact) in CASES.items():
        numpy_fn = numpy_fn or numpy_sum64
        expected = numpy_fn(x, y)
        notes = []
        notes.append(check("lib_parse", name, lib_parse.evaluate(text, x=x, y=y), expected, exact))
        ours = best(lambda: lib_parse.evaluate(text, x=x, y=y), repeat)
        cells = [f"{ours * 1e3:10.2f}"]
        peers = []
        if numexpr:
            peers.append(("numexpr", lambda: numexpr.evaluate(ne_text, local_dict={"x": x, "y": y})))
        else:
            peers.append(("numexpr", None))
        peers.append(("numpy", lambda: numpy_fn(x, y)))
        peers.append(("pandas", (lambda: frame.eval(pd_text).to_numpy()) if frame is not None and pd_text else None))
        for engine, fn in peers:
            if fn is None:
                cells.append(f"{'n/a':>16}")
                continue
            try:
                notes.append(check(engine, name, fn(), expected, exact))
            except Exception as e:  # a peer that cannot compute the text: the table says so
                cells.append(f"{'fails':>16}")
                notes.append(f"{engine}: {type(e).__name__}: {e}")
                continue
            t = best(fn, repeat)
            cells.append(f"{t * 1e3:9.2f} ({t / ours:4.1f}x)")
        flagged = ",".join(n for n in notes if n)
        print(f"{name:8} " + " ".join(cells) + (f"  [{flagged}]" if flagged else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, nargs="+", default=[1_000_000, 10_000_000])
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    cores = len(os.sched_getaffinity(0))
    print(f"lib_parse {lib_parse.__version__}, numexpr {getattr(numexpr, '__version__', 'absent')}, "
          f"numpy {np.__version__}, pandas {getattr(pandas, '__version__', 'absent')}; "
          f"{platform.processor() or platform.machine()}, {cores} cores")
    default_ne = numexpr.detect_number_of_cores() if numexpr else 1
    for rows in args.rows:
        run(rows, args.repeat, "one thread each", 1, 1)
        run(rows, args.repeat, f"numexpr's default threads ({default_ne}), lib_parse on every core", 0, default_ne)


if __name__ == "__main__":
    main()
