"""Values: the same bits as the C library, from every kind of column."""
import random

import numpy as np
import pytest

import lib_parse
from conftest import bits


def random_text(rng, standard, depth=0):
    """A random formula over x and y; blanks only in the standard grammar,
    where they separate tokens (in the defined one a blank is part of a name)."""
    if depth > 3 or rng.random() < 0.25:
        return rng.choice(["x", "y", "2", "0.5", "3"])
    pick = rng.random()
    a = random_text(rng, standard, depth + 1)
    if pick < 0.2:
        return f"{rng.choice(['sin', 'cos', 'exp', 'sqrt', 'atan'])}({a})"
    b = random_text(rng, standard, depth + 1)
    op = rng.choice(["+", "-", "*", "/", "^"])
    gap = " " if standard else ""
    return f"({a}{gap}{op}{gap}{b})"


@pytest.mark.parametrize("syntax", ["standard", "defined"])
def test_rows_have_the_c_librarys_bits(clib, syntax):
    rng = random.Random(7)
    gen = np.random.default_rng(7)
    n = 3000  # past the bulk code's block and vector thresholds
    columns = {"x": gen.normal(0, 10, n).astype(np.float32), "y": gen.uniform(-3, 3, n).astype(np.float32)}
    columns["x"][:4] = [0.0, -0.0, np.inf, np.nan]
    p = lib_parse.Parser(syntax=syntax)
    for _ in range(12):
        text = random_text(rng, syntax == "standard")
        expected = clib.rows(syntax, text, columns)
        assert np.array_equal(bits(p.bulk(text, **columns)), bits(expected)), text
        assert np.array_equal(bits(lib_parse.evaluate(text, columns, syntax=syntax)), bits(expected)), text
        # One row at a time through calc, for a few rows.
        for i in (0, 3, 17, n - 1):
            p["x"], p["y"] = columns["x"][i], columns["y"][i]
            assert bits(p.calc(text, errors="nan")) == bits(expected[i]), (text, i)


def test_every_kind_of_column_gives_the_same_values():
    xs = [1, 2, 3, 250]
    expected = np.array([3, 5, 7, 501], dtype=np.float32)
    for column in (xs, tuple(xs), np.array(xs, dtype=np.int64), np.array(xs, dtype=np.uint8),
                   np.array(xs, dtype=np.float64), np.array(xs, dtype=np.float16),
                   np.array(xs, dtype=np.float32)[::-1][::-1], np.array([xs, xs])[0]):
        assert np.array_equal(lib_parse.evaluate("2*x + 1", x=column), expected), type(column)
    assert np.array_equal(lib_parse.evaluate("x", x=np.array([True, False])), [1.0, 0.0])
    # Strided and 2-D columns: read in their logical order, the shape kept.
    strided = np.arange(8, dtype=np.float32)[::2]
    assert np.array_equal(lib_parse.evaluate("x*10", x=strided), [0, 20, 40, 60])
    grid = np.arange(6, dtype=np.float32).reshape(2, 3)
    result = lib_parse.evaluate("x + y", x=grid, y=grid.T.copy().T)
    assert result.shape == (2, 3) and np.array_equal(result, grid * 2)


def test_scalars_broadcast_and_mappings_give_columns():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"x": [1.0, 2.0], "y": [10, 20], "label": ["a", "b"]})
    # Only the columns the text reads are converted: the strings are never looked at.
    assert np.array_equal(lib_parse.evaluate("x*a + y", frame, a=3), [13, 26])
    assert np.array_equal(lib_parse.evaluate("x + y", {"x": np.array([1, 2]), "y": 0.5}), [1.5, 2.5])
    # Keywords win over the mapping's columns of the same name.
    assert np.array_equal(lib_parse.evaluate("x", {"x": [1, 2]}, x=[5, 6]), [5, 6])
    assert lib_parse.evaluate("2*3").shape == ()
    assert float(lib_parse.evaluate("2*3")) == 6.0
    assert len(lib_parse.evaluate("x+1", x=np.empty(0))) == 0


def test_out_is_written_and_may_be_a_column():
    x = np.arange(5, dtype=np.float32)
    out = np.full(5, -1, dtype=np.float32)
    assert lib_parse.evaluate("x*x", x=x, out=out) is out
    assert np.array_equal(out, x * x)
    # In place, as numpy's out= allows: the column is read before it is written over.
    lib_parse.evaluate("x + 100 - x*0 + x", x=x, out=x)
    assert np.array_equal(x, np.arange(5) * 2 + 100)


def test_float32_columns_are_read_in_place():
    import tracemalloc
    n = 2_000_000
    x = np.ones(n, dtype=np.float32)
    x64 = np.ones(n, dtype=np.float64)
    out = np.empty(n, dtype=np.float32)
    lib_parse.evaluate("x + 1", x=x, out=out)  # a parser kept for the text
    tracemalloc.start()
    lib_parse.evaluate("x + 1", x=x, out=out)
    in_place = tracemalloc.get_traced_memory()[1]
    tracemalloc.reset_peak()
    lib_parse.evaluate("x + 1", x=x64, out=out)
    converted = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert in_place < n  # not a copy of the column's 8 MB
    assert converted >= 4 * n  # a float32 copy of the float64 column


def test_parser_keeps_its_state_between_calls():
    p = lib_parse.Parser(syntax="defined", math=False)
    assert p.syntax == "defined" and not p.math
    p["rate"] = 0.5
    p.func("f(a)", "a*rate")
    assert p.calc("f(4)") == 2.0
    p["rate"] = 2.0
    assert p.eval() == 8.0
    assert p.variables() == {"rate": 2.0}
    assert [f.name for f in p.functions()] == ["f"]
    p.remove_func("f")
    with pytest.raises(lib_parse.FormulaError):
        p.calc("f(4)")
    # The defined grammar reads a name by its prefix: x reads the column xy.
    assert np.array_equal(p.bulk("x*2", xy=[1, 2]), [2, 4])
    old = p.limit("text_bytes", 8)
    assert old == 262144 and p.limits["text_bytes"] == 8
    with pytest.raises(lib_parse.FormulaError):
        p.calc("1+1+1+1+1")
